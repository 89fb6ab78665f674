// Which paths a URL command may act on: only what lies in the home folder, judged after every
// symbolic link is resolved, and only what is checked is acted on.
#include "Platform/Services.h"
#include "Platform/base/RunLoop.h"
#include "Platform/system/ExtendedAttributes.h"
#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/BadgeXattr.h"
#include "Scrivcore/FinderCommentSync.h"
#include "Scrivlet/AppDelegate.h"
#include "Scrivlet/CommandTarget.h"
#include "tests/support/AppSession.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempHome.h"
#include "tests/support/URLCommandSupport.h"

#include <fstream>
#include <gtest/gtest.h>

using namespace scrivlet;

namespace fs = std::filesystem;

namespace {

const std::string rejected = "Rejected URL: path outside home or doesn't exist: ";

class URLPathSafety : public ::testing::Test {
protected:
    AppSession session;
    const fs::path home = fs::canonical(session.home().path());
    // Folders beside the home: one plainly outside, one whose name extends the home's.
    SiblingFolder outside{home, "-outside"};
    SiblingFolder sibling{home, "-sibling"};
    const fs::path fileA = session.home().makeFile("Documents/a.txt", "a");
    const fs::path secret = outside.makeFile("secret.txt", "not yours");

    void SetUp() override {
        sibling.makeFile("file.txt");
        session.launch();
    }
    AppDelegate& app() { return *session.delegate(); }
    std::string lastLine() { return session.log().messages("app").back(); }
    bool hasRecord(const fs::path& path) { return app().store->fetch(path.string()).has_value(); }
};

struct SafetyCase {
    std::string name;
    std::string pathValue;
    bool encodeEverything = false; // "/" and "." sent as %2F and %2E too
    std::optional<fs::path> currentDirectory;
    fs::path target; // what the path resolves to
    bool accepted = false;
};

TEST_F(URLPathSafety, ActsOnlyOnExistingFilesInTheHomeFolderAfterResolvingLinks) {
    fs::create_symlink(secret, home / "Documents/escape.txt");
    fs::create_symlink(outside.path(), home / "Documents/out");
    fs::create_symlink(fileA, home / "a-link.txt");
    fs::create_symlink(outside.path() / "later.txt", home / "dangle");
    fs::create_symlink(home / "Documents/missing.txt", home / "dangle-in");
    fs::create_symlink("loop-2", home / "loop-1");
    fs::create_symlink("loop-1", home / "loop-2");
    fs::create_symlink("../../" + outside.path().filename().string() + "/secret.txt",
                       home / "Documents/up");
    fs::create_symlink("a-link.txt", home / "chain");
    const std::string climbOut = "/Documents/../../" + outside.path().filename().string();
    const std::vector<SafetyCase> cases = {
        {"link inside home to a file outside",
         (home / "Documents/escape.txt").string(),
         false,
         {},
         secret},
        {"path through a link to a folder outside",
         (home / "Documents/out/secret.txt").string(),
         false,
         {},
         secret},
        {"dot-dot climbing out", home.string() + climbOut + "/secret.txt", false, {}, secret},
        {"sibling whose name extends the home's",
         (sibling.path() / "file.txt").string(),
         false,
         {},
         sibling.path() / "file.txt"},
        {"missing file inside home",
         (home / "Documents/missing.txt").string(),
         false,
         {},
         home / "Documents/missing.txt"},
        {"encoded separators and dots climbing out",
         home.string() + climbOut + "/secret.txt",
         true,
         {},
         secret},
        {"NUL after the name of a file that exists",
         fileA.string() + std::string(1, '\0') + ".png",
         false,
         {},
         fileA.string() + "%00.png"},
        {"over-long path",
         home.string() + "/" + std::string(5000, 'x') + "/a.txt",
         false,
         {},
         home.string() + "/" + std::string(5000, 'x') + "/a.txt"},
        {"relative path from a folder outside", "secret.txt", false, outside.path(), secret},
        {"relative path climbing out", "../" + outside.path().filename().string() + "/secret.txt",
         false, home, secret},
        {"dangling link to a missing file outside",
         (home / "dangle").string(),
         false,
         {},
         outside.path() / "later.txt"},
        {"dangling link to a missing file inside",
         (home / "dangle-in").string(),
         false,
         {},
         home / "Documents/missing.txt"},
        {"dangling link on the way",
         (home / "dangle/x.txt").string(),
         false,
         {},
         outside.path() / "later.txt/x.txt"},
        {"loop of links", (home / "loop-1").string(), false, {}, home / "loop-1"},
        {"relative link climbing out", (home / "Documents/up").string(), false, {}, secret},
        // What resolves into the home folder is accepted, as its resolved path.
        {"link to a link to a file inside", (home / "chain").string(), false, {}, fileA, true},
        {"relative path from a folder inside", "a.txt", false, home / "Documents", fileA, true},
        {"encoded separators and dots staying inside",
         (home / "Documents/./../Documents/a.txt").string(),
         true,
         {},
         fileA,
         true},
        {"link inside home to a file inside",
         (home / "a-link.txt").string(),
         false,
         {},
         fileA,
         true},
        {"the home folder itself", home.string() + "/", false, {}, home, true},
    };
    for (const SafetyCase& row : cases) {
        SCOPED_TRACE(row.name);
        std::optional<ScopedCurrentDirectory> currentDirectory;
        if (row.currentDirectory) {
            currentDirectory.emplace(*row.currentDirectory);
        }
        const Date lockBefore = app().selectionLockedUntil;
        const std::string url = commandURL("annotate", row.pathValue, row.encodeEverything);
        session.deliverURLs({*URL::fromString(url)});

        if (row.accepted) {
            EXPECT_EQ(lastLine(), "Opened annotation editor for " + row.target.filename().string());
            EXPECT_TRUE(hasRecord(row.target));
            EXPECT_EQ(app().selectionLockedUntil, RunLoop::main().now() + std::chrono::seconds(1));
        } else {
            EXPECT_EQ(lastLine(), rejected + row.target.string());
            EXPECT_FALSE(hasRecord(row.target));
            EXPECT_EQ(app().selectionLockedUntil, lockBefore) << "no state changes";
            EXPECT_EQ(BadgeXattr::badgeValue(secret), std::nullopt);
        }
    }
}

TEST_F(URLPathSafety, AnEmptyPathValueIsIgnoredLikeAMissingOne) {
    const std::size_t before = session.log().messages("app").size();
    session.deliverURLs({*URL::fromString("scrivlet://annotate?path=")});
    EXPECT_EQ(session.log().messages("app").size(), before + 1);
    EXPECT_EQ(lastLine(), "URL received: scrivlet://annotate?path=");
}

TEST_F(URLPathSafety, AHomeThatIsASymbolicLinkIsComparedByWhereItLeads) {
    SiblingFolder realHome{home, "-real"};
    const fs::path file = realHome.makeFile("notes.txt", "n");
    const fs::path linkedHome = home.string() + "-linked";
    fs::create_symlink(realHome.path(), linkedHome);
    const ScopedEnvironment homeVariable("HOME", linkedHome.string());

    session.deliverURLs({*URL::fromString(commandURL("annotate", (linkedHome / "notes.txt")))});
    EXPECT_EQ(lastLine(), "Opened annotation editor for notes.txt");
    EXPECT_TRUE(hasRecord(file)) << "the record is keyed by the resolved path";

    session.deliverURLs({*URL::fromString(commandURL("annotate", fileA))});
    EXPECT_EQ(lastLine(), rejected + fileA.string()) << "the old home is outside now";
    fs::remove(linkedHome);
}

// A link put in the place of the file, or of any folder on its way, between the check and
// the command must not lead the command's attribute writes to what the link points at.
TEST_F(URLPathSafety, ALinkSwappedInAfterTheCheckCannotRedirectTheCommand) {
    const fs::path path = "Documents/swap/swapped.txt";
    const fs::path decoy = outside.makeFile(path.string(), "outside");
    // A badge of the other kind, and a comment as Scrivcore writes it, marker and all: what
    // an annotation would change and a removal would take away.
    ASSERT_FALSE(ExtendedAttributes::set(decoy, BadgeXattr::attributeName, "flagged"));
    ASSERT_FALSE(ExtendedAttributes::set(decoy, FinderCommentSync::attributeName, "ours"));
    ASSERT_FALSE(ExtendedAttributes::set(decoy, FinderCommentSync::markerAttributeName,
                                         FinderCommentSync::commentDigest("ours")));
    const fs::path file = session.home().makeFile(path.string(), "s");
    for (const std::string command : {"annotate", "remove"}) {
        fs::path prefix;
        for (const auto& component : path) {
            prefix /= component;
            SCOPED_TRACE(command + " with a link at " + prefix.string());
            if (command == "remove") { // a record, so that its comment and tags are cleared
                session.deliverURLs({*URL::fromString(commandURL("annotate", file))});
                ASSERT_TRUE(hasRecord(file));
            }
            const CommandTarget target = checkCommandTarget(file.string());
            ASSERT_TRUE(target.accepted);

            const fs::path aside = (home / prefix).string() + ".aside";
            fs::rename(home / prefix, aside);
            fs::create_symlink(outside.path() / prefix, home / prefix);
            app().carryOutURLCommand(command, target.resolvedPath);
            fs::remove(home / prefix);
            fs::rename(aside, home / prefix);

            EXPECT_EQ(BadgeXattr::badgeValue(decoy), "flagged");
            EXPECT_EQ(FinderCommentSync::readComment(decoy), "ours");
            EXPECT_TRUE(session.log().contains("not followed"));
        }
    }
}

// A link that leads nowhere is no file, in the home folder or out of it: it is refused, and
// no record is left whose badge a later launch would write where the link leads by then.
TEST_F(URLPathSafety, ADanglingLinkIsRefusedAndLeavesNothingToBadgeLater) {
    const fs::path later = outside.path() / "later.txt";
    const fs::path missing = home / "Documents/missing.txt";
    fs::create_symlink(later, home / "dangle");
    fs::create_symlink(missing, home / "dangle-in");
    for (const auto& [link, leadsTo] :
         {std::pair(home / "dangle", later), std::pair(home / "dangle-in", missing)}) {
        SCOPED_TRACE(link.string());
        session.deliverURLs({*URL::fromString(commandURL("annotate", link))});
        EXPECT_EQ(lastLine(), rejected + leadsTo.string());
        EXPECT_FALSE(hasRecord(link));
        EXPECT_FALSE(hasRecord(leadsTo));

        std::ofstream(leadsTo) << "appeared";
        app().syncBadgeXattrs();
        EXPECT_EQ(lastLine(), "Synced badge xattrs for 0 annotations");
        EXPECT_EQ(BadgeXattr::badgeValue(leadsTo), std::nullopt);
    }
}

} // namespace
