#include "Platform/backends/x11/WindowRecords.h"

#include "Platform/desktop/SessionFileManager.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <utility>

namespace scrivlet::x11 {

namespace {

// Layers as the window server numbers them: desktop below everything, application windows
// at 0, then floating tool windows, the dock, menus and notifications above.
constexpr std::int64_t utilityLayer = 3;
constexpr std::int64_t dockLayer = 20;
constexpr std::int64_t menuLayer = 24;
constexpr std::int64_t notificationLayer = 25;

std::string lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool samePlace(double a, double b) {
    return std::abs(a - b) < 0.5;
}

bool showsOn(const ClientWindow& window, std::optional<std::uint32_t> currentDesktop) {
    return !currentDesktop || !window.desktop || *window.desktop == allDesktops ||
           *window.desktop == *currentDesktop;
}

const ClientWindow* find(const std::vector<ClientWindow>& windows, std::uint32_t id) {
    const auto found = std::find_if(windows.begin(), windows.end(),
                                    [id](const ClientWindow& window) { return window.id == id; });
    return found == windows.end() ? nullptr : &*found;
}

bool isFileManagerWindow(const ClientWindow* window, std::optional<pid_t> fileManager) {
    return window != nullptr && fileManager && window->pid == fileManager &&
           window->kind == WindowKind::normal;
}

} // namespace

WindowKind windowKindFromTypeNames(const std::vector<std::string>& atomNames) {
    static const std::array<std::pair<const char*, WindowKind>, 12> known{{
        {"_NET_WM_WINDOW_TYPE_NORMAL", WindowKind::normal},
        {"_NET_WM_WINDOW_TYPE_DIALOG", WindowKind::dialog},
        {"_NET_WM_WINDOW_TYPE_UTILITY", WindowKind::utility},
        {"_NET_WM_WINDOW_TYPE_TOOLBAR", WindowKind::toolbar},
        {"_NET_WM_WINDOW_TYPE_MENU", WindowKind::menu},
        {"_NET_WM_WINDOW_TYPE_DROPDOWN_MENU", WindowKind::menu},
        {"_NET_WM_WINDOW_TYPE_POPUP_MENU", WindowKind::menu},
        {"_NET_WM_WINDOW_TYPE_SPLASH", WindowKind::splash},
        {"_NET_WM_WINDOW_TYPE_DOCK", WindowKind::dock},
        {"_NET_WM_WINDOW_TYPE_DESKTOP", WindowKind::desktop},
        {"_NET_WM_WINDOW_TYPE_NOTIFICATION", WindowKind::notification},
        {"_NET_WM_WINDOW_TYPE_TOOLTIP", WindowKind::notification},
    }};
    for (const std::string& name : atomNames) {
        for (const auto& [atom, kind] : known) {
            if (name == atom) {
                return kind;
            }
        }
    }
    return WindowKind::normal;
}

std::int64_t layerOf(WindowKind kind) {
    switch (kind) {
    case WindowKind::normal:
    case WindowKind::dialog:
        return 0;
    case WindowKind::utility:
    case WindowKind::toolbar:
    case WindowKind::splash:
        return utilityLayer;
    case WindowKind::dock:
        return dockLayer;
    case WindowKind::menu:
        return menuLayer;
    case WindowKind::notification:
        return notificationLayer;
    case WindowKind::desktop:
        return kCGDesktopWindowLevel;
    }
    return 0;
}

CGRect outerFrame(const ClientWindow& window) {
    const CGRect& client = window.clientRect;
    const FrameExtents& frame = window.frame;
    return CGRect(client.minX() - frame.left, client.minY() - frame.top,
                  client.width() + frame.left + frame.right,
                  client.height() + frame.top + frame.bottom);
}

CGRect CoordinateSpace::toWindowServer(const CGRect& root) const {
    return CGRect(root.minX() - primary.minX(), root.minY() - primary.minY(), root.width(),
                  root.height());
}

CGRect CoordinateSpace::toScreens(const CGRect& root) const {
    const CGRect topLeft = toWindowServer(root);
    return CGRect(topLeft.minX(), primary.height() - topLeft.minY() - topLeft.height(),
                  topLeft.width(), topLeft.height());
}

CGRect CoordinateSpace::rootFromScreens(const CGRect& screens) const {
    return CGRect(screens.minX() + primary.minX(),
                  primary.minY() + primary.height() - screens.minY() - screens.height(),
                  screens.width(), screens.height());
}

CoordinateSpace coordinateSpaceOf(const std::vector<ScreenGeometry>& screens,
                                  std::size_t primaryIndex) {
    if (screens.empty()) {
        return CoordinateSpace{};
    }
    return CoordinateSpace{screens[primaryIndex < screens.size() ? primaryIndex : 0].geometry};
}

CGRect inToolkitUnits(const CGRect& rect, double pixelRatio) {
    if (!(pixelRatio > 0) || pixelRatio == 1) {
        return rect;
    }
    return CGRect(rect.minX() / pixelRatio, rect.minY() / pixelRatio, rect.width() / pixelRatio,
                  rect.height() / pixelRatio);
}

ClientWindow inToolkitUnits(ClientWindow window, double pixelRatio) {
    if (!(pixelRatio > 0) || pixelRatio == 1) {
        return window;
    }
    window.clientRect = inToolkitUnits(window.clientRect, pixelRatio);
    window.frame = FrameExtents{window.frame.left / pixelRatio, window.frame.right / pixelRatio,
                                window.frame.top / pixelRatio, window.frame.bottom / pixelRatio};
    return window;
}

std::vector<ScreenGeometry> screensOfMonitors(const std::vector<MonitorRecord>& monitors,
                                              std::optional<CGRect> workArea) {
    std::vector<ScreenGeometry> screens;
    screens.reserve(monitors.size());
    for (const MonitorRecord& monitor : monitors) {
        CGRect available = monitor.frame;
        if (workArea && workArea->intersects(monitor.frame)) {
            const double minX = std::max(monitor.frame.minX(), workArea->minX());
            const double minY = std::max(monitor.frame.minY(), workArea->minY());
            const double maxX = std::min(monitor.frame.maxX(), workArea->maxX());
            const double maxY = std::min(monitor.frame.maxY(), workArea->maxY());
            available = CGRect(minX, minY, maxX - minX, maxY - minY);
        }
        screens.push_back({monitor.frame, available});
    }
    return screens;
}

std::size_t primaryMonitorIndex(const std::vector<MonitorRecord>& monitors) {
    const auto primary = std::find_if(monitors.begin(), monitors.end(),
                                      [](const MonitorRecord& monitor) { return monitor.primary; });
    return primary == monitors.end() ? 0 : static_cast<std::size_t>(primary - monitors.begin());
}

std::vector<Screen> screensFromGeometry(const std::vector<ScreenGeometry>& screens,
                                        std::size_t primaryIndex) {
    const CoordinateSpace space = coordinateSpaceOf(screens, primaryIndex);
    std::vector<Screen> converted;
    converted.reserve(screens.size());
    for (const ScreenGeometry& screen : screens) {
        converted.push_back({space.toScreens(screen.geometry), space.toScreens(screen.available)});
    }
    // The primary screen comes first, as the menu bar's screen does.
    if (primaryIndex < converted.size() && primaryIndex > 0) {
        std::rotate(converted.begin(), converted.begin() + static_cast<long>(primaryIndex),
                    converted.begin() + static_cast<long>(primaryIndex) + 1);
    }
    return converted;
}

std::vector<WindowServerEntry> windowServerEntries(const std::vector<ClientWindow>& bottomToTop,
                                                   const CoordinateSpace& space,
                                                   std::optional<std::uint32_t> currentDesktop) {
    std::vector<WindowServerEntry> entries;
    entries.reserve(bottomToTop.size());
    for (auto window = bottomToTop.rbegin(); window != bottomToTop.rend(); ++window) {
        entries.push_back({window->id, window->pid.value_or(0), window->className,
                           layerOf(window->kind), space.toWindowServer(outerFrame(*window)),
                           !window->hidden && showsOn(*window, currentDesktop)});
    }
    return entries;
}

ApplicationIdentity identifyApplication(const std::string& processName,
                                        const std::string& className) {
    const std::string process = lowercase(processName);
    const std::string windowClass = lowercase(className);
    // Only the session's file manager plays the part: with two running, the app follows one.
    if (sessionFileManager() == FileManagerProgram::dolphin &&
        (process == "dolphin" || windowClass == "dolphin" || windowClass == "org.kde.dolphin")) {
        return {fileManagerBundleIdentifier, fileManagerName};
    }
    if (sessionFileManager() == FileManagerProgram::nautilus &&
        (process == "nautilus" || windowClass == "org.gnome.nautilus")) {
        return {fileManagerBundleIdentifier, gnomeFileManagerName};
    }
    const std::string& name = className.empty() ? processName : className;
    const std::string key = windowClass.empty() ? process : windowClass;
    // A class that already reads like a reverse domain name is kept as it is.
    return {key.find('.') != std::string::npos ? key : "org.x11." + key, name};
}

bool isFileManager(const ApplicationIdentity& identity) {
    return identity.bundleIdentifier == fileManagerBundleIdentifier;
}

ApplicationChanges compareApplications(const std::vector<RunningApplicationInfo>& before,
                                       const std::vector<RunningApplicationInfo>& after) {
    const auto contains = [](const std::vector<RunningApplicationInfo>& list, pid_t pid) {
        return std::any_of(list.begin(), list.end(), [pid](const RunningApplicationInfo& app) {
            return app.processIdentifier == pid;
        });
    };
    ApplicationChanges changes;
    for (const RunningApplicationInfo& application : after) {
        if (!contains(before, application.processIdentifier)) {
            changes.launched.push_back(application);
        }
    }
    for (const RunningApplicationInfo& application : before) {
        if (!contains(after, application.processIdentifier)) {
            changes.terminated.push_back(application);
        }
    }
    return changes;
}

FocusChange nextFocus(const FocusState& before, std::optional<std::uint32_t> activeWindow,
                      const std::vector<ClientWindow>& bottomToTop,
                      std::optional<pid_t> fileManager) {
    FocusChange change;
    change.state = before;
    const ClientWindow* active = activeWindow ? find(bottomToTop, *activeWindow) : nullptr;
    if (active != nullptr) {
        const pid_t owner = active->pid && *active->pid > 0 ? *active->pid : 0;
        if (owner != before.frontmost) {
            change.state.frontmost = owner;
            change.activated = owner;
        }
    }

    std::optional<std::uint32_t> focused;
    if (isFileManagerWindow(active, fileManager)) {
        focused = active->id;
    } else if (before.fileManagerWindow &&
               isFileManagerWindow(find(bottomToTop, *before.fileManagerWindow), fileManager)) {
        focused = before.fileManagerWindow;
    } else {
        for (auto window = bottomToTop.rbegin(); window != bottomToTop.rend(); ++window) {
            if (isFileManagerWindow(&*window, fileManager)) {
                focused = window->id;
                break;
            }
        }
    }
    change.state.fileManagerWindow = focused;
    change.fileManagerWindowChanged = focused != before.fileManagerWindow;
    return change;
}

GeometryChange compareFrames(const CGRect& before, const CGRect& after) {
    return GeometryChange{
        !samePlace(before.minX(), after.minX()) || !samePlace(before.minY(), after.minY()),
        !samePlace(before.width(), after.width()) || !samePlace(before.height(), after.height())};
}

} // namespace scrivlet::x11
