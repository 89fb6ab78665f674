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
        // What resolves into the home folder is accepted, as its resolved path.
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

// A link put in the file's place between the check and the command must not lead the
// command's attribute writes to the file the link points at.
TEST_F(URLPathSafety, ALinkSwappedInAfterTheCheckCannotRedirectTheCommand) {
    for (const std::string command : {"annotate", "remove"}) {
        SCOPED_TRACE(command);
        ASSERT_FALSE(ExtendedAttributes::set(secret, BadgeXattr::attributeName, "flagged"));
        // A comment as Scrivcore writes it, marker and all: one a removal would take away.
        ASSERT_FALSE(ExtendedAttributes::set(secret, FinderCommentSync::attributeName, "ours"));
        ASSERT_FALSE(ExtendedAttributes::set(secret, FinderCommentSync::markerAttributeName,
                                             FinderCommentSync::commentDigest("ours")));
        const fs::path file = session.home().makeFile("Documents/swapped.txt", "s");
        const CommandTarget target = checkCommandTarget(file.string());
        ASSERT_TRUE(target.accepted);

        fs::remove(file);
        fs::create_symlink(secret, file);
        app().carryOutURLCommand(command, target.resolvedPath);

        EXPECT_EQ(BadgeXattr::badgeValue(secret), "flagged");
        EXPECT_EQ(FinderCommentSync::readComment(secret), "ours");
        fs::remove(file);
    }
}

} // namespace
