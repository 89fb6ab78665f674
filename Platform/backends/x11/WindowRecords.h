#pragma once

#include "Platform/base/Geometry.h"
#include "Platform/desktop/FileManagerIdentity.h"
#include "Platform/desktop/RunningApplication.h"
#include "Platform/desktop/Screen.h"
#include "Platform/desktop/WindowList.h"

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// What the X11 desktop makes of the window manager's answers, as plain values: no X
// connection and no toolkit here, so every rule can be checked without a display.
namespace scrivlet::x11 {

// The program that plays the file manager here: the session's (SessionFileManager).
inline constexpr const char* fileManagerName = "Dolphin";
inline constexpr const char* gnomeFileManagerName = "Files";

// What a client window is for (_NET_WM_WINDOW_TYPE), as far as its layer depends on it.
enum class WindowKind {
    normal,
    dialog,
    utility,
    toolbar,
    menu,
    splash,
    dock,
    desktop,
    notification
};

// The first type the window lists that is known (EWMH: in order of preference); a window
// without one is normal.
WindowKind windowKindFromTypeNames(const std::vector<std::string>& atomNames);
// The window server's layer of a kind of window: 0 for application windows.
std::int64_t layerOf(WindowKind kind);

// _NET_FRAME_EXTENTS: the window manager's decorations around the client area.
struct FrameExtents {
    double left = 0;
    double right = 0;
    double top = 0;
    double bottom = 0;
    friend bool operator==(const FrameExtents&, const FrameExtents&) = default;
};

// A top-level client window as the X server and the window manager describe it.
inline constexpr std::uint32_t allDesktops = 0xFFFFFFFF;
struct ClientWindow {
    std::uint32_t id = 0;
    std::optional<pid_t> pid; // _NET_WM_PID, which a client may leave out
    std::string instanceName; // WM_CLASS
    std::string className;
    WindowKind kind = WindowKind::normal;
    CGRect clientRect; // the client area in root coordinates (origin top left)
    FrameExtents frame;
    bool fullScreen = false;              // _NET_WM_STATE_FULLSCREEN
    bool hidden = false;                  // _NET_WM_STATE_HIDDEN: minimized or shaded away
    std::optional<std::uint32_t> desktop; // _NET_WM_DESKTOP; allDesktops: sticky
    friend bool operator==(const ClientWindow&, const ClientWindow&) = default;
};

// The window with its decorations, in root coordinates.
CGRect outerFrame(const ClientWindow& window);

// X counts device pixels; the toolkit, and with it the app, counts device-independent ones: at
// a scale factor of 2, half as many. Windows, monitors and work areas are read from X in the
// first and turned into the second.
CGRect inToolkitUnits(const CGRect& rect, double pixelRatio);
ClientWindow inToolkitUnits(ClientWindow window, double pixelRatio);

// Between X's root coordinates and the app's two spaces: the window server's (origin at the
// top left of the primary screen, y down) and the screens' (origin at the bottom left of the
// primary screen, y up).
struct CoordinateSpace {
    CGRect primary; // the primary screen, in root coordinates

    CGRect toWindowServer(const CGRect& root) const;
    CGRect toScreens(const CGRect& root) const;
    CGRect rootFromScreens(const CGRect& screens) const;
};

// A monitor as the toolkit reports it, in root coordinates.
struct ScreenGeometry {
    CGRect geometry;
    CGRect available; // without panels and docks
};
// The screens in the screens' space; `primaryIndex` picks the primary one (the first when out
// of range). Empty for no screens.
std::vector<Screen> screensFromGeometry(const std::vector<ScreenGeometry>& screens,
                                        std::size_t primaryIndex);
CoordinateSpace coordinateSpaceOf(const std::vector<ScreenGeometry>& screens,
                                  std::size_t primaryIndex);

// A monitor as RandR names it: a part of the X screen, often one output, but any rectangle a
// user set (xrandr --setmonitor), in the X screen's pixels.
struct MonitorRecord {
    CGRect frame;
    bool primary = false;
};
// One screen per monitor; its available part is the monitor within the window manager's work
// area, or the whole monitor when the work area leaves none of it (or is not known).
std::vector<ScreenGeometry> screensOfMonitors(const std::vector<MonitorRecord>& monitors,
                                              std::optional<CGRect> workArea);
// The primary monitor, else the first.
std::size_t primaryMonitorIndex(const std::vector<MonitorRecord>& monitors);

// The window server's list, front to back, from the clients bottom to top
// (_NET_CLIENT_LIST_STACKING order). A window is on screen when it is not hidden and shows on
// `currentDesktop` (or that is unknown).
std::vector<WindowServerEntry> windowServerEntries(const std::vector<ClientWindow>& bottomToTop,
                                                   const CoordinateSpace& space,
                                                   std::optional<std::uint32_t> currentDesktop);

// Which program a process is: the file manager gets the identifier the app looks for.
struct ApplicationIdentity {
    std::string bundleIdentifier;
    std::string localizedName;
};
ApplicationIdentity identifyApplication(const std::string& processName,
                                        const std::string& className);
bool isFileManager(const ApplicationIdentity& identity);

// The applications that own client windows, one per process, in the order first seen.
// `processName` tells the name of a process (its /proc comm) or "" once it has gone.
template <typename NameOf>
std::vector<RunningApplicationInfo> applicationsOf(const std::vector<ClientWindow>& windows,
                                                   NameOf processName);

// The launches and ends between two lists of applications.
struct ApplicationChanges {
    std::vector<RunningApplicationInfo> launched;
    std::vector<RunningApplicationInfo> terminated;
};
ApplicationChanges compareApplications(const std::vector<RunningApplicationInfo>& before,
                                       const std::vector<RunningApplicationInfo>& after);

// Where the focus is, as far as the app asks: the frontmost application and the file
// manager's focused window.
struct FocusState {
    std::optional<pid_t> frontmost; // 0: an application whose process is not known
    std::optional<std::uint32_t> fileManagerWindow;
    friend bool operator==(const FocusState&, const FocusState&) = default;
};
// What a change of the active window (or of the clients) tells the app.
struct FocusChange {
    FocusState state;
    std::optional<pid_t> activated;        // another application came to the front
    bool fileManagerWindowChanged = false; // the file manager's focused window is another
};
// The active window's owner becomes frontmost (nothing active: the frontmost stays); a window
// without _NET_WM_PID brings an application of unknown process (0) to the front. The file
// manager's focused window is its active normal window, else the one it had while that
// still exists, else its frontmost normal window.
FocusChange nextFocus(const FocusState& before, std::optional<std::uint32_t> activeWindow,
                      const std::vector<ClientWindow>& bottomToTop,
                      std::optional<pid_t> fileManager);

// How a window's outer frame changed between two looks at it.
struct GeometryChange {
    bool moved = false;
    bool resized = false;
};
GeometryChange compareFrames(const CGRect& before, const CGRect& after);

template <typename NameOf>
std::vector<RunningApplicationInfo> applicationsOf(const std::vector<ClientWindow>& windows,
                                                   NameOf processName) {
    std::vector<RunningApplicationInfo> applications;
    for (const ClientWindow& window : windows) {
        if (!window.pid || *window.pid <= 0) {
            continue;
        }
        bool known = false;
        for (const RunningApplicationInfo& application : applications) {
            known = known || application.processIdentifier == *window.pid;
        }
        if (known) {
            continue;
        }
        ApplicationIdentity identity =
            identifyApplication(processName(*window.pid), window.className);
        applications.push_back({std::move(identity.bundleIdentifier), *window.pid,
                                std::move(identity.localizedName), false});
    }
    return applications;
}

} // namespace scrivlet::x11
