// Scrivcore writes the badge, tags and comment of the file a record names, reached without
// following a symbolic link at any step: from the home folder's descriptor for a file in the
// home folder, from the root for any other. A link swapped in on the way since the path was
// checked or recorded gets nothing written through it.
#include "Platform/system/ExtendedAttributes.h"
#include "Scrivcore/AnnotatedFileOpener.h"
#include "Scrivcore/BadgeXattr.h"
#include "Scrivcore/FinderCommentSync.h"
#include "Scrivcore/FinderTagSync.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempHome.h"
#include "tests/support/URLCommandSupport.h"
#include "tests/support/WithoutSystemCall.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>

using namespace scrivlet;

namespace fs = std::filesystem;
namespace xattr = ExtendedAttributes;

namespace {

// Any attribute write or removal shows in the file's change time, or in its attributes.
std::string stateOf(const fs::path& file) {
    struct stat status {};
    ::lstat(file.c_str(), &status);
    std::string state =
        std::to_string(status.st_ctim.tv_sec) + "." + std::to_string(status.st_ctim.tv_nsec);
    std::error_code error;
    for (const std::string& name : xattr::list(file, error)) {
        state += " " + name + "=" + xattr::get(file, name, error).value_or("");
    }
    return state;
}

// A badge, a comment and a tag as Scrivcore writes them: what removals would take away.
void markAsOurs(const fs::path& file) {
    ASSERT_FALSE(xattr::set(file, BadgeXattr::attributeName, BadgeXattr::flaggedValue));
    ASSERT_FALSE(xattr::set(file, FinderCommentSync::attributeName, "ours"));
    ASSERT_FALSE(xattr::set(file, FinderCommentSync::markerAttributeName,
                            FinderCommentSync::commentDigest("ours")));
    ASSERT_FALSE(xattr::set(file, FinderTagSync::attributeName, "ours"));
}

// Every write Scrivcore makes on a record's file.
void writeEverything(const fs::path& file) {
    BadgeXattr::markAnnotated(file, false);
    AnnotatedFileOpener files;
    BadgeXattr::markAnnotatedIfPresent(file, false, files);
    BadgeXattr::clearAnnotated(file);
    FinderCommentSync::syncComment("a note", file);
    FinderCommentSync::clearComment(file);
    FinderTagSync::syncTags({"new"}, {"ours"}, file);
    FinderTagSync::clearSyncedTags({"ours"}, file);
}

class LinkSafeAttributes : public ::testing::Test {
protected:
    TempHome home;
    LogCapture log;
    const fs::path realHome = fs::canonical(home.path());
    SiblingFolder outside{realHome, "-outside"};
};

// The path's folders and the file itself, one at a time, are put aside and a link to the same
// name in an identical tree outside takes their place; files below the home folder and files
// elsewhere alike.
TEST_F(LinkSafeAttributes, ALinkSwappedInAtAnyComponentGetsNothingWritten) {
    SiblingFolder elsewhere{realHome, "-elsewhere"};
    const fs::path path = "Documents/deep/report.txt";
    const fs::path target = outside.makeFile(path.string(), "outside");
    markAsOurs(target);
    for (const fs::path& root : {realHome, elsewhere.path()}) {
        SCOPED_TRACE(root == realHome ? "below the home folder" : "outside the home folder");
        const fs::path file = root / path;
        fs::create_directories(file.parent_path());
        std::ofstream(file) << "inside";
        fs::path prefix;
        for (const auto& component : path) {
            prefix /= component;
            SCOPED_TRACE("link at " + prefix.string());
            const std::string before = stateOf(target);
            const fs::path aside = (root / prefix).string() + ".aside";
            fs::rename(root / prefix, aside);
            fs::create_symlink(outside.path() / prefix, root / prefix);
            log.clear();

            writeEverything(file);
            EXPECT_EQ(stateOf(target), before);
            EXPECT_TRUE(log.contains("a symbolic link on the way to the file is not followed"));

            fs::remove(root / prefix);
            fs::rename(aside, root / prefix);
        }
        // With the links gone, the same writes reach the file.
        BadgeXattr::markAnnotated(file, true);
        EXPECT_EQ(BadgeXattr::badgeValue(file), "flagged");
    }
}

// What a record saved by an earlier version may name: a link left in the file's place, also
// one that led nowhere then and leads out of the home folder now.
TEST_F(LinkSafeAttributes, ALinkInTheFilesPlaceIsNeverWrittenThrough) {
    const fs::path later = outside.path() / "later.txt";
    const fs::path dangle = realHome / "dangle";
    fs::create_symlink(later, dangle);
    writeEverything(dangle);
    EXPECT_FALSE(fs::exists(later)) << "nothing was created";

    std::ofstream(later) << "appeared";
    const std::string before = stateOf(later);
    writeEverything(dangle);
    EXPECT_EQ(stateOf(later), before);
}

TEST_F(LinkSafeAttributes, AHomeFolderReachedThroughALinkIsTheUsersOwn) {
    const fs::path file = home.makeFile("Documents/a.txt", "a");
    const fs::path linkedHome = outside.path() / "home-link";
    fs::create_directory_symlink(realHome, linkedHome);
    const ScopedEnvironment homeVariable("HOME", linkedHome.string());

    // By the home folder's path as given, and as resolved: both lead to the same folder.
    BadgeXattr::markAnnotated(linkedHome / "Documents/a.txt", true);
    EXPECT_EQ(BadgeXattr::badgeValue(realHome / "Documents/a.txt"), "flagged");
    FinderCommentSync::syncComment("note", realHome / "Documents/a.txt");
    EXPECT_EQ(FinderCommentSync::readComment(linkedHome / "Documents/a.txt"), "note");
    EXPECT_TRUE(log.records().empty());
}

// A hard link is not a link to something else: it is the file itself under one more name. A
// file reachable by a name in the home folder is the user's own, whatever other names it has
// elsewhere, so it is annotated like any other, and the attribute shows under every name.
TEST_F(LinkSafeAttributes, AHardLinkInTheHomeFolderIsTheFileItself) {
    const fs::path original = outside.makeFile("shared.txt", "one file, two names");
    const fs::path inHome = realHome / "shared.txt";
    fs::create_hard_link(original, inHome);

    BadgeXattr::markAnnotated(inHome, true);
    FinderTagSync::syncTags({"work"}, {}, inHome);
    EXPECT_EQ(BadgeXattr::badgeValue(original), "flagged");
    EXPECT_EQ(FinderTagSync::readTags(original), std::vector<std::string>{"work"});
    BadgeXattr::clearAnnotated(inHome);
    EXPECT_EQ(BadgeXattr::badgeValue(original), std::nullopt);
}

// Opening a FIFO for reading waits for a writer, and opening a device can act on it: neither
// is opened, and the call comes back at once with a line in the log.
TEST_F(LinkSafeAttributes, FIFOsAndDevicesAreLeftAlone) {
    const fs::path fifo = realHome / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const fs::path& special : {fifo, fs::path("/dev/null")}) {
        SCOPED_TRACE(special.string());
        log.clear();
        BadgeXattr::markAnnotated(special, true);
        FinderCommentSync::clearComment(special);
        EXPECT_TRUE(log.contains("neither a regular file nor a folder"));
    }
}

// The opener keeps the folder of the last file open for the next one. What it opens from that
// folder is still the folder it found without links: a link swapped in for the folder's name
// meanwhile leads nowhere, and the file it reaches is still the one in the home folder.
TEST_F(LinkSafeAttributes, AFolderKeptOpenIsTheOneFoundWithoutLinks) {
    const fs::path first = home.makeFile("race/f1.txt", "1");
    const fs::path second = home.makeFile("race/f2.txt", "2");
    const fs::path decoy = outside.makeFile("f2.txt", "outside");
    AnnotatedFileOpener files;
    std::error_code error;
    ASSERT_TRUE(files.open(first, error).isValid()) << error.message();

    fs::rename(realHome / "race", realHome / "race.moved");
    fs::create_directory_symlink(outside.path(), realHome / "race");
    const FileHandle opened = files.open(second, error);
    ASSERT_TRUE(opened.isValid()) << error.message();
    struct stat reached {
    }, moved{};
    ASSERT_EQ(::fstat(opened.get(), &reached), 0);
    ASSERT_EQ(::stat((realHome / "race.moved/f2.txt").c_str(), &moved), 0);
    EXPECT_EQ(reached.st_ino, moved.st_ino);

    AnnotatedFileOpener fresh;
    EXPECT_FALSE(fresh.open(second, error).isValid());
    EXPECT_FALSE(AnnotatedFileOpener::isMissing(error)) << "a link is something there";
    for (const fs::path& missing : {realHome / "race.moved/missing.txt",
                                    realHome / "race.moved/f1.txt/x", realHome / "gone/f.txt"}) {
        EXPECT_FALSE(fresh.open(missing, error).isValid());
        EXPECT_TRUE(AnnotatedFileOpener::isMissing(error)) << missing;
    }
    EXPECT_EQ(BadgeXattr::badgeValue(decoy), std::nullopt);
}

// The launch sync reads every badge first, where the kernel can without opening the file
// (getxattrat, Linux 6.13), else through the opened file; both ways give the same results:
// a missing badge written, a right one left untouched, a missing file passed over silently,
// a link in a file's place refused.
TEST_F(LinkSafeAttributes, TheSyncReadsBadgesWithOrWithoutGetxattrat) {
    const fs::path unbadged = home.makeFile("Documents/unbadged.txt", "u");
    const fs::path badged = home.makeFile("Documents/badged.txt", "b");
    const fs::path linked = realHome / "Documents/linked.txt";
    const fs::path decoy = outside.makeFile("decoy.txt", "d");
    fs::create_symlink(decoy, linked);
    ASSERT_FALSE(xattr::set(badged, BadgeXattr::attributeName, BadgeXattr::annotatedValue));
    // Returns how many results are wrong.
    const auto syncAndCount = [&] {
        xattr::remove(unbadged, BadgeXattr::attributeName);
        const std::string untouched = stateOf(badged);
        log.clear();
        AnnotatedFileOpener files;
        for (const fs::path& file : {unbadged, badged, linked, realHome / "Documents/gone.txt"}) {
            BadgeXattr::markAnnotatedIfPresent(file, file == unbadged, files);
        }
        std::error_code error;
        return (xattr::get(unbadged, BadgeXattr::attributeName, error) != "flagged") +
               (stateOf(badged) != untouched) +
               (stateOf(decoy).find("user.") != std::string::npos) +
               (log.messages("attributes").size() != 1) + !log.contains("not followed");
    };
    EXPECT_EQ(syncAndCount(), 0);

#ifdef SYS_getxattrat
    constexpr long getxattrat = SYS_getxattrat;
#else
    constexpr long getxattrat = 464; // Linux 6.13, after these headers
#endif
    const auto wrong = runWithoutSystemCall(getxattrat, syncAndCount);
    if (!wrong) {
        GTEST_SKIP() << "cannot take getxattrat away here (seccomp)";
    }
    EXPECT_EQ(*wrong, 0) << "results wrong without getxattrat";
}

} // namespace
