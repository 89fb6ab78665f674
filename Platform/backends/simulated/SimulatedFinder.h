#pragma once

#include "Platform/base/Geometry.h"
#include "Platform/desktop/DesktopBackend.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <sys/types.h>
#include <vector>

namespace scrivlet {

class SimulatedDesktop;

// Finder as the app sees it: a running application with its desktop, browser windows, focus
// and a selection per window, which posts the accessibility notifications a real Finder
// posts and answers the scripts it understands. Windows are given in top-left-origin
// coordinates (window server style).
class SimulatedFinder {
public:
    // The one script Finder answers: the POSIX path of the single selected item.
    static const std::string& selectionScript();

    explicit SimulatedFinder(SimulatedDesktop& desktop) : desktop_(desktop) {}

    bool isRunning() const { return pid_.has_value(); }
    std::optional<pid_t> processIdentifier() const { return pid_; }
    // Starts Finder with a new process identifier: its desktop window appears at the back of
    // the window list and its browser windows start closed.
    pid_t launch();
    // Ends Finder: its windows close, its observers hear nothing more.
    void quit();
    // The window server's number of Finder's desktop window; nothing while Finder is quit.
    std::optional<std::uint32_t> desktopWindow() const { return desktopWindow_; }

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
    // Finder's browser windows, front to back (not its desktop).
    std::vector<std::uint32_t> windowNumbers() const;
    // The user moves the keyboard focus inside the focused window (say from the sidebar to
    // the file list): only "AXFocusedUIElementChanged" is posted.
    void moveFocusWithinWindow();

    // Selects items (paths) in the front window, or on the desktop when no window is open;
    // Finder tells its observers with `notification` ("AXSelectedChildrenChanged" in icon
    // view, "AXSelectedRowsChanged" in list view). Each window keeps its own selection; a
    // new window has none.
    void select(std::vector<std::string> paths,
                const std::string& notification = "AXSelectedChildrenChanged");
    // The selection of the front window (or of the desktop), which the script reports.
    std::vector<std::string> selection() const;

    // How Finder answers scripts: normally, or refused because the user did not allow the
    // app to automate Finder (-1743), or not at all in time (-1712).
    enum class ScriptAnswer { normal, notAuthorized, timedOut };
    void setScriptAnswer(ScriptAnswer answer) { scriptAnswer_ = answer; }
    // An item that cannot be made an alias (the script fails with -1700 when it is the one
    // selected item), as on some network volumes.
    void setAliasable(const std::string& path, bool aliasable);

    // Runs `source` as Finder would. A script that tells Finder starts a Finder that has quit
    // first, as the scripting system does; an unknown script fails with -1708.
    ScriptReply answerScript(const std::string& source);

private:
    void post(std::uint32_t windowNumber, const std::string& notification);
    void animateBounds(std::uint32_t windowNumber, CGRect target, double seconds,
                       const std::string& notification);
    void focusFrontmostWindow();
    void openDesktopWindow();
    std::uint32_t selectionOwner() const { return focusedWindow_.value_or(0); }

    SimulatedDesktop& desktop_;
    std::optional<pid_t> pid_;
    pid_t nextPID_ = 311;
    std::optional<std::uint32_t> focusedWindow_;
    std::optional<std::uint32_t> desktopWindow_;
    // Selected paths per browser window; 0 is the desktop.
    std::map<std::uint32_t, std::vector<std::string>> selections_;
    std::set<std::string> unaliasable_;
    ScriptAnswer scriptAnswer_ = ScriptAnswer::normal;
    std::optional<CGRect> boundsBeforeFullScreen_;
};

} // namespace scrivlet
