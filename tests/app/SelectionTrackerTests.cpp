#include "Platform/Services.h"
#include "Platform/backends/simulated/SimulatedDesktop.h"
#include "Platform/backends/simulated/SimulatedFinder.h"
#include "Platform/control/DesktopControl.h"
#include "Platform/desktop/WindowList.h"
#include "Scrivlet/SelectionTracker.h"
#include "tests/support/AppSession.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempHome.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <utility>

using namespace scrivlet;

namespace fs = std::filesystem;

namespace {

using Lines = std::vector<std::string>;

// A tracker in a sandboxed session with Finder running. Every value the subject sends after
// subscribing is recorded as its URL, or "nil".
class TrackerTest : public ::testing::Test {
protected:
    TrackerTest() {
        pid = finder().launch();
        subscription = tracker.selectionSubject.sink([this](const std::optional<URL>& url) {
            published.push_back(url ? url->absoluteString() : "nil");
        });
        published.clear();
        tracker.onGeometryChange = [this] { ++geometryChanges; };
    }

    SimulatedFinder& finder() { return session.desktop().finder(); }
    SimulatedDesktop& desktop() { return session.simulatedDesktop(); }
    std::string file(const std::string& name) {
        return session.home().makeFile("Documents/" + name).string();
    }
    static std::string urlOf(const std::string& path) {
        return URL::fileURL(path).absoluteString();
    }
    std::uint32_t openWindow(const CGRect& bounds = CGRect(100, 50, 800, 600),
                             const std::string& subrole = "AXStandardWindow") {
        const std::uint32_t number = finder().openWindow(bounds, subrole);
        session.desktop().settle();
        return number;
    }
    // Selects and lets the notification arrive.
    void select(std::vector<std::string> paths,
                const std::string& notification = "AXSelectedChildrenChanged") {
        finder().select(std::move(paths), notification);
        session.desktop().settle();
    }
    Lines takePublished() { return std::exchange(published, {}); }
    std::size_t registrations() const {
        return tracker.observer ? tracker.observer->registrationCount() : 0;
    }

    AppSession session;
    pid_t pid = 0;
    SelectionTracker tracker;
    Lines published;
    AnyCancellable subscription;
    int geometryChanges = 0;
};

// --- Selection ---------------------------------------------------------------------------

using TrackerSelection = TrackerTest;

TEST_F(TrackerSelection, PublishesEachNewItemOnceWhicheverViewReportsIt) {
    const std::string a = file("a.txt");
    const std::string b = file("b.txt");
    openWindow();
    ASSERT_TRUE(tracker.start());

    select({a});
    select({a}, "AXSelectedRowsChanged");
    finder().moveFocusWithinWindow(); // asks Finder again: nothing new
    session.desktop().settle();
    EXPECT_EQ(takePublished(), Lines{urlOf(a)});

    select({b}, "AXSelectedRowsChanged");
    select({a});
    EXPECT_EQ(takePublished(), (Lines{urlOf(b), urlOf(a)}));
    EXPECT_EQ(tracker.lastPath, a);
    EXPECT_EQ(tracker.selectionSubject.value(), URL::fileURL(a));
}

// Finder answers with its front window's selection, so focusing another window changes it.
TEST_F(TrackerSelection, FollowsTheSelectionOfFindersFrontWindow) {
    const std::string a = file("a.txt");
    const std::string b = file("b.txt");
    const std::uint32_t first = openWindow();
    ASSERT_TRUE(tracker.start());
    select({a});
    const std::uint32_t second = openWindow(CGRect(0, 30, 500, 400));
    EXPECT_EQ(takePublished(), (Lines{urlOf(a), "nil"})) << "a new window has no selection";

    select({b});
    finder().focusWindow(first);
    session.desktop().settle();
    EXPECT_EQ(takePublished(), (Lines{urlOf(b), urlOf(a)}));
    finder().closeWindow(first);
    session.desktop().settle();
    EXPECT_EQ(takePublished(), Lines{urlOf(b)});
    EXPECT_EQ(finder().focusedWindow(), second);
}

// Inside a window the focus moves without a window change (sidebar to file list); that
// notification alone makes the tracker ask again.
TEST_F(TrackerSelection, AFocusMoveInsideTheWindowAsksFinderAgain) {
    const std::string a = file("a.txt");
    openWindow();
    ASSERT_TRUE(tracker.start());
    finder().setScriptAnswer(SimulatedFinder::ScriptAnswer::notAuthorized);
    select({a});
    EXPECT_TRUE(takePublished().empty());

    finder().setScriptAnswer(SimulatedFinder::ScriptAnswer::normal); // the user allowed it
    finder().moveFocusWithinWindow();
    session.desktop().settle();
    EXPECT_EQ(takePublished(), Lines{urlOf(a)});
    EXPECT_EQ(geometryChanges, 0);
}

TEST_F(TrackerSelection, PublishesNilOnceForNoneOrSeveralItemsUntilOneItemAgain) {
    const std::string a = file("a.txt");
    const std::string b = file("b.txt");
    ASSERT_TRUE(tracker.start());
    select({}); // nothing was published yet: nil is not news
    EXPECT_TRUE(takePublished().empty());

    select({a});
    select({});
    select({a, b});
    select({});
    EXPECT_EQ(takePublished(), (Lines{urlOf(a), "nil"}));

    select({b});
    select({a, b}, "AXSelectedRowsChanged");
    select({a, b});
    EXPECT_EQ(takePublished(), (Lines{urlOf(b), "nil"}));
    EXPECT_FALSE(tracker.lastPath);
}

TEST_F(TrackerSelection, FoldersArePublishedLikeFilesWithATrailingSlash) {
    const fs::path folder = session.home().path() / "Documents" / "Old Notes";
    fs::create_directories(folder);
    const std::string spaced = file("Read me.txt");
    ASSERT_TRUE(tracker.start());

    select({folder.string()});
    select({spaced});
    ASSERT_EQ(published.size(), 2u);
    const auto url = URL::fromString(published[0]);
    ASSERT_TRUE(url);
    EXPECT_TRUE(url->path().ends_with("/")) << url->path();
    EXPECT_EQ(url->fileSystemPath(), fs::path(folder.string() + "/"));
    EXPECT_EQ(URL::fromString(published[1])->fileSystemPath(), fs::path(spaced));
}

TEST_F(TrackerSelection, ScriptIsTheEightLinesFinderIsSent) {
    EXPECT_EQ(SelectionTracker::selectionScript(),
              R"(tell application "Finder"
    set sel to selection
    if (count of sel) = 1 then
        return POSIX path of (item 1 of sel as alias)
    else
        return ""
    end if
end tell)");
    EXPECT_EQ(SelectionTracker::selectionScript().size(), 182u);
}

// Refused automation, a timeout and an item that cannot be made an alias all read as "no
// single item": nil once after a path, then nothing until a path comes back.
TEST_F(TrackerSelection, FailedScriptsPublishNilOnlyAfterAPath) {
    const std::string a = file("a.txt");
    const std::string b = file("b.txt");
    openWindow();
    ASSERT_TRUE(tracker.start());
    finder().setScriptAnswer(SimulatedFinder::ScriptAnswer::notAuthorized);
    select({a}); // failed, but nil was already the last word
    EXPECT_TRUE(takePublished().empty());

    finder().setScriptAnswer(SimulatedFinder::ScriptAnswer::normal);
    select({a});
    finder().setScriptAnswer(SimulatedFinder::ScriptAnswer::timedOut);
    select({b});
    select({a});
    EXPECT_EQ(takePublished(), (Lines{urlOf(a), "nil"}));

    finder().setScriptAnswer(SimulatedFinder::ScriptAnswer::normal);
    finder().setAliasable(b, false);
    select({a});
    select({b});
    EXPECT_EQ(takePublished(), (Lines{urlOf(a), "nil"}));
}

// Telling Finder to answer starts it when it has quit; the new Finder has nothing selected.
TEST_F(TrackerSelection, AskingAQuitFinderStartsItWithNothingSelected) {
    const std::string a = file("a.txt");
    openWindow();
    ASSERT_TRUE(tracker.start());
    select({a});
    finder().quit();
    tracker.refreshSelection();
    EXPECT_TRUE(finder().isRunning());
    EXPECT_NE(finder().processIdentifier(), pid);
    EXPECT_EQ(takePublished(), (Lines{urlOf(a), "nil"}));
}

// --- Starting and stopping ---------------------------------------------------------------

using TrackerLifecycle = TrackerTest;

TEST_F(TrackerLifecycle, StartObservesFinderAndPublishesTheCurrentSelectionAtOnce) {
    const std::string a = file("a.txt");
    const std::uint32_t window = openWindow();
    finder().select({a});
    session.log().clear();

    ASSERT_TRUE(tracker.start());
    EXPECT_EQ(takePublished(), Lines{urlOf(a)}); // before any run-loop turn
    EXPECT_EQ(session.log().messages(""),
              Lines{"Scrivlet: AX Observer started for Finder (PID " + std::to_string(pid) + ")"});
    EXPECT_EQ(tracker.finderPID, pid);
    EXPECT_EQ(tracker.finderApp, AXUIElementCreateApplication(pid));
    EXPECT_EQ(tracker.observedWindow, (AXUIElement{pid, window}));
    EXPECT_EQ(desktop().liveObserverCount(), 1u);
    EXPECT_EQ(registrations(), 6u); // four on Finder, moved and resized on the window
    EXPECT_TRUE(tracker.observer->runLoopSource().isScheduled());
}

TEST_F(TrackerLifecycle, StartWithoutFinderFailsAndLeavesNothingBehind) {
    finder().quit();
    session.log().clear();
    EXPECT_FALSE(tracker.start());
    EXPECT_EQ(session.log().messages(""), Lines{"Scrivlet: Finder not running"});
    EXPECT_FALSE(tracker.observer);
    EXPECT_FALSE(tracker.finderPID);
    EXPECT_EQ(desktop().liveObserverCount(), 0u);
    EXPECT_TRUE(published.empty());
}

TEST_F(TrackerLifecycle, StartFailsWhenNoObserverCanBeMadeAndKeepsFindersIdentity) {
    openWindow();
    desktop().setObserverCreationFails(true);
    session.log().clear();
    EXPECT_FALSE(tracker.start());
    EXPECT_EQ(session.log().messages(""), Lines{"Scrivlet: Failed to create AX observer"});
    EXPECT_FALSE(tracker.observer);
    EXPECT_FALSE(tracker.observedWindow);
    EXPECT_EQ(tracker.finderPID, pid);
    EXPECT_EQ(tracker.finderApp, AXUIElementCreateApplication(pid));
    EXPECT_EQ(desktop().liveObserverCount(), 0u);
    EXPECT_TRUE(published.empty());
}

TEST_F(TrackerLifecycle, SecondStartReplacesTheObserverAndPublishesAgain) {
    const std::string a = file("a.txt");
    const std::string b = file("b.txt");
    openWindow();
    finder().select({a});
    ASSERT_TRUE(tracker.start());
    ASSERT_TRUE(tracker.start());
    EXPECT_EQ(desktop().liveObserverCount(), 1u);
    EXPECT_EQ(registrations(), 6u);
    EXPECT_EQ(takePublished(), (Lines{urlOf(a), urlOf(a)}));

    select({b}); // heard once, not once per start
    EXPECT_EQ(takePublished(), Lines{urlOf(b)});
}

TEST_F(TrackerLifecycle, StopWhenIdleChangesNothing) {
    session.log().clear();
    tracker.stop();
    tracker.stop();
    EXPECT_TRUE(published.empty());
    EXPECT_FALSE(tracker.selectionSubject.value());
    EXPECT_TRUE(session.log().messages("").empty());
    EXPECT_EQ(desktop().liveObserverCount(), 0u);
}

TEST_F(TrackerLifecycle, StopSilencesAndStartResumesTheSameSubscriberAndCallback) {
    const std::string a = file("a.txt");
    const std::string b = file("b.txt");
    const std::uint32_t window = openWindow();
    ASSERT_TRUE(tracker.start());
    select({a});
    tracker.stop();
    EXPECT_EQ(desktop().liveObserverCount(), 0u);
    EXPECT_FALSE(tracker.observedWindow);

    select({b});
    finder().moveWindow(window, {200, 80});
    session.desktop().settle();
    EXPECT_EQ(takePublished(), Lines{urlOf(a)});
    EXPECT_EQ(geometryChanges, 0);

    ASSERT_TRUE(tracker.start());
    finder().moveWindow(window, {300, 80});
    session.desktop().settle();
    EXPECT_EQ(takePublished(), Lines{urlOf(b)});
    EXPECT_EQ(geometryChanges, 1);
}

// --- Finder's focused window -------------------------------------------------------------

using TrackerWindow = TrackerTest;

TEST_F(TrackerWindow, MovesAndResizesOfTheFocusedWindowAreReported) {
    const std::uint32_t window = openWindow();
    ASSERT_TRUE(tracker.start());
    finder().moveWindow(window, {10, 40});
    session.desktop().settle();
    EXPECT_EQ(geometryChanges, 1);
    finder().resizeWindow(window, {640, 480});
    session.desktop().settle();
    EXPECT_EQ(geometryChanges, 2);
    finder().setFullScreen(window, true);
    session.desktop().settle();
    EXPECT_EQ(geometryChanges, 4);
}

TEST_F(TrackerWindow, FocusChangeMovesTheRegistrationsToTheNewWindow) {
    const std::uint32_t first = openWindow();
    ASSERT_TRUE(tracker.start());
    const std::uint32_t second = openWindow(CGRect(300, 200, 700, 500));
    EXPECT_EQ(geometryChanges, 1); // the focus change itself
    EXPECT_EQ(tracker.observedWindow, (AXUIElement{pid, second}));
    EXPECT_EQ(registrations(), 6u);

    finder().moveWindow(first, {0, 30});
    finder().resizeWindow(first, {200, 200});
    session.desktop().settle();
    EXPECT_EQ(geometryChanges, 1);
    finder().moveWindow(second, {0, 30});
    session.desktop().settle();
    EXPECT_EQ(geometryChanges, 2);

    finder().closeWindow(second); // focus falls back to the first window
    session.desktop().settle();
    EXPECT_EQ(tracker.observedWindow, (AXUIElement{pid, first}));
    EXPECT_EQ(geometryChanges, 3);
}

TEST_F(TrackerWindow, FocusedDialogLeavesNoWindowObserved) {
    const std::uint32_t window = openWindow();
    ASSERT_TRUE(tracker.start());
    const std::uint32_t dialog = openWindow(CGRect(400, 300, 400, 200), "AXDialog");
    EXPECT_EQ(geometryChanges, 1);
    EXPECT_FALSE(tracker.observedWindow);
    EXPECT_EQ(registrations(), 4u);

    finder().moveWindow(dialog, {10, 40});
    finder().moveWindow(window, {10, 40});
    finder().resizeWindow(window, {300, 300});
    session.desktop().settle();
    EXPECT_EQ(geometryChanges, 1);

    finder().focusWindow(window);
    session.desktop().settle();
    EXPECT_EQ(tracker.observedWindow, (AXUIElement{pid, window}));
    EXPECT_EQ(geometryChanges, 2);
}

// --- Geometry ----------------------------------------------------------------------------

using TrackerGeometry = TrackerTest;

TEST_F(TrackerGeometry, WindowFrameIsFlippedWithThePrimaryScreensHeight) {
    const std::uint32_t number = openWindow(CGRect(100, 50, 800, 600));
    const AXUIElement window{pid, number};
    auto frame = tracker.windowFrame(window);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->frame, CGRect(100, 250, 800, 600));
    EXPECT_FALSE(frame->isFullscreen);
    EXPECT_EQ(tracker.windowListFrame(number), CGRect(100, 250, 800, 600));
    EXPECT_FALSE(tracker.windowListFrame(number + 1000));

    // The primary screen is the one at the origin, wherever it is listed.
    session.desktop().setScreens({{CGRect(-1920, 0, 1920, 1200), CGRect(-1920, 0, 1920, 1175)},
                                  {CGRect(0, 0, 1440, 900), CGRect(0, 0, 1440, 875)}});
    EXPECT_EQ(tracker.windowFrame(window)->frame, CGRect(100, 250, 800, 600));
    EXPECT_EQ(tracker.windowListFrame(number), CGRect(100, 250, 800, 600));

    // Without a screen at the origin, the first one stands in.
    session.desktop().setScreens({{CGRect(-1280, 0, 1280, 1024), CGRect(-1280, 0, 1280, 1000)},
                                  {CGRect(1440, 0, 1920, 1080), CGRect(1440, 0, 1920, 1055)}});
    EXPECT_EQ(tracker.windowFrame(window)->frame, CGRect(100, 374, 800, 600));
    EXPECT_EQ(tracker.cocoaRect(CGRect(0, 0, 10, 24)), CGRect(0, 1000, 10, 24));

    session.desktop().setScreens({});
    EXPECT_FALSE(tracker.windowFrame(window));
    EXPECT_FALSE(tracker.windowListFrame(number));
    EXPECT_FALSE(tracker.cocoaRect(CGRect(0, 0, 10, 10)));
}

TEST_F(TrackerGeometry, WindowFrameReportsFullScreenAndFailsForGoneWindows) {
    const std::uint32_t number = openWindow();
    const AXUIElement window{pid, number};
    finder().setFullScreen(number, true);
    auto frame = tracker.windowFrame(window);
    ASSERT_TRUE(frame);
    EXPECT_TRUE(frame->isFullscreen);
    EXPECT_EQ(frame->frame, CGRect(0, 0, 1440, 900));

    finder().setFullScreenAttribute(number, std::nullopt); // unreadable reads as windowed
    frame = tracker.windowFrame(window);
    ASSERT_TRUE(frame);
    EXPECT_FALSE(frame->isFullscreen);
    EXPECT_EQ(frame->frame, CGRect(0, 0, 1440, 900));

    session.desktop().setAccessibilityTrusted(false);
    EXPECT_FALSE(tracker.windowFrame(window));
    session.desktop().setAccessibilityTrusted(true);
    finder().closeWindow(number);
    EXPECT_FALSE(tracker.windowFrame(window));
    EXPECT_FALSE(tracker.windowListFrame(number));
}

TEST_F(TrackerGeometry, MatchingWindowIDPicksTheNearestSizeAmongFindersOwnWindows) {
    const std::uint32_t big = openWindow(CGRect(0, 30, 1000, 700));
    ASSERT_TRUE(tracker.start());
    EXPECT_EQ(tracker.matchingWindowID(600, 400), big);
    const std::uint32_t back = openWindow(CGRect(0, 30, 640, 400));
    const std::uint32_t front = openWindow(CGRect(50, 60, 600, 440)); // same distance, in front
    EXPECT_EQ(tracker.matchingWindowID(620, 420), front);
    finder().focusWindow(back);
    EXPECT_EQ(tracker.matchingWindowID(620, 420), back);
    EXPECT_EQ(tracker.matchingWindowID(990, 720), big);

    // Exact matches that are not Finder's document windows do not count.
    SimulatedWindow other;
    other.ownerPID = pid + 1000;
    other.ownerName = "Other";
    other.bounds = CGRect(0, 0, 990, 720);
    desktop().addWindow(other);
    SimulatedWindow panel = other;
    panel.ownerPID = pid;
    panel.ownerName = "Finder";
    panel.layer = 3;
    desktop().addWindow(panel);
    SimulatedWindow hidden = panel;
    hidden.layer = 0;
    hidden.onScreen = false;
    desktop().addWindow(hidden);
    EXPECT_EQ(tracker.matchingWindowID(990, 720), big);
    EXPECT_TRUE(tracker.finderHasOnScreenWindow());

    for (const std::uint32_t number : {big, back, front}) {
        finder().closeWindow(number);
    }
    EXPECT_FALSE(tracker.matchingWindowID(990, 720));
    EXPECT_FALSE(tracker.finderHasOnScreenWindow());
    tracker.stop();
    EXPECT_FALSE(tracker.matchingWindowID(990, 720));
}

// Finder's desktop is one of its on-screen windows in the window server's full list, but
// never a window that the tracker reports or follows.
TEST_F(TrackerGeometry, FindersDesktopIsNoWindowOfItsOwn) {
    ASSERT_TRUE(finder().desktopWindow());
    const auto all = CGWindowListCopyWindowInfo(kCGWindowListOptionOnScreenOnly, 0);
    ASSERT_TRUE(all);
    EXPECT_TRUE(std::any_of(all->begin(), all->end(), [&](const WindowDescription& window) {
        return window.windowNumber == *finder().desktopWindow() && window.ownerPID == pid;
    }));
    const auto withoutDesktop = CGWindowListCopyWindowInfo(
        kCGWindowListOptionOnScreenOnly | kCGWindowListExcludeDesktopElements, 0);
    ASSERT_TRUE(withoutDesktop);
    EXPECT_TRUE(withoutDesktop->empty());

    ASSERT_TRUE(tracker.start());
    EXPECT_FALSE(tracker.finderHasOnScreenWindow());
    EXPECT_FALSE(tracker.matchingWindowID(1440, 900));
    EXPECT_FALSE(tracker.observedWindow);
}

} // namespace
