#include "Platform/system/ExtendedAttributes.h"
#include "Scrivcore/BadgeXattr.h"
#include "Scrivcore/FinderCommentSync.h"
#include "Scrivcore/FinderTagSync.h"
#include "tests/support/FileFlags.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempHome.h"

#include <algorithm>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace scrivlet;

namespace fs = std::filesystem;
namespace xattr = ExtendedAttributes;
using Tags = std::vector<std::string>;

namespace {

const std::string cafeNFC = "Caf\xC3\xA9";
const std::string cafeNFD = "Cafe\xCC\x81";

std::string rawTags(const fs::path& file) {
    std::error_code error;
    return xattr::get(file, FinderTagSync::attributeName, error).value_or("<none>");
}

class FileAttributeSync : public ::testing::Test {
protected:
    ~FileAttributeSync() override {
        if (immutable) {
            setImmutable(file, false); // or the home cannot be removed
        }
    }
    // Root ignores permission bits, so as root the file gets the immutable flag; anyone else
    // gets a read-only file. Returns whether attribute writes are now refused.
    bool protectFile() {
        immutable = setImmutable(file, true);
        if (!immutable) {
            ::chmod(file.c_str(), 0444);
        }
        return static_cast<bool>(xattr::set(file, "user.probe", "x"));
    }
    bool loggedError() const {
        return std::ranges::any_of(log.records(),
                                   [](const LogRecord& r) { return r.level == LogLevel::Error; });
    }

    TempHome home;
    LogCapture log;
    fs::path file = home.makeFile("Documents/report.txt", "text");
    bool immutable = false;
};

TEST_F(FileAttributeSync, BadgeSwitchesToFlaggedAndClearsQuietly) {
    BadgeXattr::markAnnotated(file, true);
    EXPECT_EQ(BadgeXattr::badgeValue(file), "flagged");
    BadgeXattr::clearAnnotated(file);
    BadgeXattr::clearAnnotated(file);
    EXPECT_EQ(BadgeXattr::badgeValue(file), std::nullopt);
    EXPECT_TRUE(log.records().empty());
}

TEST_F(FileAttributeSync, TagsLiveNextToTheUsersOwn) {
    ASSERT_FALSE(xattr::set(file, FinderTagSync::attributeName, "draft," + cafeNFD));

    // The user's decomposed Café is the same tag: neither duplicated nor taken over.
    Tags owned = FinderTagSync::syncTags({cafeNFC, "urgent", "a,b", "", "urgent"}, {}, file);
    EXPECT_EQ(owned, Tags{"urgent"});
    EXPECT_EQ(rawTags(file), "draft," + cafeNFD + ",urgent");

    owned = FinderTagSync::syncTags({"review", "urgent", cafeNFC}, owned, file);
    EXPECT_EQ(owned, (Tags{"review", "urgent"}));
    owned = FinderTagSync::syncTags({"review"}, owned, file);
    EXPECT_EQ(owned, Tags{"review"});
    EXPECT_EQ(rawTags(file), "draft," + cafeNFD + ",review");

    FinderTagSync::clearSyncedTags(owned, file);
    EXPECT_EQ(FinderTagSync::readTags(file), (Tags{"draft", cafeNFD}));

    const fs::path other = home.makeFile("Documents/other.txt");
    FinderTagSync::clearSyncedTags(FinderTagSync::syncTags({"x"}, {}, other), other);
    EXPECT_EQ(rawTags(other), "<none>") << "an empty tag list is no attribute";
}

TEST_F(FileAttributeSync, CommentRoundTripNeverTouchesTheUsersComment) {
    FinderCommentSync::syncComment("first", file);
    FinderCommentSync::syncComment("second", file);
    EXPECT_EQ(FinderCommentSync::readComment(file), "second");
    FinderCommentSync::syncComment("", file);
    EXPECT_EQ(FinderCommentSync::readComment(file), std::nullopt);
    std::error_code error;
    EXPECT_EQ(xattr::get(file, FinderCommentSync::markerAttributeName, error), std::nullopt);

    // The user edits the comment we wrote: from then on it is theirs.
    FinderCommentSync::syncComment("ours", file);
    ASSERT_FALSE(xattr::set(file, FinderCommentSync::attributeName, "ours, edited"));
    FinderCommentSync::syncComment("new note", file);
    FinderCommentSync::clearComment(file);
    EXPECT_EQ(FinderCommentSync::readComment(file), "ours, edited");
    EXPECT_FALSE(log.messages("attributes").empty());
    EXPECT_FALSE(loggedError());
}

TEST_F(FileAttributeSync, CommentTooBigForTheFileLeavesItAsItWas) {
    FinderCommentSync::syncComment("small", file);
    FinderCommentSync::syncComment(std::string(64 * 1024, 'n'), file);
    EXPECT_EQ(FinderCommentSync::readComment(file), "small");
    EXPECT_TRUE(log.contains("no room"));
    FinderCommentSync::clearComment(file);
    EXPECT_EQ(FinderCommentSync::readComment(file), std::nullopt) << "still recognised as ours";
}

TEST_F(FileAttributeSync, CommentWithoutRoomForItsMarkerIsTakenBack) {
    // Find the largest comment the file takes, then fill the rest so no marker can follow it.
    std::size_t fits = 0, tooBig = 64 * 1024;
    while (tooBig - fits > 1) {
        const std::size_t middle = (fits + tooBig) / 2;
        const bool ok =
            !xattr::set(file, FinderCommentSync::attributeName, std::string(middle, 'c'));
        (ok ? fits : tooBig) = middle;
    }
    if (tooBig == 64 * 1024) {
        GTEST_SKIP() << "this file system has no small per-file attribute space";
    }
    int fillers = 0;
    for (std::size_t size = 4096;; size /= 2) {
        while (fillers < 1000 &&
               !xattr::set(file, "user.f" + std::to_string(fillers), std::string(size, 'f'))) {
            ++fillers;
        }
        if (size == 0) {
            break;
        }
    }
    ASSERT_FALSE(xattr::remove(file, FinderCommentSync::attributeName));

    FinderCommentSync::syncComment(std::string(fits, 'c'), file);
    EXPECT_EQ(FinderCommentSync::readComment(file), std::nullopt);
    EXPECT_TRUE(log.contains("comment marker"));
}

TEST_F(FileAttributeSync, UnwritableFileStaysAsItWasAndLogs) {
    BadgeXattr::markAnnotated(file, false);
    ASSERT_FALSE(xattr::set(file, FinderTagSync::attributeName, "mine,ours"));
    if (!protectFile()) {
        GTEST_SKIP() << "cannot make the file refuse attribute writes here";
    }
    BadgeXattr::markAnnotated(file, false);
    EXPECT_FALSE(loggedError()) << "an unchanged badge must not be written again";

    BadgeXattr::markAnnotated(file, true);
    EXPECT_EQ(FinderTagSync::syncTags({"new"}, {"ours"}, file), Tags{"ours"});
    FinderTagSync::clearSyncedTags({"ours"}, file);
    FinderCommentSync::syncComment("note", file);
    EXPECT_EQ(BadgeXattr::badgeValue(file), "annotated");
    EXPECT_EQ(rawTags(file), "mine,ours");
    EXPECT_EQ(FinderCommentSync::readComment(file), std::nullopt);
    EXPECT_EQ(log.messages("attributes").size(), 4u);
}

TEST_F(FileAttributeSync, MissingFileOrFileSystemWithoutAttributesOnlyLogs) {
    // procfs takes no user attributes.
    const std::pair<fs::path, std::string> cases[] = {
        {home.path() / "gone.txt", "No such file"},
        {"/proc/version", "not supported on this file system"}};
    for (const auto& [target, reason] : cases) {
        log.clear();
        EXPECT_NO_THROW({
            EXPECT_EQ(FinderTagSync::syncTags({"a"}, {"b"}, target), Tags{"b"});
            FinderTagSync::clearSyncedTags({"b"}, target);
            FinderCommentSync::syncComment("note", target);
            FinderCommentSync::clearComment(target);
            BadgeXattr::markAnnotated(target, true);
            BadgeXattr::clearAnnotated(target);
        });
        EXPECT_TRUE(log.contains(reason)) << target;
        for (const auto& message : log.messages("attributes")) {
            EXPECT_EQ(message.find(target.string()), std::string::npos) << "paths stay private";
        }
    }
}

} // namespace
