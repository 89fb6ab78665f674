#pragma once

#include "Platform/base/Export.h"
#include "Platform/base/URL.h"
#include "Platform/desktop/Accessibility.h"
#include "Platform/desktop/Alert.h"
#include "Platform/desktop/RunningApplication.h"
#include "Platform/desktop/Screen.h"
#include "Platform/desktop/WindowList.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace scrivlet {

class FinderSyncController;
class NotificationCenter;
class Panel;
class StatusBar;
class Workspace;

// What a script sent to another application came back with: the answer's text, or the
// error the scripting system reported (its number and message).
struct SCRIVLET_PLATFORM_API ScriptReply {
    std::optional<std::string> text;
    std::map<std::string, std::string> errorInfo;
};

// What changed on a panel that the desktop shows.
enum class PanelChange { frame, alpha, orderedFront, orderedOut };

// The desktop the app lives on: screens, other applications and their windows, the window
// server's list, accessibility, scripting, the status bar and the app's panels. The platform
// classes (Screen, RunningApplication, AXUIElement..., Panel, StatusBar) are facades over the
// one backend that the composition root (`Services`) installs, so the app never knows which
// desktop it runs on. A backend speaks in these concepts, never in a toolkit's or a window
// system's types.
class SCRIVLET_PLATFORM_API DesktopBackend {
public:
    virtual ~DesktopBackend() = default;

    // The backend this process runs on.
    static DesktopBackend& current();
    static void setCurrent(DesktopBackend* backend);

    // Screens, in global coordinates with the origin at the bottom left of the primary one.
    virtual std::vector<Screen> screens() const = 0;
    virtual std::optional<Screen> mainScreen() const = 0;

    // The window server's windows, front to back; nothing when it cannot answer.
    virtual std::optional<std::vector<WindowServerEntry>> windowList() const = 0;

    // Accessibility: the user's permission for this process, its prompt, attribute reads on
    // another application's elements, and observers that hear its notifications.
    virtual bool isAccessibilityTrusted() const = 0;
    virtual void promptForAccessibility() = 0;
    virtual AXError readAttribute(const AXUIElement& element, const std::string& attribute,
                                  AXAttributeValue& value) const = 0;
    // Anything but success: no observer could be made for that process.
    virtual AXError registerObserver(const AXObserverRef& observer) = 0;

    // A script addressed to another application, answered by that application.
    virtual ScriptReply runScript(const std::string& source) = 0;

    // Running applications, the frontmost one, and activation.
    virtual std::vector<RunningApplicationInfo> runningApplications() const = 0;
    virtual std::optional<RunningApplicationInfo> frontmostApplication() const = 0;
    virtual bool activateApplication(pid_t processIdentifier) = 0;
    // The workspace's and the application's notification centres; the backend posts the
    // system's notifications there on the main run loop.
    virtual Workspace& workspace() = 0;
    virtual NotificationCenter& defaultNotificationCenter() = 0;

    // The menu bar's status items.
    virtual StatusBar& statusBar() = 0;

    // The app's panels: a backend shows them as the app sets them up. The backend does not
    // keep a panel alive.
    virtual void panelCreated(const std::shared_ptr<Panel>& panel) = 0;
    virtual void panelChanged(const Panel& panel, PanelChange change) = 0;

    // A modal alert: shown in front of everything until the user presses a button, answered
    // as NSAlertFirstButtonReturn plus the button's index; NSModalResponseAbort when no one
    // can answer.
    virtual ModalResponse runModalAlert(const AlertContents& alert) = 0;

    // The file manager shows these files selected in one of its windows.
    virtual void revealInFileManager(const std::vector<std::string>& paths) = 0;
    // The file manager's side of the Finder Sync extension in this process.
    virtual FinderSyncController& finderSyncController() = 0;
    // Whether the desktop has the named system symbol image.
    virtual bool hasSystemSymbol(const std::string& name) const = 0;
    // Opens a URL through the workspace: hands it to the application that handles its
    // scheme. False when nothing took it.
    virtual bool openURL(const URL& url) = 0;
};

} // namespace scrivlet
