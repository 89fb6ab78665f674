#include "Platform/simulated/SimulatedFinder.h"

#include "Platform/RunLoop.h"
#include "Platform/simulated/SimulatedDesktop.h"

#include <algorithm>
#include <filesystem>
#include <memory>

namespace scrivlet {

const std::string& SimulatedFinder::selectionScript() {
    static const std::string script = "tell application \"Finder\"\n"
                                      "    set sel to selection\n"
                                      "    if (count of sel) = 1 then\n"
                                      "        return POSIX path of (item 1 of sel as alias)\n"
                                      "    else\n"
                                      "        return \"\"\n"
                                      "    end if\n"
                                      "end tell";
    return script;
}

pid_t SimulatedFinder::launch() {
    if (pid_) {
        return *pid_;
    }
    pid_ = nextPID_++;
    selection_.clear();
    focusedWindow_.reset();
    desktop_.addRunningApplication({bundleIdentifier, *pid_, "Finder", false});
    return *pid_;
}

void SimulatedFinder::quit() {
    if (!pid_) {
        return;
    }
    for (std::uint32_t number : windowNumbers()) {
        desktop_.removeWindow(number);
    }
    desktop_.removeRunningApplication(*pid_);
    pid_.reset();
    focusedWindow_.reset();
    selection_.clear();
}

std::vector<std::uint32_t> SimulatedFinder::windowNumbers() const {
    std::vector<std::uint32_t> numbers;
    for (const SimulatedWindow& window : desktop_.windows()) {
        if (pid_ && window.ownerPID == *pid_) {
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
    selection_ = std::move(paths);
    post(0, notification);
}

std::optional<std::string> SimulatedFinder::answerScript(const std::string& source) const {
    if (!pid_ || source != selectionScript()) {
        return std::nullopt;
    }
    if (selection_.size() != 1) {
        return std::string();
    }
    std::string path = selection_.front();
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored) && !path.ends_with('/')) {
        path += '/'; // Finder names folders with a trailing slash
    }
    return path;
}

void SimulatedFinder::post(std::uint32_t windowNumber, const std::string& notification) {
    if (pid_) {
        desktop_.postAccessibilityNotification(AXUIElement{*pid_, windowNumber}, notification);
    }
}

} // namespace scrivlet
