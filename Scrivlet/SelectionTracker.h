#pragma once

#include "Platform/base/Combine.h"
#include "Platform/base/Geometry.h"
#include "Platform/base/URL.h"
#include "Platform/desktop/Accessibility.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>

namespace scrivlet {

// The app's eye on Finder: an accessibility observer on Finder's process publishes the single
// selected item (asked of Finder with a short script) and reports moves and resizes of
// Finder's focused standard window. It also answers geometry questions about Finder's
// windows, in the bottom-left-origin coordinates of screen frames. Main thread only.
class SelectionTracker {
public:
    // Finder's answer to "which single item is selected": eight lines, 182 characters.
    static const std::string& selectionScript();

    SelectionTracker();
    ~SelectionTracker();
    SelectionTracker(const SelectionTracker&) = delete;
    SelectionTracker& operator=(const SelectionTracker&) = delete;

    AXObserverRef observer;
    std::optional<AXUIElement> finderApp;
    std::optional<pid_t> finderPID;
    std::optional<AXUIElement> observedWindow;
    CurrentValueSubject<std::optional<URL>> selectionSubject{std::nullopt};
    std::function<void()> onGeometryChange;
    std::optional<std::string> lastPath;

    // Follows the running file manager with the given process (on a desktop where each of its
    // windows may be a process of its own), else the first one running.
    bool start(std::optional<pid_t> preferredPID = std::nullopt);
    void stop();

    std::optional<AXUIElement> focusedStandardWindow() const;
    struct FinderFrame {
        CGRect frame;
        bool isFullscreen = false;
    };
    std::optional<FinderFrame> windowFrame(const AXUIElement& window) const;
    bool finderHasOnScreenWindow() const;
    std::optional<std::uint32_t> matchingWindowID(double width, double height) const;
    std::optional<CGRect> windowListFrame(std::uint32_t windowID) const;

    void handleNotification(const std::string& name);
    void attachFocusedWindow();
    void refreshSelection();
    std::optional<std::string> querySelectedPath() const;
    std::optional<CGRect> cocoaRect(const CGRect& windowListBounds) const;

private:
    static void observerCallback(const AXObserverRef& observer, const AXUIElement& element,
                                 const std::string& notification, void* context);
};

} // namespace scrivlet
