// The X11 desktop's rules, on plain values: what EWMH says about windows becomes the window
// server's list, accessibility geometry, screens, applications and focus notifications.
#include "Platform/backends/x11/WindowRecords.h"
#include "Platform/desktop/SessionFileManager.h"

#include <gtest/gtest.h>

using namespace scrivlet;
using namespace scrivlet::x11;

namespace {

constexpr pid_t fileManagerPID = 4242;
constexpr pid_t editorPID = 777;

ClientWindow window(std::uint32_t id, std::optional<pid_t> pid, CGRect client,
                    WindowKind kind = WindowKind::normal) {
    ClientWindow made;
    made.id = id;
    made.pid = pid;
    made.kind = kind;
    made.clientRect = client;
    made.className = pid == fileManagerPID ? "dolphin" : "kate";
    return made;
}

// Two monitors side by side: a 1280 x 1024 one on the left and the primary 1920 x 1080 one
// to its right, whose top edge is 100 pixels lower; a 30-pixel panel along the primary's top.
const std::vector<ScreenGeometry> twoMonitors{
    {CGRect(0, 0, 1280, 1024), CGRect(0, 0, 1280, 1024)},
    {CGRect(1280, 100, 1920, 1080), CGRect(1280, 130, 1920, 1050)},
};
constexpr std::size_t primaryOfTwo = 1;

} // namespace

TEST(X11WindowKindTest, TheFirstKnownTypeDecidesTheLayerAndNoTypeMeansNormal) {
    EXPECT_EQ(windowKindFromTypeNames({}), WindowKind::normal);
    EXPECT_EQ(windowKindFromTypeNames({"_KDE_NET_WM_WINDOW_TYPE_OVERRIDE",
                                       "_NET_WM_WINDOW_TYPE_DIALOG", "_NET_WM_WINDOW_TYPE_NORMAL"}),
              WindowKind::dialog);
    EXPECT_EQ(windowKindFromTypeNames({"_NET_WM_WINDOW_TYPE_DESKTOP"}), WindowKind::desktop);
    EXPECT_EQ(windowKindFromTypeNames({"_NET_WM_WINDOW_TYPE_POPUP_MENU"}), WindowKind::menu);

    // Application windows share layer 0, which the app looks for; floating tool windows lie
    // above them; the desktop is a desktop element the window list can leave out.
    EXPECT_EQ(layerOf(WindowKind::normal), 0);
    EXPECT_EQ(layerOf(WindowKind::dialog), 0);
    EXPECT_GT(layerOf(WindowKind::utility), 0);
    EXPECT_GT(layerOf(WindowKind::menu), layerOf(WindowKind::dock));
    EXPECT_EQ(layerOf(WindowKind::desktop), kCGDesktopWindowLevel);
}

TEST(X11GeometryTest, FramesIncludeDecorationsAndCountFromThePrimaryScreen) {
    ClientWindow decorated = window(1, fileManagerPID, CGRect(1400, 260, 800, 500));
    decorated.frame = FrameExtents{4, 4, 28, 4};
    EXPECT_EQ(outerFrame(decorated), CGRect(1396, 232, 808, 532));

    const CoordinateSpace space = coordinateSpaceOf(twoMonitors, primaryOfTwo);
    // The window server counts down from the primary screen's top left corner...
    EXPECT_EQ(space.toWindowServer(outerFrame(decorated)), CGRect(116, 132, 808, 532));
    // ...the screens count up from its bottom left corner: 1080 - 132 - 532 = 416.
    EXPECT_EQ(space.toScreens(outerFrame(decorated)), CGRect(116, 416, 808, 532));
    // A window on the left monitor lies at negative x, as on the real desktop.
    EXPECT_EQ(space.toWindowServer(CGRect(10, 0, 100, 100)), CGRect(-1270, -100, 100, 100));

    // A panel placed in screen coordinates lands where it was placed.
    for (const CGRect& placed : {CGRect(116, 416, 300, 600), CGRect(-1200, -20, 280, 400)}) {
        EXPECT_EQ(space.toScreens(space.rootFromScreens(placed)), placed);
    }
    EXPECT_EQ(space.rootFromScreens(CGRect(0, 0, 300, 600)), CGRect(1280, 580, 300, 600));
}

TEST(X11GeometryTest, ScreensTurnIntoBottomLeftFramesWithThePrimaryFirst) {
    const std::vector<Screen> screens = screensFromGeometry(twoMonitors, primaryOfTwo);
    ASSERT_EQ(screens.size(), 2u);
    EXPECT_EQ(screens[0].frame, CGRect(0, 0, 1920, 1080));
    // The top panel takes 30 pixels off the top of the visible frame, not the bottom.
    EXPECT_EQ(screens[0].visibleFrame, CGRect(0, 0, 1920, 1050));
    // The left monitor's top is 100 pixels above the primary's: it reaches up to y = 1180.
    EXPECT_EQ(screens[1].frame, CGRect(-1280, 156, 1280, 1024));
    EXPECT_EQ(screens[1].visibleFrame, screens[1].frame);

    EXPECT_TRUE(screensFromGeometry({}, 0).empty());
    // An unknown primary falls back to the first screen.
    EXPECT_EQ(screensFromGeometry(twoMonitors, 9)[0].frame, CGRect(0, 0, 1280, 1024));
}

// Monitors set by hand on one wide X screen: the work area (a panel along the top of the whole
// screen) is cut to each monitor, and a monitor the work area misses keeps all of itself.
TEST(X11GeometryTest, MonitorsBecomeScreensWithTheirShareOfTheWorkArea) {
    const std::vector<MonitorRecord> monitors = {{CGRect(0, 0, 1600, 1000), false},
                                                 {CGRect(1600, 0, 1280, 800), true},
                                                 {CGRect(2880, 0, 400, 400), false}};
    const std::vector<ScreenGeometry> screens =
        screensOfMonitors(monitors, CGRect(0, 30, 2880, 970));
    ASSERT_EQ(screens.size(), 3u);
    EXPECT_EQ(screens[0].geometry, CGRect(0, 0, 1600, 1000));
    EXPECT_EQ(screens[0].available, CGRect(0, 30, 1600, 970));
    EXPECT_EQ(screens[1].available, CGRect(1600, 30, 1280, 770));
    EXPECT_EQ(screens[2].available, CGRect(2880, 0, 400, 400));
    EXPECT_EQ(screensOfMonitors(monitors, std::nullopt)[1].available, monitors[1].frame);

    EXPECT_EQ(primaryMonitorIndex(monitors), 1u);
    EXPECT_EQ(primaryMonitorIndex({monitors[0], monitors[2]}), 0u);
    // The primary (second) monitor comes first, at the origin; the first monitor lies left of
    // it and reaches 200 pixels below its bottom edge.
    const std::vector<Screen> converted =
        screensFromGeometry(screens, primaryMonitorIndex(monitors));
    EXPECT_EQ(converted[0].frame, CGRect(0, 0, 1280, 800));
    EXPECT_EQ(converted[1].frame, CGRect(-1600, -200, 1600, 1000));
}

// At a scale factor of 2 a window read from X in device pixels lands in the toolkit's units,
// its decorations included; at 1 (or an unreadable ratio) it stays as read.
TEST(X11GeometryTest, ScaledDisplaysCountInToolkitUnits) {
    ClientWindow decorated = window(7, 100, CGRect(200, 100, 800, 600));
    decorated.frame = FrameExtents{4, 4, 28, 4};
    EXPECT_EQ(outerFrame(inToolkitUnits(decorated, 2)), CGRect(98, 36, 404, 316));
    EXPECT_EQ(inToolkitUnits(decorated, 1), decorated);
    EXPECT_EQ(inToolkitUnits(decorated, 0), decorated);
}

TEST(X11WindowListTest, ClientsBecomeEntriesFrontToBackWithVisibility) {
    ClientWindow desktop = window(10, 900, CGRect(1280, 100, 1920, 1080), WindowKind::desktop);
    ClientWindow browser = window(11, fileManagerPID, CGRect(1300, 140, 800, 600));
    browser.frame = FrameExtents{2, 2, 20, 2};
    ClientWindow minimized = window(12, editorPID, CGRect(1500, 300, 400, 300));
    minimized.hidden = true;
    ClientWindow elsewhere = window(13, editorPID, CGRect(1500, 300, 400, 300));
    elsewhere.desktop = 1;
    ClientWindow sticky = window(14, std::nullopt, CGRect(1290, 110, 50, 50), WindowKind::utility);
    sticky.desktop = allDesktops;

    const auto entries =
        windowServerEntries({desktop, browser, minimized, elsewhere, sticky},
                            coordinateSpaceOf(twoMonitors, primaryOfTwo), std::uint32_t{0});
    ASSERT_EQ(entries.size(), 5u);
    std::vector<std::uint32_t> order;
    order.reserve(entries.size());
    for (const WindowServerEntry& entry : entries) {
        order.push_back(entry.windowNumber);
    }
    EXPECT_EQ(order, (std::vector<std::uint32_t>{14, 13, 12, 11, 10}));

    const WindowServerEntry& fileManager = entries[3];
    EXPECT_EQ(fileManager.ownerPID, fileManagerPID);
    EXPECT_EQ(fileManager.layer, 0);
    EXPECT_EQ(fileManager.bounds, CGRect(18, 20, 804, 622));
    EXPECT_TRUE(fileManager.onScreen);
    EXPECT_FALSE(entries[2].onScreen) << "a minimized window is not on screen";
    EXPECT_FALSE(entries[1].onScreen) << "a window on another desktop is not on screen";
    EXPECT_TRUE(entries[0].onScreen) << "a sticky window shows on every desktop";
    EXPECT_EQ(entries[0].ownerPID, 0) << "a window without _NET_WM_PID has no owner";
    EXPECT_EQ(entries[4].layer, kCGDesktopWindowLevel);

    // Without a current desktop every window not hidden counts as on screen.
    EXPECT_TRUE(windowServerEntries({elsewhere}, CoordinateSpace{}, std::nullopt)[0].onScreen);
}

TEST(X11ApplicationsTest, TheFileManagerIsKnownByItsProcessOrClassAndOthersKeepTheirNames) {
    for (const auto& [process, windowClass] :
         {std::pair{"dolphin", ""}, std::pair{"", "dolphin"}, std::pair{"x", "org.kde.dolphin"}}) {
        const ApplicationIdentity identity = identifyApplication(process, windowClass);
        EXPECT_EQ(identity.bundleIdentifier, "com.apple.finder") << process << windowClass;
        EXPECT_EQ(identity.localizedName, "Dolphin");
        EXPECT_TRUE(isFileManager(identity));
    }
    const ApplicationIdentity editor = identifyApplication("kate", "kate");
    EXPECT_EQ(editor.bundleIdentifier, "org.x11.kate");
    EXPECT_EQ(editor.localizedName, "kate");
    EXPECT_FALSE(isFileManager(editor));
    EXPECT_EQ(identifyApplication("okular", "org.kde.okular").bundleIdentifier, "org.kde.okular");
    EXPECT_EQ(identifyApplication("xterm", "").localizedName, "xterm");
    EXPECT_FALSE(isFileManager(identifyApplication("nautilus", "org.gnome.Nautilus")))
        << "another file manager than the session's is an application like others";
}

TEST(X11ApplicationsTest, InAGnomeSessionItsFileManagerPlaysThePartAndDolphinDoesNot) {
    setSessionFileManager(FileManagerProgram::nautilus);
    EXPECT_TRUE(isFileManager(identifyApplication("nautilus", "")));
    EXPECT_TRUE(isFileManager(identifyApplication("", "org.gnome.Nautilus")));
    EXPECT_FALSE(isFileManager(identifyApplication("dolphin", "org.kde.dolphin")));
    setSessionFileManager(FileManagerProgram::dolphin);
}

TEST(X11ApplicationsTest, OneApplicationPerProcessWithWindowsAndTheirComingsAndGoings) {
    const auto names = [](pid_t pid) { return pid == fileManagerPID ? "dolphin" : "kate"; };
    const std::vector<ClientWindow> clients{
        window(1, editorPID, CGRect(0, 0, 10, 10)),
        window(2, fileManagerPID, CGRect(0, 0, 10, 10)),
        window(3, fileManagerPID, CGRect(0, 0, 10, 10), WindowKind::dialog),
        window(4, std::nullopt, CGRect(0, 0, 10, 10)),
    };
    const auto applications = applicationsOf(clients, names);
    ASSERT_EQ(applications.size(), 2u);
    EXPECT_EQ(applications[0].processIdentifier, editorPID);
    EXPECT_EQ(applications[1].processIdentifier, fileManagerPID);
    EXPECT_EQ(applications[1].bundleIdentifier, "com.apple.finder");

    const auto editorOnly = applicationsOf(std::vector<ClientWindow>{clients[0]}, names);
    ApplicationChanges changes = compareApplications(editorOnly, applications);
    ASSERT_EQ(changes.launched.size(), 1u);
    EXPECT_EQ(changes.launched[0].processIdentifier, fileManagerPID);
    EXPECT_TRUE(changes.terminated.empty());

    changes = compareApplications(applications, editorOnly);
    EXPECT_TRUE(changes.launched.empty());
    ASSERT_EQ(changes.terminated.size(), 1u);
    EXPECT_EQ(changes.terminated[0].processIdentifier, fileManagerPID);
    EXPECT_TRUE(compareApplications(applications, applications).launched.empty());
}

TEST(X11FocusTest, ActivationFollowsTheActiveWindowsOwner) {
    const std::vector<ClientWindow> clients{
        window(1, editorPID, CGRect(0, 0, 10, 10)),
        window(2, fileManagerPID, CGRect(0, 0, 10, 10)),
        window(3, std::nullopt, CGRect(0, 0, 10, 10)),
    };
    FocusChange change = nextFocus({}, 1u, clients, fileManagerPID);
    EXPECT_EQ(change.activated, editorPID);
    EXPECT_EQ(change.state.frontmost, editorPID);

    // The same owner again, no active window, or one that is no client: no notice, and the
    // frontmost application stays.
    for (const std::optional<std::uint32_t> active :
         {std::optional<std::uint32_t>(1u), std::optional<std::uint32_t>(), std::optional(99u)}) {
        const FocusChange again = nextFocus(change.state, active, clients, fileManagerPID);
        EXPECT_FALSE(again.activated);
        EXPECT_EQ(again.state.frontmost, editorPID);
    }

    change = nextFocus(change.state, 2u, clients, fileManagerPID);
    EXPECT_EQ(change.activated, fileManagerPID);

    // A window that names no process still brings another application to the front.
    change = nextFocus(change.state, 3u, clients, fileManagerPID);
    EXPECT_EQ(change.activated, 0);
    EXPECT_EQ(change.state.frontmost, 0);
    EXPECT_FALSE(nextFocus(change.state, 3u, clients, fileManagerPID).activated);
}

TEST(X11FocusTest, TheFileManagersFocusedWindowIsItsMostRecentNormalWindow) {
    std::vector<ClientWindow> clients{
        window(1, fileManagerPID, CGRect(0, 0, 10, 10)),
        window(2, fileManagerPID, CGRect(0, 0, 10, 10)),
        window(3, editorPID, CGRect(0, 0, 10, 10)),
        window(4, fileManagerPID, CGRect(0, 0, 10, 10), WindowKind::dialog),
    };
    // Before it was ever active, its frontmost normal window counts.
    FocusChange change = nextFocus({}, 3u, clients, fileManagerPID);
    EXPECT_EQ(change.state.fileManagerWindow, 2u);
    EXPECT_TRUE(change.fileManagerWindowChanged);

    change = nextFocus(change.state, 1u, clients, fileManagerPID);
    EXPECT_EQ(change.state.fileManagerWindow, 1u);
    EXPECT_TRUE(change.fileManagerWindowChanged);

    // Another application, or one of its dialogs, in front: the window stays the focused one.
    for (const std::uint32_t active : {3u, 4u, 1u}) {
        change = nextFocus(change.state, active, clients, fileManagerPID);
        EXPECT_EQ(change.state.fileManagerWindow, 1u) << active;
        EXPECT_FALSE(change.fileManagerWindowChanged) << active;
    }

    // It closes: the next frontmost normal window takes over; the last one closes: none.
    clients.erase(clients.begin());
    change = nextFocus(change.state, 3u, clients, fileManagerPID);
    EXPECT_EQ(change.state.fileManagerWindow, 2u);
    EXPECT_TRUE(change.fileManagerWindowChanged);
    clients.erase(clients.begin());
    change = nextFocus(change.state, 3u, clients, fileManagerPID);
    EXPECT_FALSE(change.state.fileManagerWindow);
    EXPECT_TRUE(change.fileManagerWindowChanged);

    // No file manager running: no window of it, whatever is active.
    EXPECT_FALSE(nextFocus({}, 2u, clients, std::nullopt).state.fileManagerWindow);
}

TEST(X11GeometryTest, MovesAndResizesAreToldApartAndSubpixelNoiseIsNeither) {
    const CGRect before(100, 100, 800, 600);
    GeometryChange change = compareFrames(before, CGRect(140, 90, 800, 600));
    EXPECT_TRUE(change.moved);
    EXPECT_FALSE(change.resized);
    change = compareFrames(before, CGRect(100, 100, 820, 600));
    EXPECT_FALSE(change.moved);
    EXPECT_TRUE(change.resized);
    change = compareFrames(before, CGRect(100.2, 99.9, 800.3, 600));
    EXPECT_FALSE(change.moved);
    EXPECT_FALSE(change.resized);
}
