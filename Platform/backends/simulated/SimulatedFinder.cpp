#include "Platform/backends/simulated/SimulatedFinder.h"

#include "Platform/backends/simulated/SimulatedDesktop.h"
#include "Platform/base/RunLoop.h"
#include "Platform/desktop/FileManagerIdentity.h"
#include "Platform/desktop/FileManagerScripts.h"

#include <algorithm>
#include <filesystem>
#include <memory>

namespace scrivlet {

const std::string& SimulatedFinder::selectionScript() {
    return fileManagerSelectionScript();
}

pid_t SimulatedFinder::launch() {
    if (pid_) {
        return *pid_;
    }
    pid_ = nextPID_++;
    selections_.clear();
    focusedWindow_.reset();
    desktop_.addRunningApplication({fileManagerBundleIdentifier, *pid_, "Finder", false});
    openDesktopWindow();
    return *pid_;
}

// Finder draws the desktop's icons in a window of its own that covers the primary screen,
// behind every other window; it is no accessibility window and never has the focus.
void SimulatedFinder::openDesktopWindow() {
    SimulatedWindow window;
    window.ownerPID = *pid_;
    window.ownerName = "Finder";
    window.layer = kCGDesktopIconWindowLevel;
    window.subrole.clear();
    const auto screens = desktop_.screens();
    if (!screens.empty()) {
        window.bounds = desktop_.flippedRect(screens.front().frame);
    }
    desktopWindow_ = desktop_.addWindow(window, SimulatedDesktop::WindowPlace::back);
}

void SimulatedFinder::quit() {
    if (!pid_) {
        return;
    }
    std::vector<std::uint32_t> owned;
    for (const SimulatedWindow& window : desktop_.windows()) {
        if (window.ownerPID == *pid_) {
            owned.push_back(window.windowNumber);
        }
    }
    for (std::uint32_t number : owned) {
        desktop_.removeWindow(number);
    }
    desktop_.removeRunningApplication(*pid_);
    pid_.reset();
    focusedWindow_.reset();
    desktopWindow_.reset();
    selections_.clear();
}

std::vector<std::uint32_t> SimulatedFinder::windowNumbers() const {
    std::vector<std::uint32_t> numbers;
    for (const SimulatedWindow& window : desktop_.windows()) {
        if (pid_ && window.ownerPID == *pid_ && window.layer == 0) {
            numbers.push_back(window.windowNumber);
        }
    }
    return numbers;
}

std::uint32_t SimulatedFinder::openWindow(const CGRect& bounds, const std::string& subrole) {
    SimulatedWindow window;
    window.ownerPID = pid_.value_or(0);
    window.ownerName = "Finder";
    window.bounds = bounds;
    window.subrole = subrole;
    const std::uint32_t number = desktop_.addWindow(window);
    focusWindow(number);
    return number;
}

void SimulatedFinder::closeWindow(std::uint32_t windowNumber) {
    desktop_.removeWindow(windowNumber);
    selections_.erase(windowNumber);
    if (focusedWindow_ == windowNumber) {
        focusFrontmostWindow();
    }
}

void SimulatedFinder::focusFrontmostWindow() {
    const auto numbers = windowNumbers();
    focusedWindow_ = numbers.empty() ? std::nullopt : std::optional(numbers.front());
    post(0, "AXFocusedWindowChanged");
    post(0, "AXFocusedUIElementChanged");
}

void SimulatedFinder::focusWindow(std::uint32_t windowNumber) {
    if (!desktop_.window(windowNumber)) {
        return;
    }
    desktop_.bringToFront(windowNumber);
    if (focusedWindow_ == windowNumber) {
        return;
    }
    focusedWindow_ = windowNumber;
    post(0, "AXFocusedWindowChanged");
    post(0, "AXFocusedUIElementChanged");
}

void SimulatedFinder::moveFocusWithinWindow() {
    post(0, "AXFocusedUIElementChanged");
}

void SimulatedFinder::moveWindow(std::uint32_t windowNumber, CGPoint topLeft) {
    if (SimulatedWindow* window = desktop_.window(windowNumber)) {
        window->bounds.origin = topLeft;
        post(windowNumber, "AXMoved");
    }
}

void SimulatedFinder::resizeWindow(std::uint32_t windowNumber, CGSize size) {
    if (SimulatedWindow* window = desktop_.window(windowNumber)) {
        window->bounds.size = size;
        post(windowNumber, "AXResized");
    }
}

void SimulatedFinder::dragWindow(std::uint32_t windowNumber, CGPoint topLeft, double seconds) {
    if (const SimulatedWindow* window = desktop_.window(windowNumber)) {
        animateBounds(windowNumber,
                      CGRect(topLeft.x, topLeft.y, window->bounds.width(), window->bounds.height()),
                      seconds, "AXMoved");
    }
}

void SimulatedFinder::resizeWindowOverTime(std::uint32_t windowNumber, CGSize size,
                                           double seconds) {
    if (const SimulatedWindow* window = desktop_.window(windowNumber)) {
        animateBounds(windowNumber,
                      CGRect(window->bounds.minX(), window->bounds.minY(), size.width, size.height),
                      seconds, "AXResized");
    }
}

void SimulatedFinder::animateBounds(std::uint32_t windowNumber, CGRect target, double seconds,
                                    const std::string& notification) {
    const SimulatedWindow* window = desktop_.window(windowNumber);
    if (!window || !RunLoop::hasMain()) {
        return;
    }
    const CGRect start = window->bounds;
    const int steps = std::max(1, static_cast<int>(seconds * 60));
    post(windowNumber, notification);
    RunLoop& loop = RunLoop::main();
    auto step = std::make_shared<int>(0);
    auto timer = std::make_shared<RunLoop::TimerID>(0);
    *timer =
        loop.addTimer(seconds / steps, true,
                      [this, &loop, windowNumber, start, target, steps, step, timer, notification] {
                          SimulatedWindow* moving = desktop_.window(windowNumber);
                          const double t = static_cast<double>(++*step) / steps;
                          if (moving) {
                              moving->bounds =
                                  CGRect(start.minX() + (target.minX() - start.minX()) * t,
                                         start.minY() + (target.minY() - start.minY()) * t,
                                         start.width() + (target.width() - start.width()) * t,
                                         start.height() + (target.height() - start.height()) * t);
                          }
                          if (*step >= steps || !moving) {
                              loop.invalidateTimer(*timer);
                              if (moving) {
                                  post(windowNumber, notification);
                              }
                          }
                      });
}

void SimulatedFinder::setFullScreen(std::uint32_t windowNumber, bool fullScreen) {
    SimulatedWindow* window = desktop_.window(windowNumber);
    if (!window || window->fullScreen == fullScreen) {
        return;
    }
    window->fullScreen = fullScreen;
    if (fullScreen) {
        boundsBeforeFullScreen_ = window->bounds;
        const auto screens = desktop_.screens();
        if (!screens.empty()) {
            // The full-screen window covers its screen, menu bar included.
            window->bounds = desktop_.flippedRect(screens.front().frame);
        }
    } else if (boundsBeforeFullScreen_) {
        window->bounds = *boundsBeforeFullScreen_;
    }
    post(windowNumber, "AXResized");
    post(windowNumber, "AXMoved");
}

void SimulatedFinder::setFullScreenAttribute(std::uint32_t windowNumber,
                                             std::optional<bool> value) {
    if (SimulatedWindow* window = desktop_.window(windowNumber)) {
        window->fullScreen = value;
    }
}

void SimulatedFinder::select(std::vector<std::string> paths, const std::string& notification) {
    selections_[selectionOwner()] = std::move(paths);
    post(0, notification);
}

std::vector<std::string> SimulatedFinder::selection() const {
    const auto found = selections_.find(selectionOwner());
    return found == selections_.end() ? std::vector<std::string>{} : found->second;
}

void SimulatedFinder::setAliasable(const std::string& path, bool aliasable) {
    if (aliasable) {
        unaliasable_.erase(path);
    } else {
        unaliasable_.insert(path);
    }
}

ScriptReply SimulatedFinder::answerScript(const std::string& source) {
    if (!source.starts_with("tell application \"Finder\"")) {
        return scriptErrorReply("-1708", "The application did not understand it.");
    }
    if (scriptAnswer_ == ScriptAnswer::notAuthorized) {
        return scriptErrorReply("-1743", "Not authorized to send Apple events to Finder.");
    }
    if (scriptAnswer_ == ScriptAnswer::timedOut) {
        return scriptErrorReply("-1712", "AppleEvent timed out.");
    }
    launch(); // the scripting system starts Finder when it is not running
    if (source != selectionScript()) {
        return scriptErrorReply("-1708", "Finder did not understand it.");
    }
    const std::vector<std::string> selected = selection();
    if (selected.size() != 1) {
        return {std::string(), {}};
    }
    std::string path = selected.front();
    if (unaliasable_.contains(path)) {
        return scriptErrorReply("-1700", "Can\u2019t make item 1 into type alias.");
    }
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored) && !path.ends_with('/')) {
        path += '/'; // Finder names folders with a trailing slash
    }
    return {path, {}};
}

void SimulatedFinder::post(std::uint32_t windowNumber, const std::string& notification) {
    if (pid_) {
        desktop_.postAccessibilityNotification(AXUIElement{*pid_, windowNumber}, notification);
    }
}

} // namespace scrivlet
