// The panel keeping to Finder's window in a launched app: the drag poll that follows a moving
// window tick by tick and ends once it stands still, and the screen-change handler.
#include "Platform/Services.h"
#include "Platform/backends/simulated/SimulatedDesktop.h"
#include "Platform/base/RunLoop.h"
#include "Platform/control/DesktopControl.h"
#include "Platform/desktop/Panel.h"
#include "Scrivcore/PanelPlacer.h"
#include "Scrivcore/PanelViewModel.h"
#include "Scrivlet/AppDelegate.h"
#include "Scrivlet/PanelController.h"
#include "tests/support/AppSession.h"
#include "tests/support/TempHome.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace scrivlet;

namespace {

const double tick = AppDelegate::dragPollInterval;

// A launched app with Finder frontmost, one window (window-server 700 x 500 at 300,150) and a
// selected file, the panel faded in beside it.
class PanelFollowing : public ::testing::Test {
protected:
    PanelFollowing() {
        window = finder.openWindow(CGRect(300, 150, 700, 500));
        finder.select({session.home().makeFile("Documents/a.txt").string()});
        session.launch();
        session.advance(0.2);
    }

    AppSession session;
    SimulatedDesktop& desktop = session.simulatedDesktop();
    SimulatedFinder& finder = desktop.finder();
    RunLoop& loop = session.services().runLoop();
    std::uint32_t window = 0;

    AppDelegate& app() { return *session.delegate(); }
    Panel& panel() { return *app().panelController->panel; }
    bool polling() { return app().dragPollTimer.has_value(); }
    void settle() { session.desktop().settle(); }
    CGRect& bounds(std::uint32_t number) { return desktop.window(number)->bounds; }
    // Where the panel belongs beside a Finder window, on whichever screen suits it.
    CGRect besideWindow(std::uint32_t number, bool fullScreen = false) {
        std::vector<ScreenFrames> screens;
        for (const Screen& screen : desktop.screens()) {
            screens.push_back({screen.frame, screen.visibleFrame});
        }
        const CGRect frame = desktop.flippedRect(bounds(number));
        const ScreenFrames& screen = screens[PanelPlacer::bestScreenIndex(frame, screens)];
        return *PanelPlacer::compute(frame, screen.frame, screen.visibleFrame, fullScreen,
                                     PanelPlacementMode::flip)
                    .frame;
    }
    void switchAway() {
        desktop.activateApplication(desktop.launchApplication("com.example.editor", "Editor"));
        session.advance(0.2);
    }
};

// --- The drag poll -----------------------------------------------------------------------

TEST_F(PanelFollowing, FollowsADragTickByTickAndStops15StillTicksAfterIt) {
    finder.dragWindow(window, CGPoint{100, 150}, 0.5);
    settle();
    ASSERT_TRUE(polling());
    EXPECT_EQ(app().dragWindowID, window);
    // Moments just after a poll tick that saw the window server's latest step.
    double elapsed = 0;
    double previousX = panel().frame().minX();
    for (const double at : {13.5 * tick, 31.5 * tick, 49.5 * tick}) {
        session.advance(at - elapsed);
        elapsed = at;
        EXPECT_LT(panel().frame().minX(), previousX) << "at " << at;
        EXPECT_EQ(panel().frame(), besideWindow(window)) << "at " << at;
        previousX = panel().frame().minX();
    }

    session.advance(0.51 - elapsed); // the window stopped at 0.5 and a tick has seen it
    EXPECT_EQ(bounds(window).origin, (CGPoint{100, 150}));
    EXPECT_EQ(panel().frame(), besideWindow(window));
    ASSERT_TRUE(polling());
    EXPECT_EQ(app().dragStillTicks, 0);
    session.advance(14 * tick);
    EXPECT_EQ(app().dragStillTicks, 14);
    EXPECT_TRUE(polling());
    session.advance(tick);
    EXPECT_FALSE(polling());
    EXPECT_FALSE(app().dragLastFrame);
    EXPECT_FALSE(app().dragWindowID);
    EXPECT_EQ(loop.timerCount(), 0u);
    EXPECT_DOUBLE_EQ(panel().alphaValue(), 1.0);
}

// A panel the user closed stays closed however its window moves, is dragged or resized; the
// next selection change brings it back beside the window where it now is, following again.
TEST_F(PanelFollowing, AClosedPanelIgnoresItsWindowUntilTheSelectionChanges) {
    const std::string first = (session.home().path() / "Documents/a.txt").string();
    const std::string second = session.home().makeFile("Documents/b.txt").string();
    panel().close();
    settle();
    const int moves = panel().frameChanges();
    finder.moveWindow(window, CGPoint{200, 150});
    settle();
    finder.dragWindow(window, CGPoint{100, 120}, 0.5);
    settle();
    session.advance(0.6);
    finder.resizeWindow(window, CGSize{600, 400});
    settle();
    session.advance(0.6);
    EXPECT_FALSE(panel().isVisible());
    EXPECT_EQ(panel().frameChanges(), moves);
    EXPECT_FALSE(polling());

    finder.select({first, second});
    settle();
    EXPECT_FALSE(panel().isVisible()) << "two files: no panel";
    finder.select({first});
    settle();
    session.advance(0.2);
    ASSERT_TRUE(panel().isVisible());
    EXPECT_EQ(panel().frame(), besideWindow(window));
    finder.moveWindow(window, CGPoint{300, 150});
    settle();
    session.advance(0.6);
    EXPECT_EQ(panel().frame(), besideWindow(window));
}

// An open status menu runs the loop in event-tracking mode; Finder's notifications and the
// poll go on in it.
TEST_F(PanelFollowing, AnOpenStatusMenuStopsNeitherSelectionsNorTheDragPoll) {
    ASSERT_TRUE(session.desktop().openStatusMenu());
    ASSERT_EQ(loop.currentMode(), RunLoopMode::eventTracking);
    const std::string other = session.home().makeFile("Documents/b.txt").string();
    finder.select({other});
    settle();
    EXPECT_EQ(app().viewModel->selectedFileURL(), std::filesystem::path(other));

    finder.dragWindow(window, CGPoint{100, 150}, 0.5);
    settle();
    session.advance(31.5 * tick);
    EXPECT_LT(bounds(window).minX(), 250) << "halfway";
    EXPECT_EQ(panel().frame(), besideWindow(window));
    EXPECT_TRUE(session.desktop().isMenuOpen());
}

TEST_F(PanelFollowing, MovesUnderHalfAPointCountAsStillAndLeaveThePanelAlone) {
    finder.moveWindow(window, CGPoint{310, 150});
    settle();
    ASSERT_TRUE(polling());
    const CGRect placed = panel().frame();
    const int moves = panel().frameChanges();

    bounds(window) = CGRect(310.4, 150.4, 700.4, 499.6);
    session.advance(tick);
    EXPECT_EQ(app().dragStillTicks, 1);
    EXPECT_EQ(panel().frame(), placed);
    EXPECT_EQ(panel().frameChanges(), moves);

    // Measured from the last frame that moved the panel, so a slow creep still moves it.
    bounds(window) = CGRect(310.5, 150, 700, 500);
    session.advance(tick);
    EXPECT_EQ(app().dragStillTicks, 0);
    EXPECT_EQ(panel().frame(), besideWindow(window));
    EXPECT_EQ(panel().frameChanges(), moves + 1);
    bounds(window).size.width = 700.5;
    session.advance(tick);
    EXPECT_EQ(panel().frame(), besideWindow(window));
    EXPECT_EQ(panel().frameChanges(), moves + 2);

    // Jitter around that frame: fifteen still ticks end the poll.
    for (int i = 1; i <= 15; ++i) {
        EXPECT_TRUE(polling()) << "tick " << i;
        bounds(window).origin.x = 310.5 + (i % 2 == 0 ? 0.3 : -0.3);
        session.advance(tick);
    }
    EXPECT_FALSE(polling());
    EXPECT_EQ(panel().frameChanges(), moves + 2);
    EXPECT_EQ(loop.timerCount(), 0u);
}

TEST_F(PanelFollowing, AResizeDuringAPollRestartsTheStillCountOnTheSameTimer) {
    finder.moveWindow(window, CGPoint{310, 150});
    settle();
    ASSERT_TRUE(polling());
    const RunLoop::TimerID timer = *app().dragPollTimer;
    session.advance(10 * tick);
    ASSERT_EQ(app().dragStillTicks, 10);

    finder.resizeWindow(window, CGSize{760, 520});
    settle();
    EXPECT_EQ(app().dragPollTimer, timer);
    EXPECT_EQ(app().dragStillTicks, 0);
    EXPECT_EQ(panel().frame(), besideWindow(window));

    session.advance(tick); // sees the new size
    session.advance(14 * tick);
    EXPECT_EQ(app().dragStillTicks, 14);
    EXPECT_EQ(app().dragPollTimer, timer);
    session.advance(tick);
    EXPECT_FALSE(polling());
    EXPECT_EQ(loop.timerCount(), 0u);
}

TEST_F(PanelFollowing, AFullScreenWindowIsNotPolledAndGetsTheFullScreenPlacement) {
    finder.setFullScreen(window, true);
    settle();
    EXPECT_TRUE(app().dragIsFullscreen);
    EXPECT_EQ(panel().collectionBehavior(), 257u);
    const CGRect placed = panel().frame();
    EXPECT_EQ(placed, besideWindow(window, true));
    EXPECT_EQ(placed, CGRect(1132, 267, 300, 600)); // top right of the visible frame, inset 8

    session.advance(tick);
    EXPECT_FALSE(polling());
    EXPECT_EQ(loop.timerCount(), 0u);
    EXPECT_EQ(panel().frame(), placed);
    EXPECT_EQ(panel().collectionBehavior(), 257u);

    finder.setFullScreen(window, false);
    settle();
    EXPECT_EQ(panel().collectionBehavior(), 258u);
    EXPECT_EQ(panel().frame(), besideWindow(window));
    EXPECT_FALSE(app().dragIsFullscreen);
    EXPECT_TRUE(polling());
}

TEST_F(PanelFollowing, ClosingTheFollowedWindowEndsThePollAtTheNextWindowOrHides) {
    const std::uint32_t front = finder.openWindow(CGRect(500, 200, 600, 400));
    finder.select({(session.home().path() / "Documents/a.txt").string()}); // a new window has none
    settle();
    session.advance(0.2);
    ASSERT_EQ(panel().frame(), besideWindow(front));

    finder.dragWindow(front, CGPoint{400, 200}, 0.5);
    session.advance(0.1);
    ASSERT_EQ(app().dragWindowID, front);
    finder.closeWindow(front);
    session.advance(tick);
    EXPECT_FALSE(polling());
    EXPECT_TRUE(panel().isVisible());
    EXPECT_EQ(panel().frame(), besideWindow(window));
    session.advance(0.2);
    EXPECT_EQ(loop.timerCount(), 0u);

    // The last window, gone from the window server before Finder says so: nothing left to be
    // beside, and the tick that misses it hides the panel.
    finder.dragWindow(window, CGPoint{200, 150}, 0.5);
    session.advance(0.1);
    ASSERT_TRUE(polling());
    desktop.removeWindow(window);
    session.advance(tick);
    EXPECT_FALSE(polling());
    session.advance(0.2);
    EXPECT_FALSE(panel().isVisible());
    finder.closeWindow(window);
    session.advance(0.2);
    EXPECT_FALSE(panel().isVisible());
    EXPECT_EQ(loop.timerCount(), 0u);
}

TEST_F(PanelFollowing, WithThePanelUnwantedAMoveEndsThePollAtItsFirstTick) {
    panel().close();
    settle();
    const int moves = panel().frameChanges();
    finder.moveWindow(window, CGPoint{250, 150});
    settle();
    EXPECT_TRUE(polling());
    session.advance(tick);
    EXPECT_FALSE(polling());
    EXPECT_FALSE(panel().isVisible());
    EXPECT_EQ(panel().frameChanges(), moves);

    finder.select({session.home().makeFile("Documents/b.txt").string()});
    settle();
    ASSERT_TRUE(panel().isVisible());
    switchAway();
    ASSERT_FALSE(panel().isVisible());
    finder.dragWindow(window, CGPoint{200, 100}, 0.25);
    settle();
    EXPECT_TRUE(polling());
    session.advance(tick);
    EXPECT_FALSE(polling());
    for (int i = 0; i < 40; ++i) { // through the drag and the notice at its end
        session.advance(tick);
        EXPECT_FALSE(panel().isVisible()) << "tick " << i;
    }
    EXPECT_FALSE(polling());
    EXPECT_EQ(loop.timerCount(), 0u);
}

// --- Screen changes ----------------------------------------------------------------------

TEST_F(PanelFollowing, AScreenChangeShowsThePanelBesideFinderEvenInTheBackground) {
    switchAway();
    ASSERT_FALSE(panel().isVisible());
    session.desktop().setScreens({{CGRect(0, 0, 1680, 1050), CGRect(0, 0, 1680, 1025)}});
    settle();
    ASSERT_TRUE(panel().isVisible());
    EXPECT_DOUBLE_EQ(panel().alphaValue(), 0.0);
    session.advance(0.2);
    EXPECT_DOUBLE_EQ(panel().alphaValue(), 1.0);
    // The taller screen moves the window's bottom-left-origin frame up by 150.
    EXPECT_EQ(panel().frame(), besideWindow(window));
    EXPECT_EQ(panel().frame().minY(), 300);
}

TEST_F(PanelFollowing, AScreenChangeWithoutAFocusedStandardWindowOrAfterACloseChangesNothing) {
    finder.openWindow(CGRect(400, 300, 400, 200), "AXDialog");
    switchAway();
    ASSERT_FALSE(panel().isVisible());
    const int moves = panel().frameChanges();
    session.desktop().setScreens({{CGRect(0, 0, 1680, 1050), CGRect(0, 0, 1680, 1025)}});
    settle();
    EXPECT_FALSE(panel().isVisible());
    EXPECT_EQ(panel().frameChanges(), moves);

    desktop.activateApplication(*finder.processIdentifier());
    finder.focusWindow(window);
    settle();
    ASSERT_TRUE(panel().isVisible());
    panel().close();
    switchAway();
    const int movesBeforeClose = panel().frameChanges();
    session.desktop().setScreens({{CGRect(0, 0, 1440, 900), CGRect(0, 0, 1440, 875)}});
    settle();
    EXPECT_FALSE(panel().isVisible());
    EXPECT_EQ(panel().frameChanges(), movesBeforeClose);
    EXPECT_EQ(loop.timerCount(), 0u);
}

} // namespace
