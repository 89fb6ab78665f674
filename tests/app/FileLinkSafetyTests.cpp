// The app's own later writes on annotated files, the panel's saves and the launch's badge
// sync, never follow a link put on a record's path since it was recorded: the badge, comment
// and tags land on the file in the home folder or nowhere.
#include "Platform/backends/simulated/SimulatedDesktop.h"
#include "Platform/control/DesktopControl.h"
#include "Platform/system/ExtendedAttributes.h"
#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/BadgeXattr.h"
#include "Scrivcore/FinderCommentSync.h"
#include "Scrivlet/AppDelegate.h"
#include "tests/support/AppSession.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempHome.h"
#include "tests/support/URLCommandSupport.h"

#include <fstream>
#include <gtest/gtest.h>

using namespace scrivlet;

namespace fs = std::filesystem;

namespace {

class FileLinkSafety : public ::testing::Test {
protected:
    AppSession session;
    const fs::path home = fs::canonical(session.home().path());
    SiblingFolder outside{home, "-outside"};

    AppDelegate& app() { return *session.delegate(); }
    void seed(const fs::path& path, Annotation::Status status) {
        Annotation record = Annotation::forFile(path.string(), Date(std::chrono::hours(1)));
        record.status = status;
        AnnotationStore(AnnotationStore::defaultPath()).save(record);
    }
    static std::optional<std::string> badgeOf(const fs::path& file) {
        std::error_code error;
        return ExtendedAttributes::get(file, BadgeXattr::attributeName, error);
    }
};

TEST_F(FileLinkSafety, APanelSaveAfterTheFileWasReplacedByALinkWritesNothingThroughIt) {
    const fs::path file = session.home().makeFile("Documents/report.txt", "r");
    const fs::path decoy = outside.makeFile("decoy.txt", "outside");
    session.simulatedDesktop().finder().openWindow(CGRect(300, 150, 700, 500));
    session.launch();
    session.desktop().selectInFinder(file.string());
    session.desktop().settle();
    session.advance(0.2);

    fs::remove(file);
    fs::create_symlink(decoy, file);
    ASSERT_TRUE(session.desktop().chooseStatusInPanel("flagged"));
    session.advance(3);

    EXPECT_EQ(app().store->fetch(file.string())->status, Annotation::Status::flagged)
        << "the record is stored all the same";
    EXPECT_EQ(badgeOf(decoy), std::nullopt);
    EXPECT_TRUE(session.log().contains("a symbolic link on the way to the file is not followed"));
}

// Records of files whose folder, or whose own name, is a link to outside the home folder by
// the next launch, and the record an earlier version made of a link that led nowhere then.
TEST_F(FileLinkSafety, TheLaunchBadgeSyncNeverFollowsALinkOnARecordsPath) {
    const fs::path plain = session.home().makeFile("Documents/plain.txt", "p");
    const fs::path inFolder = home / "Projects/plan.txt";
    const fs::path replaced = home / "Documents/replaced.txt";
    const fs::path dangle = home / "dangle";
    const fs::path later = outside.path() / "later.txt";
    seed(plain, Annotation::Status::flagged);
    seed(inFolder, Annotation::Status::none);
    seed(replaced, Annotation::Status::flagged);
    seed(dangle, Annotation::Status::none);

    const fs::path decoyInFolder = outside.makeFile("plan.txt", "outside");
    const fs::path decoy = outside.makeFile("replaced.txt", "outside");
    fs::create_directory_symlink(outside.path(), home / "Projects");
    fs::create_symlink(decoy, replaced);
    fs::create_symlink(later, dangle);
    std::ofstream(later) << "appeared";
    session.launch();

    EXPECT_TRUE(session.log().contains("Synced badge xattrs for 4 annotations"));
    EXPECT_EQ(badgeOf(plain), BadgeXattr::flaggedValue);
    for (const fs::path& outsideFile : {decoyInFolder, decoy, later}) {
        EXPECT_EQ(badgeOf(outsideFile), std::nullopt) << outsideFile;
    }
}

} // namespace
