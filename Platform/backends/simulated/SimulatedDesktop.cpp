#include "Platform/backends/simulated/SimulatedDesktop.h"

#include "Platform/base/RunLoop.h"

#include <algorithm>

namespace scrivlet {

SimulatedDesktop::SimulatedDesktop() {
    const CGRect frame(0, 0, 1440, 900);
    screens_.push_back({frame, CGRect(0, 0, 1440, 900 - menuBarHeight)});
    connectFinderSync();
}

void SimulatedDesktop::setScreens(std::vector<Screen> screens) {
    screens_ = std::move(screens);
    mainScreenIndex_ = 0;
    postLater(defaultCenter_, {NSApplicationDidChangeScreenParametersNotification, std::nullopt});
}

void SimulatedDesktop::changeSpace() {
    postLater(workspace_.notificationCenter(),
              {NSWorkspaceActiveSpaceDidChangeNotification, std::nullopt});
}

void SimulatedDesktop::postLater(NotificationCenter& center, const Notification& notification) {
    if (!RunLoop::hasMain()) {
        return;
    }
    center.enqueue(RunLoop::main(), notification);
}

std::optional<Screen> SimulatedDesktop::mainScreen() const {
    if (screens_.empty()) {
        return std::nullopt;
    }
    return screens_[std::min(mainScreenIndex_, screens_.size() - 1)];
}

namespace {

RunningApplication applicationOf(const RunningApplicationInfo& info) {
    return RunningApplication(info.bundleIdentifier, info.processIdentifier, info.localizedName);
}

} // namespace

void SimulatedDesktop::addRunningApplication(RunningApplicationInfo application) {
    std::erase_if(running_, [&](const RunningApplicationInfo& existing) {
        return existing.processIdentifier == application.processIdentifier;
    });
    running_.push_back(application);
    postLater(workspace_.notificationCenter(),
              {NSWorkspaceDidLaunchApplicationNotification, applicationOf(application)});
}

void SimulatedDesktop::removeRunningApplication(pid_t processIdentifier) {
    for (const RunningApplicationInfo& application : running_) {
        if (application.processIdentifier == processIdentifier) {
            postLater(workspace_.notificationCenter(),
                      {NSWorkspaceDidTerminateApplicationNotification, applicationOf(application)});
        }
    }
    std::erase_if(running_, [&](const RunningApplicationInfo& application) {
        return application.processIdentifier == processIdentifier;
    });
}

pid_t SimulatedDesktop::launchApplication(const std::string& bundleIdentifier,
                                          const std::string& name) {
    const pid_t pid = nextApplicationPID_++;
    addRunningApplication({bundleIdentifier, pid, name, false});
    return pid;
}

bool SimulatedDesktop::activateApplication(pid_t processIdentifier) {
    const bool running = std::any_of(running_.begin(), running_.end(), [&](const auto& app) {
        return app.processIdentifier == processIdentifier;
    });
    if (!running) {
        return false;
    }
    for (RunningApplicationInfo& application : running_) {
        const bool wasActive = application.active;
        application.active = application.processIdentifier == processIdentifier;
        if (application.active && !wasActive) {
            postLater(workspace_.notificationCenter(),
                      {NSWorkspaceDidActivateApplicationNotification, applicationOf(application)});
        }
    }
    return true;
}

std::optional<RunningApplicationInfo> SimulatedDesktop::frontmostApplication() const {
    for (const RunningApplicationInfo& application : running_) {
        if (application.active) {
            return application;
        }
    }
    return std::nullopt;
}

std::optional<std::vector<WindowServerEntry>> SimulatedDesktop::windowList() const {
    std::vector<WindowServerEntry> list;
    list.reserve(windows_.size());
    for (const SimulatedWindow& window : windows_) {
        list.push_back({window.windowNumber, window.ownerPID, window.ownerName, window.layer,
                        window.bounds, window.onScreen});
    }
    return list;
}

ScriptReply SimulatedDesktop::runScript(const std::string& source) {
    return finder_.answerScript(source);
}

SimulatedWindow* SimulatedDesktop::window(std::uint32_t windowNumber) {
    for (SimulatedWindow& window : windows_) {
        if (window.windowNumber == windowNumber) {
            return &window;
        }
    }
    return nullptr;
}

std::uint32_t SimulatedDesktop::addWindow(SimulatedWindow window, WindowPlace place) {
    window.windowNumber = nextWindowNumber_++;
    windows_.insert(place == WindowPlace::front ? windows_.begin() : windows_.end(), window);
    return window.windowNumber;
}

void SimulatedDesktop::removeWindow(std::uint32_t windowNumber) {
    std::erase_if(windows_,
                  [&](const SimulatedWindow& w) { return w.windowNumber == windowNumber; });
}

void SimulatedDesktop::bringToFront(std::uint32_t windowNumber) {
    auto found = std::find_if(windows_.begin(), windows_.end(), [&](const SimulatedWindow& w) {
        return w.windowNumber == windowNumber;
    });
    if (found != windows_.end()) {
        std::rotate(windows_.begin(), found, found + 1);
    }
}

CGRect SimulatedDesktop::flippedRect(const CGRect& rect) const {
    if (screens_.empty()) {
        return rect;
    }
    const auto primary = std::find_if(screens_.begin(), screens_.end(), [](const Screen& s) {
        return s.frame.origin.x == 0 && s.frame.origin.y == 0;
    });
    const double height = (primary != screens_.end() ? *primary : screens_.front()).frame.height();
    return CGRect(rect.minX(), height - rect.minY() - rect.height(), rect.width(), rect.height());
}

AXError SimulatedDesktop::readAttribute(const AXUIElement& element, const std::string& attribute,
                                        AXAttributeValue& value) const {
    value = std::monostate{};
    if (!accessibilityTrusted_) {
        return AXError::apiDisabled;
    }
    if (!finder_.isRunning() || *finder_.processIdentifier() != element.processIdentifier) {
        return AXError::cannotComplete; // only Finder's elements are modelled
    }
    if (element.isApplication()) {
        if (attribute != "AXFocusedWindow") {
            return AXError::attributeUnsupported;
        }
        if (!finder_.focusedWindow()) {
            return AXError::noValue;
        }
        value = AXUIElement{element.processIdentifier, *finder_.focusedWindow()};
        return AXError::success;
    }
    const auto found = std::find_if(windows_.begin(), windows_.end(), [&](const auto& w) {
        return w.windowNumber == element.windowNumber && w.ownerPID == element.processIdentifier;
    });
    if (found == windows_.end()) {
        return AXError::invalidUIElement;
    }
    if (attribute == "AXRole") {
        value = std::string("AXWindow");
    } else if (attribute == "AXSubrole") {
        value = found->subrole;
    } else if (attribute == "AXPosition") {
        value = AXValue::ofPoint(found->bounds.origin);
    } else if (attribute == "AXSize") {
        value = AXValue::ofSize(found->bounds.size);
    } else if (attribute == "AXFullScreen" && found->fullScreen) {
        value = *found->fullScreen;
    } else {
        return AXError::attributeUnsupported;
    }
    return AXError::success;
}

AXError SimulatedDesktop::registerObserver(const AXObserverRef& observer) {
    if (observerCreationFails_) {
        return AXError::cannotComplete;
    }
    observers_.push_back(observer);
    return AXError::success;
}

void SimulatedDesktop::postAccessibilityNotification(const AXUIElement& element,
                                                     const std::string& name) {
    std::erase_if(observers_, [](const auto& observer) { return observer.expired(); });
    for (const auto& weak : observers_) {
        if (AXObserverRef observer = weak.lock();
            observer && observer->processIdentifier() == element.processIdentifier) {
            observer->deliver(element, name);
        }
    }
}

std::size_t SimulatedDesktop::liveObserverCount() const {
    std::erase_if(observers_, [](const auto& observer) { return observer.expired(); });
    return observers_.size();
}

void SimulatedDesktop::panelCreated(const std::shared_ptr<Panel>& panel) {
    panels_.insert(panels_.begin(), panel);
}

// The panel's own properties are what the observation side reads; only its place in the
// stack is the desktop's to keep.
void SimulatedDesktop::panelChanged(const Panel& panel, PanelChange change) {
    if (change != PanelChange::orderedFront) {
        return;
    }
    auto found = std::find_if(panels_.begin(), panels_.end(),
                              [&](const auto& weak) { return weak.lock().get() == &panel; });
    if (found != panels_.end()) {
        std::rotate(panels_.begin(), found, found + 1);
    }
}

std::vector<std::shared_ptr<Panel>> SimulatedDesktop::panels() const {
    std::erase_if(panels_, [](const auto& panel) { return panel.expired(); });
    std::vector<std::shared_ptr<Panel>> live;
    for (const auto& panel : panels_) {
        live.push_back(panel.lock());
    }
    return live;
}

} // namespace scrivlet
