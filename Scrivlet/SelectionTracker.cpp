#include "Scrivlet/SelectionTracker.h"

#include "Platform/base/Log.h"
#include "Platform/base/RunLoop.h"
#include "Platform/base/RunLoopSource.h"
#include "Platform/desktop/AppleScript.h"
#include "Platform/desktop/FileManagerIdentity.h"
#include "Platform/desktop/FileManagerScripts.h"
#include "Platform/desktop/RunningApplication.h"
#include "Platform/desktop/Screen.h"
#include "Platform/desktop/WindowList.h"

#include <limits>

namespace scrivlet {

namespace {

const char* const applicationNotifications[] = {
    "AXFocusedWindowChanged",
    "AXFocusedUIElementChanged",
    "AXSelectedChildrenChanged",
    "AXSelectedRowsChanged",
};

// Height of the primary screen (the one at the origin, else the first); nothing without
// screens. Accessibility and the window server count y from the top of that screen.
std::optional<double> primaryScreenHeight() {
    if (RunLoop::hasMain() && !RunLoop::main().isOwnerThread()) {
        NSLog("Scrivlet: screen geometry read off the main thread");
    }
    const std::vector<Screen> screens = Screen::screens();
    if (screens.empty()) {
        return std::nullopt;
    }
    for (const Screen& screen : screens) {
        if (screen.frame.origin.x == 0 && screen.frame.origin.y == 0) {
            return screen.frame.height();
        }
    }
    return screens.front().frame.height();
}

bool isFinderWindowOnLayerZero(const WindowDescription& description, pid_t finderPID) {
    return description.ownerPID && description.layer && *description.ownerPID == finderPID &&
           *description.layer == 0;
}

} // namespace

const std::string& SelectionTracker::selectionScript() {
    return fileManagerSelectionScript();
}

SelectionTracker::SelectionTracker() = default;

SelectionTracker::~SelectionTracker() = default;

bool SelectionTracker::start(std::optional<pid_t> preferredPID) {
    stop();
    const auto finders =
        RunningApplication::runningApplicationsWithBundleIdentifier(fileManagerBundleIdentifier);
    if (finders.empty()) {
        NSLog("Scrivlet: Finder not running");
        return false;
    }
    finderPID = finders.front().processIdentifier();
    for (const RunningApplication& finder : finders) {
        if (finder.processIdentifier() == preferredPID) {
            finderPID = preferredPID;
        }
    }
    finderApp = AXUIElementCreateApplication(*finderPID);
    AXObserverRef created;
    if (AXObserverCreate(*finderPID, &SelectionTracker::observerCallback, created) !=
            AXError::success ||
        !created) {
        NSLog("Scrivlet: Failed to create AX observer");
        return false;
    }
    observer = created;
    for (const char* notification : applicationNotifications) {
        AXObserverAddNotification(observer, *finderApp, notification, this);
    }
    CFRunLoopAddSource(CFRunLoopGetMain(), AXObserverGetRunLoopSource(observer),
                       RunLoopMode::commonModes);
    NSLog("Scrivlet: AX Observer started for Finder (PID %d)", {std::to_string(*finderPID)});
    attachFocusedWindow();
    refreshSelection();
    return true;
}

void SelectionTracker::stop() {
    if (observedWindow && observer) {
        AXObserverRemoveNotification(observer, *observedWindow, "AXMoved");
        AXObserverRemoveNotification(observer, *observedWindow, "AXResized");
    }
    observedWindow.reset();
    if (observer) {
        CFRunLoopRemoveSource(CFRunLoopGetMain(), AXObserverGetRunLoopSource(observer),
                              RunLoopMode::commonModes);
    }
    observer.reset();
    finderApp.reset();
    finderPID.reset();
    lastPath.reset();
}

void SelectionTracker::observerCallback(const AXObserverRef& /*observer*/,
                                        const AXUIElement& /*element*/,
                                        const std::string& notification, void* context) {
    if (context == nullptr) {
        return;
    }
    static_cast<SelectionTracker*>(context)->handleNotification(notification);
}

void SelectionTracker::handleNotification(const std::string& name) {
    if (name == "AXMoved" || name == "AXResized") {
        if (onGeometryChange) {
            onGeometryChange();
        }
        return;
    }
    if (name == "AXFocusedWindowChanged") {
        attachFocusedWindow();
        if (onGeometryChange) {
            onGeometryChange();
        }
        refreshSelection();
        return;
    }
    refreshSelection();
}

void SelectionTracker::attachFocusedWindow() {
    if (!observer) {
        return;
    }
    if (observedWindow) {
        AXObserverRemoveNotification(observer, *observedWindow, "AXMoved");
        AXObserverRemoveNotification(observer, *observedWindow, "AXResized");
        observedWindow.reset();
    }
    if (const std::optional<AXUIElement> window = focusedStandardWindow()) {
        AXObserverAddNotification(observer, *window, "AXMoved", this);
        AXObserverAddNotification(observer, *window, "AXResized", this);
        observedWindow = window;
    }
}

std::optional<AXUIElement> SelectionTracker::focusedStandardWindow() const {
    if (!finderApp) {
        return std::nullopt;
    }
    AXAttributeValue window;
    if (AXUIElementCopyAttributeValue(*finderApp, "AXFocusedWindow", window) != AXError::success ||
        !std::holds_alternative<AXUIElement>(window)) {
        return std::nullopt;
    }
    const AXUIElement element = std::get<AXUIElement>(window);
    AXAttributeValue subrole;
    if (AXUIElementCopyAttributeValue(element, "AXSubrole", subrole) != AXError::success ||
        !std::holds_alternative<std::string>(subrole) ||
        std::get<std::string>(subrole) != "AXStandardWindow") {
        return std::nullopt;
    }
    return element;
}

void SelectionTracker::refreshSelection() {
    std::optional<std::string> path = querySelectedPath();
    if (path == lastPath) {
        return;
    }
    lastPath = path;
    selectionSubject.send(path ? std::optional<URL>(URL::fileURL(*path)) : std::nullopt);
}

std::optional<std::string> SelectionTracker::querySelectedPath() const {
    const auto script = AppleScript::withSource(selectionScript());
    if (!script) {
        return std::nullopt;
    }
    const auto result = script->executeAndReturnError(nullptr);
    if (!result || !result->stringValue() || result->stringValue()->empty()) {
        return std::nullopt;
    }
    return result->stringValue();
}

std::optional<SelectionTracker::FinderFrame>
SelectionTracker::windowFrame(const AXUIElement& window) const {
    std::vector<AXAttributeValue> values;
    if (AXUIElementCopyMultipleAttributeValues(window, {"AXPosition", "AXSize", "AXFullScreen"}, 0,
                                               values) != AXError::success ||
        values.size() != 3 || !std::holds_alternative<AXValue>(values[0]) ||
        !std::holds_alternative<AXValue>(values[1])) {
        return std::nullopt;
    }
    CGPoint position;
    CGSize size;
    if (!AXValueGetValue(std::get<AXValue>(values[0]), AXValue::Type::cgPoint, position) ||
        !AXValueGetValue(std::get<AXValue>(values[1]), AXValue::Type::cgSize, size)) {
        return std::nullopt;
    }
    const std::optional<double> primaryHeight = primaryScreenHeight();
    if (!primaryHeight) {
        return std::nullopt;
    }
    const bool isFullscreen = std::holds_alternative<bool>(values[2]) && std::get<bool>(values[2]);
    return FinderFrame{
        CGRect(position.x, *primaryHeight - position.y - size.height, size.width, size.height),
        isFullscreen};
}

bool SelectionTracker::finderHasOnScreenWindow() const {
    if (!finderPID) {
        return false;
    }
    const auto list = CGWindowListCopyWindowInfo(
        kCGWindowListOptionOnScreenOnly | kCGWindowListExcludeDesktopElements, 0);
    if (!list) {
        return false;
    }
    for (const WindowDescription& description : *list) {
        if (isFinderWindowOnLayerZero(description, *finderPID)) {
            return true;
        }
    }
    return false;
}

std::optional<std::uint32_t> SelectionTracker::matchingWindowID(double width, double height) const {
    if (!finderPID) {
        return std::nullopt;
    }
    const auto list = CGWindowListCopyWindowInfo(
        kCGWindowListOptionOnScreenOnly | kCGWindowListExcludeDesktopElements, 0);
    if (!list) {
        return std::nullopt;
    }
    double best = std::numeric_limits<double>::max();
    std::optional<std::uint32_t> result;
    for (const WindowDescription& description : *list) {
        if (!isFinderWindowOnLayerZero(description, *finderPID) || !description.windowNumber ||
            !description.bounds || *description.windowNumber < 0 ||
            *description.windowNumber > std::numeric_limits<std::uint32_t>::max()) {
            continue;
        }
        const double distance = std::abs(description.bounds->width() - width) +
                                std::abs(description.bounds->height() - height);
        if (distance < best) {
            best = distance;
            result = static_cast<std::uint32_t>(*description.windowNumber);
        }
    }
    return result;
}

std::optional<CGRect> SelectionTracker::windowListFrame(std::uint32_t windowID) const {
    const auto list = CGWindowListCopyWindowInfo(kCGWindowListOptionIncludingWindow, windowID);
    if (!list || list->empty() || !list->front().bounds) {
        return std::nullopt;
    }
    return cocoaRect(*list->front().bounds);
}

std::optional<CGRect> SelectionTracker::cocoaRect(const CGRect& bounds) const {
    const std::optional<double> primaryHeight = primaryScreenHeight();
    if (!primaryHeight) {
        return std::nullopt;
    }
    return CGRect(bounds.minX(), *primaryHeight - bounds.minY() - bounds.height(), bounds.width(),
                  bounds.height());
}

} // namespace scrivlet
