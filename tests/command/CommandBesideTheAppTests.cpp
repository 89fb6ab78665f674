// The scrivlet program, run as a second process while the app runs on the simulated desktop
// beside the file-manager extension: what it writes reaches the panel and the emblems
// through the badge notice alone, and racing an edit typed in the panel loses neither side.
#include "Platform/backends/simulated/SimulatedDesktop.h"
#include "Platform/backends/simulated/SimulatedFinder.h"
#include "Platform/base/URL.h"
#include "Platform/control/DesktopControl.h"
#include "Platform/desktop/FinderSyncController.h"
#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/PanelViewModel.h"
#include "Scrivlet/AppDelegate.h"
#include "ScrivletFinderSync/FinderSyncExtension.h"
#include "tests/support/AppSession.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>

using namespace scrivlet;

namespace {

using Tags = std::vector<std::string>;

class CommandBesideTheApp : public ::testing::Test {
protected:
    AppSession session;
    const std::string file = session.home().makeFile("Documents/report.txt").string();
    std::shared_ptr<FinderSyncExtension> extension;

    PanelViewModel& model() { return *session.delegate()->viewModel; }
    const Annotation& shown() { return *model().annotation(); }
    std::string emblem() {
        return FinderSyncController::defaultController().badgeIdentifier(URL::fileURL(file));
    }

    void SetUp() override {
        SimulatedFinder& finder = session.simulatedDesktop().finder();
        finder.openWindow(CGRect(300, 150, 700, 500));
        finder.select({file});
        session.launch();
        extension = FinderSyncExtension::make();
        session.advance(0.2);
        ASSERT_TRUE(model().isVisible());
    }

    static pid_t start(const std::vector<std::string>& args) {
        return startProgram(SCRIVLET_COMMAND, args);
    }
    static int scrivlet(const std::vector<std::string>& args) { return waitForChild(start(args)); }
};

TEST_F(CommandBesideTheApp, ASetShowsInThePanelAndTheEmblemOnceTheNoticeIsHandled) {
    ASSERT_EQ(scrivlet({"set", file, "--status", "flagged", "--rating", "4", "--tag", "Q3"}), 0);
    EXPECT_EQ(emblem(), "") << "nothing changes before the notice is handled";
    session.desktop().settle();
    EXPECT_EQ(shown().status, Annotation::Status::flagged);
    EXPECT_EQ(shown().rating, 4);
    EXPECT_EQ(shown().tags, Tags{"Q3"});
    EXPECT_TRUE(session.log().contains("Panel shows a change made elsewhere"));
    EXPECT_EQ(emblem(), "flagged");

    ASSERT_EQ(scrivlet({"set", file, "--status", "approved"}), 0);
    session.desktop().settle();
    EXPECT_EQ(emblem(), "annotated");
    EXPECT_EQ(shown().status, Annotation::Status::approved);
}

// The command runs while the panel's coalesced save falls due, so either may reach the store
// first; whichever does, everything both acknowledged is stored and shown.
TEST_F(CommandBesideTheApp, ARacingSetAndAnEditTypedInThePanelBothSurvive) {
    model().editAnnotation([](Annotation& record) { record.note = "typed here"; });
    model().scheduleSave();
    session.advance(1);
    model().addTag("typed-tag");
    const pid_t command = start({"set", file, "--rating", "2", "--tag", "theirs"});
    ASSERT_GT(command, 0);
    session.advance(1);
    ASSERT_EQ(waitForChild(command), 0);
    session.desktop().settle();
    session.advance(1);

    const auto stored = AnnotationStore(AnnotationStore::defaultPath()).fetch(file);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->note, "typed here");
    EXPECT_EQ(stored->rating, 2);
    ASSERT_EQ(stored->tags.size(), 2u) << testing::PrintToString(stored->tags);
    EXPECT_NE(std::find(stored->tags.begin(), stored->tags.end(), "theirs"), stored->tags.end());
    EXPECT_EQ(shown().tags.size(), 2u);
    EXPECT_EQ(shown().rating, 2);
    EXPECT_FALSE(model().hasUnsavedChanges());
}

} // namespace
