#include "Platform/Services.h"
#include "Platform/backends/simulated/SimulatedDesktop.h"
#include "Platform/base/RunLoop.h"
#include "Platform/control/DesktopControl.h"
#include "Platform/desktop/Application.h"
#include "Platform/system/UserDefaults.h"
#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/PanelViewModel.h"
#include "Scrivlet/PanelController.h"
#include "tests/support/AppSession.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>

using namespace scrivlet;

namespace {

// A Finder window in the middle of the default 1440 x 900 screen, room on both sides.
const CGRect finderFrame(300, 200, 700, 500);

class PanelControllerTest : public ::testing::Test {
protected:
    AppSession session;
    RunLoop& loop = session.services().runLoop();
    std::shared_ptr<PanelViewModel> viewModel = std::make_shared<PanelViewModel>(
        std::make_shared<AnnotationStore>(AnnotationStore::defaultPath()), loop);
    std::shared_ptr<PanelController> controller = std::make_shared<PanelController>(viewModel);

    Panel& panel() { return *controller->panel; }
    void setMode(const std::string& mode) {
        UserDefaults::standardUserDefaults().setString("panelPlacementMode", mode);
    }
    void showVisible() {
        controller->show(finderFrame, false);
        loop.advance(1);
        ASSERT_TRUE(panel().isVisible());
        ASSERT_DOUBLE_EQ(panel().alphaValue(), 1.0);
    }
};

TEST_F(PanelControllerTest, FirstShowMakesOneFloatingNonActivatingPanel) {
    EXPECT_FALSE(controller->panel);
    controller->show(finderFrame, false);
    ASSERT_TRUE(controller->panel);
    EXPECT_EQ(panel().styleMask(), 155u);
    EXPECT_EQ(panel().contentRect(), CGRect(0, 0, 300, 600));
    EXPECT_EQ(panel().level(), 3);
    EXPECT_EQ(panel().collectionBehavior(), 258u);
    EXPECT_FALSE(panel().hidesOnDeactivate());
    EXPECT_TRUE(panel().becomesKeyOnlyIfNeeded());
    EXPECT_TRUE(panel().isMovableByWindowBackground());
    EXPECT_EQ(panel().minSize(), (CGSize{280, 400}));
    EXPECT_EQ(panel().title(), "Annotation");
    EXPECT_FALSE(panel().isReleasedWhenClosed());
    EXPECT_EQ(panel().delegate(), controller);
    EXPECT_TRUE(panel().contentView());
    EXPECT_FALSE(session.services().application().isActive()) << "showing never activates";

    const Panel* first = controller->panel.get();
    panel().close();
    controller->show(finderFrame, false);
    EXPECT_EQ(controller->panel.get(), first);
    EXPECT_EQ(session.simulatedDesktop().panels().size(), 1u);
}

TEST_F(PanelControllerTest, HiddenPanelFadesInBesideTheWindow) {
    controller->show(finderFrame, false);
    EXPECT_TRUE(panel().isVisible());
    EXPECT_DOUBLE_EQ(panel().alphaValue(), 0.0);
    EXPECT_GE(panel().frame().minX(), finderFrame.maxX());
    loop.advance(0.075);
    EXPECT_GT(panel().alphaValue(), 0.0);
    EXPECT_LT(panel().alphaValue(), 1.0);
    loop.advance(0.1);
    EXPECT_DOUBLE_EQ(panel().alphaValue(), 1.0);
}

TEST_F(PanelControllerTest, VisiblePanelMovesAtOnceWithoutFading) {
    showVisible();
    const CGRect moved(200, 150, 700, 500);
    controller->show(moved, false);
    EXPECT_DOUBLE_EQ(panel().alphaValue(), 1.0);
    EXPECT_GE(panel().frame().minX(), moved.maxX());
    EXPECT_EQ(loop.timerCount(), 0u);
}

TEST_F(PanelControllerTest, NoScreensCreatesThePanelButShowsNothing) {
    session.desktop().setScreens({});
    controller->show(finderFrame, false);
    ASSERT_TRUE(controller->panel);
    EXPECT_FALSE(panel().isVisible());
    EXPECT_EQ(panel().frameChanges(), 0);
}

TEST_F(PanelControllerTest, PlacementWithoutFrameFadesAVisiblePanelAndLeavesAHiddenOne) {
    setMode("hide");
    const CGRect wide(0, 0, 1400, 800); // no room on either side
    controller->show(wide, false);
    EXPECT_FALSE(panel().isVisible());
    EXPECT_EQ(loop.timerCount(), 0u);

    setMode("flip");
    showVisible();
    setMode("hide");
    controller->show(wide, false);
    EXPECT_TRUE(panel().isVisible()) << "still fading out";
    loop.advance(0.2);
    EXPECT_FALSE(panel().isVisible());
}

TEST_F(PanelControllerTest, FullScreenSwitchesCollectionBehaviourOnlyWhenItChanges) {
    controller->show(finderFrame, false);
    const int afterCreation = panel().collectionBehaviorChanges();
    controller->show(finderFrame, false);
    EXPECT_EQ(panel().collectionBehaviorChanges(), afterCreation);
    controller->show(CGRect(0, 0, 1440, 900), true);
    EXPECT_EQ(panel().collectionBehavior(), 257u);
    controller->show(finderFrame, false);
    EXPECT_EQ(panel().collectionBehavior(), 258u);
    EXPECT_EQ(panel().collectionBehaviorChanges(), afterCreation + 2);
}

TEST_F(PanelControllerTest, HideWithoutAVisiblePanelDoesNothing) {
    controller->hide();
    EXPECT_FALSE(controller->panel);
    controller->show(finderFrame, false);
    loop.advance(1);
    controller->hide();
    loop.advance(1);
    controller->hide(); // ordered out by now
    EXPECT_EQ(loop.timerCount(), 0u);
    EXPECT_FALSE(panel().isVisible());
}

TEST_F(PanelControllerTest, ShowDuringFadeOutTakesThePanelBack) {
    // Switching away from Finder and straight back must not lose the panel.
    showVisible();
    controller->hide();
    loop.advance(0.05);
    const double faded = panel().alphaValue();
    EXPECT_LT(faded, 1.0);
    controller->show(CGRect(250, 200, 700, 500), false);
    EXPECT_TRUE(panel().isVisible());
    EXPECT_GE(panel().frame().minX(), 950.0) << "moved at once";
    EXPECT_DOUBLE_EQ(panel().alphaValue(), faded) << "no jump: it fades back from where it was";
    loop.advance(0.3);
    EXPECT_TRUE(panel().isVisible()) << "the old fade-out's completion leaves it on screen";
    EXPECT_DOUBLE_EQ(panel().alphaValue(), 1.0);

    controller->hide();
    loop.advance(0.3);
    EXPECT_FALSE(panel().isVisible()) << "a later hide still works";
}

TEST_F(PanelControllerTest, ShowAfterACloseDuringFadeOutStaysOnScreen) {
    showVisible();
    controller->hide();
    loop.advance(0.05);
    panel().close();
    controller->show(finderFrame, false);
    loop.advance(0.3);
    EXPECT_TRUE(panel().isVisible());
    EXPECT_DOUBLE_EQ(panel().alphaValue(), 1.0);
}

TEST_F(PanelControllerTest, SecondHideDuringFadeOutStartsAnotherFadeOut) {
    showVisible();
    controller->hide();
    loop.advance(0.05);
    controller->hide();
    loop.advance(0.05);
    EXPECT_TRUE(panel().isVisible());
    loop.advance(0.2);
    EXPECT_FALSE(panel().isVisible());
    controller->show(finderFrame, false);
    EXPECT_DOUBLE_EQ(panel().alphaValue(), 0.0) << "the next fade-in starts from 0 again";
}

TEST_F(PanelControllerTest, CloseButtonDismissesOnceAfterTheCloseAndHideNever) {
    int dismissals = 0;
    controller->onUserDismiss = [&] { ++dismissals; };
    showVisible();
    controller->hide();
    loop.advance(1);
    EXPECT_EQ(dismissals, 0);

    showVisible();
    panel().close();
    EXPECT_FALSE(panel().isVisible());
    EXPECT_EQ(dismissals, 0) << "the callback runs after the close, not inside it";
    loop.runUntilIdle();
    EXPECT_EQ(dismissals, 1);
}

TEST_F(PanelControllerTest, PlacementModeIsReadAtEveryShowAndMatchedExactly) {
    const CGRect nearRightEdge(900, 200, 500, 500); // no room on the right, room on the left
    auto placedLeft = [&] {
        controller->show(nearRightEdge, false);
        return panel().frame().maxX() <= nearRightEdge.minX();
    };
    EXPECT_TRUE(placedLeft()) << "flip by default";
    setMode("clamp");
    EXPECT_FALSE(placedLeft()) << "clamp slides over the window instead";
    for (const char* unknown : {"Clamp", "", "HIDE"}) {
        setMode(unknown);
        EXPECT_TRUE(placedLeft()) << '"' << unknown << "\" acts as flip";
    }
    setMode("hide");
    controller->show(CGRect(0, 0, 1400, 800), false);
    loop.advance(1);
    EXPECT_FALSE(panel().isVisible());
}

} // namespace
