// The delegate's side of Finder observation, driven through a launched app on the simulated
// desktop: what launch sets up, which selections reach the panel, and how activation, Space
// changes, a closed panel and Finder quitting and relaunching change what is shown.
#include "Platform/Services.h"
#include "Platform/backends/simulated/SimulatedDesktop.h"
#include "Platform/base/RunLoop.h"
#include "Platform/control/DesktopControl.h"
#include "Platform/desktop/FileManagerIdentity.h"
#include "Platform/desktop/NotificationCenter.h"
#include "Platform/desktop/Panel.h"
#include "Scrivcore/PanelPlacer.h"
#include "Scrivcore/PanelViewModel.h"
#include "Scrivlet/AppDelegate.h"
#include "Scrivlet/PanelController.h"
#include "Scrivlet/SelectionTracker.h"
#include "tests/support/AppSession.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempHome.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

using namespace scrivlet;

namespace fs = std::filesystem;

namespace {

const CGRect docsBounds(300, 150, 700, 500); // window-server coordinates
const std::string emDash = "\xE2\x80\x94";

class FinderEvents : public ::testing::Test {
protected:
    AppSession session;
    SimulatedDesktop& desktop = session.simulatedDesktop();
    SimulatedFinder& finder = desktop.finder();
    RunLoop& loop = session.services().runLoop();
    const std::string fileA = session.home().makeFile("Documents/a.txt").string();
    const std::string fileB = session.home().makeFile("Documents/b.txt").string();
    const std::string fileC = session.home().makeFile("Documents/c.txt").string();

    AppDelegate& app() { return *session.delegate(); }
    Panel& panel() { return *app().panelController->panel; }
    bool panelShown() { return app().panelController->panel && panel().isVisible(); }
    std::optional<fs::path> shownFile() { return app().viewModel->selectedFileURL(); }
    void settle() { session.desktop().settle(); }
    void select(std::vector<std::string> paths) {
        finder.select(std::move(paths));
        settle();
    }
    void activate(pid_t pid) {
        ASSERT_TRUE(desktop.activateApplication(pid));
        settle();
    }
    pid_t pidOf(const std::string& bundleIdentifier) const {
        for (const auto& running : desktop.runningApplications()) {
            if (running.bundleIdentifier == bundleIdentifier) {
                return running.processIdentifier;
            }
        }
        return 0;
    }
    std::size_t logCount(const std::string& message) {
        const auto lines = session.log().messages("app");
        return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), message));
    }
    // Where the panel belongs beside a Finder window on the default screen.
    CGRect besideWindow(std::uint32_t number) {
        const Screen screen = desktop.screens().front();
        const CGRect window = desktop.flippedRect(desktop.window(number)->bounds);
        return *PanelPlacer::compute(window, screen.frame, screen.visibleFrame, false,
                                     PanelPlacementMode::flip)
                    .frame;
    }
    // Launches with one Finder window showing `file` selected, and waits out the fade-in.
    std::uint32_t launchShowing(const std::string& file) {
        const std::uint32_t window = finder.openWindow(docsBounds);
        finder.select({file});
        session.launch();
        session.advance(0.2);
        return window;
    }
    // Another application comes to the front; the panel's fade-out is waited out.
    pid_t switchAway() {
        const pid_t editor = desktop.launchApplication("com.example.editor", "Editor");
        activate(editor);
        session.advance(0.2);
        return editor;
    }
};

// --- Launch ------------------------------------------------------------------------------

TEST_F(FinderEvents, LaunchShowsTheSelectedFileBesideTheFocusedWindowAndObservesTheWorkspace) {
    finder.openWindow(CGRect(40, 60, 600, 400));
    const std::uint32_t focused = finder.openWindow(docsBounds);
    finder.select({fileA});
    session.launch();

    EXPECT_TRUE(app().finderIsActive);
    EXPECT_EQ(shownFile(), fs::path(fileA));
    ASSERT_TRUE(panelShown());
    EXPECT_DOUBLE_EQ(panel().alphaValue(), 0.0) << "fades in";
    session.advance(0.2);
    EXPECT_DOUBLE_EQ(panel().alphaValue(), 1.0);
    // 8 points right of the window, tops level (screen coordinates, origin bottom left).
    EXPECT_EQ(panel().frame(), CGRect(1008, 150, 300, 600));
    EXPECT_EQ(panel().frame(), besideWindow(focused));

    std::vector<std::string> selectors;
    for (const auto& registration : Workspace::shared().notificationCenter().registrations()) {
        selectors.push_back(registration.selector);
    }
    EXPECT_EQ(selectors, (std::vector<std::string>{"activeAppChanged:", "finderTerminated:",
                                                   "finderLaunched:", "activeSpaceChanged:"}));
    const auto screenObservers = NotificationCenter::defaultCenter().registrations();
    EXPECT_TRUE(std::any_of(screenObservers.begin(), screenObservers.end(),
                            [](const auto& r) { return r.selector == "screensChanged:"; }));
}

// At login the app usually starts before any file manager: tracking fails with its lines, and
// the file manager's later launch starts it as a relaunch would.
TEST_F(FinderEvents, WithoutFinderTrackingFailsUntilAFinderLaunches) {
    finder.quit();
    settle();
    session.launch();

    int notRunning = -1;
    int failed = -1;
    const auto records = session.log().records();
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (records[i].isNSLog && records[i].message == "Scrivlet: Finder not running") {
            notRunning = static_cast<int>(i);
        }
        if (records[i].message == "ERROR: Failed to start AX selection tracker") {
            failed = static_cast<int>(i);
        }
    }
    ASSERT_GE(notRunning, 0);
    EXPECT_GT(failed, notRunning);
    EXPECT_EQ(logCount("AX selection tracker started"), 0u);
    EXPECT_EQ(session.log().messages("app").back(),
              "Ready. Listening for Finder events and URL scheme requests.");

    const pid_t pid = finder.launch();
    activate(pid);
    const std::uint32_t window = finder.openWindow(docsBounds);
    EXPECT_TRUE(session.log().contains("Finder launched " + emDash + " rebuilding AX observer"));
    session.advance(0.5);
    EXPECT_EQ(logCount("AX observer rebuilt after Finder relaunch"), 1u);
    EXPECT_EQ(app().selectionTracker->finderPID, pid);
    select({fileA});
    EXPECT_EQ(shownFile(), fs::path(fileA));
    session.advance(0.2);
    EXPECT_TRUE(panelShown());
    EXPECT_EQ(panel().frame(), besideWindow(window));
}

TEST_F(FinderEvents, WithoutAnObserverTrackingFailsWithTheTrackersLineFirst) {
    finder.openWindow(docsBounds);
    finder.select({fileA});
    desktop.setObserverCreationFails(true);
    session.launch();

    const auto records = session.log().records();
    const auto created = std::find_if(records.begin(), records.end(), [](const auto& record) {
        return record.isNSLog && record.message == "Scrivlet: Failed to create AX observer";
    });
    const auto failed = std::find_if(records.begin(), records.end(), [](const auto& record) {
        return record.message == "ERROR: Failed to start AX selection tracker";
    });
    ASSERT_NE(created, records.end());
    EXPECT_LT(created, failed);
    EXPECT_EQ(logCount("ERROR: Failed to start AX selection tracker"), 1u);
    EXPECT_TRUE(Workspace::shared().notificationCenter().registrations().empty());
    EXPECT_FALSE(shownFile());
    EXPECT_FALSE(panelShown());
}

TEST_F(FinderEvents, UntrustedAccessibilityPromptsOnceAndLaunchGoesOn) {
    session.desktop().setAccessibilityTrusted(false);
    session.launch();
    EXPECT_EQ(logCount("Accessibility NOT granted " + emDash +
                       " prompting (needed for window positioning)"),
              1u);
    EXPECT_EQ(session.desktop().accessibilityPromptCount(), 1);
    EXPECT_EQ(session.log().messages("app").back(),
              "Ready. Listening for Finder events and URL scheme requests.");
    EXPECT_FALSE(session.isTerminated());
}

// --- Which selections count --------------------------------------------------------------

// The tracker publishes inside Finder's callback; the delegate hears of it only after two
// turns of the main queue (its subscriber's hop, then a main-actor task).
TEST_F(FinderEvents, ASelectionReachesTheDelegateTwoQueueTurnsAfterTheCallback) {
    launchShowing(fileA);
    std::vector<std::optional<fs::path>> inCallback;
    std::vector<std::optional<fs::path>> oneTurnLater;
    AnyCancellable probe = app().selectionTracker->selectionSubject.sink([&](const auto&) {
        inCallback.push_back(shownFile());
        loop.async([&] { oneTurnLater.push_back(shownFile()); });
    });
    inCallback.clear(); // the value handed over on subscription
    settle();
    oneTurnLater.clear();

    select({fileB});
    EXPECT_EQ(inCallback, std::vector<std::optional<fs::path>>{fs::path(fileA)});
    EXPECT_EQ(oneTurnLater, std::vector<std::optional<fs::path>>{fs::path(fileA)});
    EXPECT_EQ(shownFile(), fs::path(fileB));
}

TEST_F(FinderEvents, TheSelectionAtLaunchArrivesOnlyAfterTheLaunchSequence) {
    finder.openWindow(docsBounds);
    finder.select({fileA});
    session.finishLaunching();
    EXPECT_EQ(session.log().messages("app").back(),
              "Ready. Listening for Finder events and URL scheme requests.");
    EXPECT_FALSE(shownFile());
    EXPECT_FALSE(app().panelController->panel);

    settle();
    EXPECT_EQ(shownFile(), fs::path(fileA));
    EXPECT_TRUE(panelShown());
}

TEST_F(FinderEvents, SelectionsMadeWhileAnotherAppIsFrontmostAreDropped) {
    launchShowing(fileA);
    switchAway();
    EXPECT_FALSE(app().finderIsActive);
    select({fileB});
    EXPECT_EQ(shownFile(), fs::path(fileA));
    EXPECT_FALSE(panelShown());

    activate(pidOf(fileManagerBundleIdentifier));
    select({fileC});
    EXPECT_EQ(shownFile(), fs::path(fileC));
    EXPECT_TRUE(panelShown());
}

TEST_F(FinderEvents, SelectionsDuringTheLockAreDroppedAndTheNextChangeAfterItCounts) {
    launchShowing(fileA);
    app().selectionLockedUntil = loop.now() + std::chrono::seconds(1);
    session.advance(0.99);
    select({fileB});
    EXPECT_EQ(shownFile(), fs::path(fileA));

    session.advance(0.02);
    select({fileB}); // unchanged: Finder's answer is not news
    EXPECT_EQ(shownFile(), fs::path(fileA));
    select({fileC});
    EXPECT_EQ(shownFile(), fs::path(fileC));
}

// --- Without a Finder frame --------------------------------------------------------------

// With the accessibility permission withdrawn, Finder's window can no longer be read: every
// road that would place a shown panel hides it instead.
TEST_F(FinderEvents, AShownPanelIsHiddenWhenFindersWindowCannotBeRead) {
    const std::uint32_t window = launchShowing(fileA);
    desktop.setAccessibilityTrusted(false);
    select({fileB}); // a new selection
    session.advance(0.2);
    EXPECT_EQ(shownFile(), fs::path(fileB));
    EXPECT_FALSE(panelShown());

    desktop.setAccessibilityTrusted(true);
    select({fileC});
    session.advance(0.2);
    ASSERT_TRUE(panelShown());
    desktop.setAccessibilityTrusted(false);
    desktop.changeSpace(); // a visibility update
    session.advance(0.2);
    EXPECT_FALSE(panelShown());

    desktop.setAccessibilityTrusted(true);
    desktop.changeSpace();
    session.advance(0.2);
    ASSERT_TRUE(panelShown());
    desktop.setAccessibilityTrusted(false);
    finder.moveWindow(window, {320, 150}); // a re-placement after a move
    session.advance(0.3);
    EXPECT_FALSE(panelShown());
    EXPECT_FALSE(app().dragPollTimer);
}

// --- Activation and Spaces ---------------------------------------------------------------

TEST_F(FinderEvents, TheAppsOwnActivationChangesNothing) {
    launchShowing(fileA);
    const pid_t self = pidOf("com.scrivlet.Scrivlet");
    ASSERT_NE(self, 0);
    const CGRect placed = panel().frame();
    const int moves = panel().frameChanges();

    activate(self);
    EXPECT_TRUE(app().finderIsActive);
    EXPECT_TRUE(panelShown());
    EXPECT_DOUBLE_EQ(panel().alphaValue(), 1.0);
    EXPECT_EQ(panel().frame(), placed);
    EXPECT_EQ(panel().frameChanges(), moves);
    EXPECT_EQ(loop.timerCount(), 0u);

    switchAway();
    activate(self);
    session.advance(0.2);
    EXPECT_FALSE(app().finderIsActive);
    EXPECT_FALSE(panelShown());
}

TEST_F(FinderEvents, SwitchingAwayHidesAndBackShowsBesideTheFocusedWindow) {
    launchShowing(fileA);
    const pid_t finderPID = pidOf(fileManagerBundleIdentifier);
    const pid_t editor = desktop.launchApplication("com.example.editor", "Editor");
    activate(editor);
    EXPECT_TRUE(panelShown()) << "fading out";
    session.advance(0.2);
    EXPECT_FALSE(panelShown());

    // Finder's focus moves while it is in the background; the panel follows on return.
    const std::uint32_t other = finder.openWindow(CGRect(60, 100, 500, 400));
    settle();
    EXPECT_FALSE(panelShown());
    activate(finderPID);
    EXPECT_TRUE(app().finderIsActive);
    ASSERT_TRUE(panelShown());
    EXPECT_DOUBLE_EQ(panel().alphaValue(), 0.0);
    session.advance(0.2);
    EXPECT_DOUBLE_EQ(panel().alphaValue(), 1.0);
    EXPECT_EQ(panel().frame(), besideWindow(other));
    EXPECT_EQ(loop.timerCount(), 0u);
}

TEST_F(FinderEvents, AClosedPanelStaysClosedUntilTheNextSelection) {
    const std::uint32_t window = launchShowing(fileA);
    const pid_t finderPID = pidOf(fileManagerBundleIdentifier);
    panel().close();
    settle();
    EXPECT_TRUE(app().userDismissed);
    EXPECT_EQ(logCount("Panel dismissed by user"), 1u);

    switchAway();
    activate(finderPID);
    desktop.changeSpace();
    session.advance(0.3);
    EXPECT_FALSE(panelShown());
    EXPECT_EQ(logCount("Panel dismissed by user"), 1u);

    select({fileB});
    EXPECT_FALSE(app().userDismissed);
    ASSERT_TRUE(panelShown());
    session.advance(0.2);
    EXPECT_DOUBLE_EQ(panel().alphaValue(), 1.0);
    EXPECT_EQ(panel().frame(), besideWindow(window));
}

TEST_F(FinderEvents, NoPanelWhileFinderHasNoWindowOnScreen) {
    const std::uint32_t window = launchShowing(fileA);
    const pid_t finderPID = pidOf(fileManagerBundleIdentifier);
    switchAway();
    desktop.window(window)->onScreen = false; // still Finder's focused window
    activate(finderPID);
    session.advance(0.2);
    EXPECT_FALSE(panelShown());

    desktop.window(window)->onScreen = true;
    desktop.changeSpace();
    settle();
    EXPECT_TRUE(panelShown());
}

// --- Finder quitting and coming back -----------------------------------------------------

TEST_F(FinderEvents, QuitStopsTrackingAndRelaunchRebuildsItHalfASecondLater) {
    launchShowing(fileA);
    finder.quit();
    settle();
    EXPECT_EQ(logCount("Finder terminated " + emDash + " stopping AX observer"), 1u);
    EXPECT_FALSE(app().selectionTracker->observer);
    EXPECT_FALSE(app().selectionTracker->finderPID);
    EXPECT_FALSE(app().finderIsActive);
    EXPECT_TRUE(panelShown()) << "fading out";
    session.advance(0.2);
    EXPECT_FALSE(panelShown());

    const pid_t relaunched = finder.launch();
    settle();
    EXPECT_EQ(logCount("Finder launched " + emDash + " rebuilding AX observer"), 1u);
    session.advance(0.499);
    EXPECT_EQ(logCount("AX observer rebuilt after Finder relaunch"), 0u);
    EXPECT_FALSE(app().selectionTracker->finderPID);
    session.advance(0.001);
    EXPECT_EQ(logCount("AX observer rebuilt after Finder relaunch"), 1u);
    EXPECT_EQ(app().selectionTracker->finderPID, relaunched);
    EXPECT_FALSE(panelShown()) << "nothing is selected in the new Finder";
}

TEST_F(FinderEvents, TheRebuildFailsWhenFinderQuitsAgainOrNoObserverCanBeMade) {
    launchShowing(fileA);
    finder.quit();
    settle();
    finder.launch();
    session.advance(0.4);
    finder.quit(); // gone again before the rebuild
    session.advance(0.2);
    const std::string failed = "ERROR: Failed to restart AX observer after Finder relaunch";
    EXPECT_EQ(logCount(failed), 1u);
    EXPECT_EQ(logCount("AX observer rebuilt after Finder relaunch"), 0u);
    EXPECT_EQ(session.log().messages("").back(), "Scrivlet: Finder not running");

    desktop.setObserverCreationFails(true);
    finder.launch();
    session.advance(0.5);
    EXPECT_EQ(logCount(failed), 2u);
    EXPECT_EQ(session.log().messages("").back(), "Scrivlet: Failed to create AX observer");
    EXPECT_FALSE(app().selectionTracker->observer);
    EXPECT_EQ(logCount("AX observer rebuilt after Finder relaunch"), 0u);
}

// Only Finder's own launch and termination count.
TEST_F(FinderEvents, OtherApplicationsComingAndGoingChangeNothing) {
    launchShowing(fileA);
    const auto observer = app().selectionTracker->observer;
    const pid_t editor = desktop.launchApplication("com.example.editor", "Editor");
    settle();
    desktop.removeRunningApplication(editor);
    NotificationCenter& workspace = Workspace::shared().notificationCenter();
    workspace.post({NSWorkspaceDidTerminateApplicationNotification, std::nullopt});
    workspace.post({NSWorkspaceDidLaunchApplicationNotification, std::nullopt});
    session.advance(1);

    EXPECT_EQ(app().selectionTracker->observer, observer);
    EXPECT_TRUE(app().finderIsActive);
    EXPECT_TRUE(panelShown());
    EXPECT_DOUBLE_EQ(panel().alphaValue(), 1.0);
    EXPECT_FALSE(session.log().contains("Finder terminated"));
    EXPECT_FALSE(session.log().contains("Finder launched"));
    EXPECT_FALSE(session.log().contains("AX observer"));
}

// The rebuilt tracker starts afresh, and so does the delegate's stream: the file the panel
// showed before the file manager quit, selected again in the restarted one, is shown again.
TEST_F(FinderEvents, AfterRelaunchTheSameFileSelectedAgainReachesThePanel) {
    launchShowing(fileA);
    panel().close();
    settle();
    finder.quit();
    settle();
    activate(finder.launch());
    const std::uint32_t window = finder.openWindow(docsBounds);
    session.advance(0.5);
    ASSERT_EQ(logCount("AX observer rebuilt after Finder relaunch"), 1u);

    select({fileA});
    EXPECT_FALSE(app().userDismissed);
    EXPECT_EQ(shownFile(), fs::path(fileA));
    session.advance(0.2);
    EXPECT_TRUE(panelShown());
    EXPECT_EQ(panel().frame(), besideWindow(window));
    select({fileB});
    EXPECT_EQ(shownFile(), fs::path(fileB));
}

TEST_F(FinderEvents, ASelectionMadeBeforeTheRebuildArrivesWithIt) {
    launchShowing(fileA);
    finder.quit();
    settle();
    activate(finder.launch());
    const std::uint32_t window = finder.openWindow(docsBounds);
    select({fileB});
    EXPECT_EQ(shownFile(), fs::path(fileA));
    session.advance(0.5);
    EXPECT_EQ(shownFile(), fs::path(fileB));
    session.advance(0.2);
    ASSERT_TRUE(panelShown());
    EXPECT_EQ(panel().frame(), besideWindow(window));
}

} // namespace
