#pragma once

#include "Platform/Geometry.h"

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace scrivlet {

class SimulatedDesktop;

// Finder as the app sees it: a running application with windows, focus and a selection,
// which posts the accessibility notifications a real Finder posts and answers the scripts
// it understands. Windows are given in top-left-origin coordinates (window server style).
class SimulatedFinder {
public:
    static constexpr const char* bundleIdentifier = "com.apple.finder";
    // The one script Finder answers: the POSIX path of the single selected item.
    static const std::string& selectionScript();

    explicit SimulatedFinder(SimulatedDesktop& desktop) : desktop_(desktop) {}

    bool isRunning() const { return pid_.has_value(); }
    std::optional<pid_t> processIdentifier() const { return pid_; }
    // Starts Finder with a new process identifier; its windows start closed.
    pid_t launch();
    // Ends Finder: its windows close, its observers hear nothing more.
    void quit();

    std::uint32_t openWindow(const CGRect& bounds, const std::string& subrole = "AXStandardWindow");
    void closeWindow(std::uint32_t windowNumber);
    void focusWindow(std::uint32_t windowNumber);
    void moveWindow(std::uint32_t windowNumber, CGPoint topLeft);
    void resizeWindow(std::uint32_t windowNumber, CGSize size);
    void setFullScreen(std::uint32_t windowNumber, bool fullScreen);
    // The user drags the window to `topLeft` over `seconds`: the window server reports every
    // moment of the path (60 steps a second); Finder posts "AXMoved" when the drag starts and
    // when it ends.
    void dragWindow(std::uint32_t windowNumber, CGPoint topLeft, double seconds);
    // The same for a resize by the window's corner.
    void resizeWindowOverTime(std::uint32_t windowNumber, CGSize size, double seconds);
    // nothing: the window's full-screen attribute cannot be read.
    void setFullScreenAttribute(std::uint32_t windowNumber, std::optional<bool> value);
    std::optional<std::uint32_t> focusedWindow() const { return focusedWindow_; }
    std::vector<std::uint32_t> windowNumbers() const;

    // Selects items (paths) in the focused window; Finder tells its observers with
    // `notification` ("AXSelectedChildrenChanged" in icon view, "AXSelectedRowsChanged" in
    // list view).
    void select(std::vector<std::string> paths,
                const std::string& notification = "AXSelectedChildrenChanged");
    const std::vector<std::string>& selection() const { return selection_; }

    // Runs `source` as Finder would; nothing when Finder does not understand it or is not
    // running (the caller sees a failed script).
    std::optional<std::string> answerScript(const std::string& source) const;

private:
    void post(std::uint32_t windowNumber, const std::string& notification);
    void animateBounds(std::uint32_t windowNumber, CGRect target, double seconds,
                       const std::string& notification);
    void focusFrontmostWindow();

    SimulatedDesktop& desktop_;
    std::optional<pid_t> pid_;
    pid_t nextPID_ = 311;
    std::optional<std::uint32_t> focusedWindow_;
    std::vector<std::string> selection_;
    std::optional<CGRect> boundsBeforeFullScreen_;
};

} // namespace scrivlet
