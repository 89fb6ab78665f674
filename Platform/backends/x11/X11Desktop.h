#pragma once

#include "Platform/desktop/DesktopBackend.h"
#include "Platform/desktop/FileManagerSelection.h"
#include "Platform/desktop/FinderSyncController.h"
#include "Platform/desktop/NotificationCenter.h"
#include "Platform/desktop/StatusBar.h"

#include <functional>
#include <memory>
#include <string>

namespace scrivlet {

class RunLoop;

namespace x11 {

// The desktop of an X11 session: screens and the app's windows through the toolkit, the other
// clients' windows and activation through the window manager's EWMH properties, the file
// manager (Dolphin) as the application the app follows, its selection through a
// FileManagerSelection, the status item as a tray icon, alerts as message boxes. The
// toolkit's event loop drives the platform run loop, so the process still has one loop.
class X11Desktop final : public DesktopBackend {
public:
    // Connects to the display of `DISPLAY` and starts the toolkit, driving `loop` from now on.
    // Nothing, with `error` saying why in one line, when there is no X11 display. `selection`
    // may be null: the file manager's selection is then never known.
    static std::unique_ptr<X11Desktop>
    open(RunLoop& loop, std::unique_ptr<FileManagerSelection> selection, std::string& error);
    ~X11Desktop() override;
    X11Desktop(const X11Desktop&) = delete;
    X11Desktop& operator=(const X11Desktop&) = delete;

    std::vector<Screen> screens() const override;
    std::optional<Screen> mainScreen() const override;
    std::optional<std::vector<WindowServerEntry>> windowList() const override;

    bool isAccessibilityTrusted() const override;
    void promptForAccessibility() override;
    AXError readAttribute(const AXUIElement& element, const std::string& attribute,
                          AXAttributeValue& value) const override;
    AXError registerObserver(const AXObserverRef& observer) override;
    ScriptReply runScript(const std::string& source) override;

    std::vector<RunningApplicationInfo> runningApplications() const override;
    std::optional<RunningApplicationInfo> frontmostApplication() const override;
    bool activateApplication(pid_t processIdentifier) override;
    Workspace& workspace() override { return workspace_; }
    NotificationCenter& defaultNotificationCenter() override { return defaultCenter_; }

    StatusBar& statusBar() override { return statusBar_; }
    void panelCreated(const std::shared_ptr<Panel>& panel) override;
    void panelChanged(const Panel& panel, PanelChange change) override;
    ModalResponse runModalAlert(const AlertContents& alert) override;

    void revealInFileManager(const std::vector<std::string>& paths) override;
    // No host: the extension runs inside the file manager's own plug-ins.
    FinderSyncController& finderSyncController() override { return finderSync_; }
    bool hasSystemSymbol(const std::string& name) const override { return !name.empty(); }
    // URLs go to this process's application on the main queue unless an opener (one that
    // starts the app that owns their scheme) takes them.
    bool openURL(const URL& url) override;
    void setURLOpener(std::function<bool(const URL&)> opener) { urlOpener_ = std::move(opener); }

private:
    struct State;
    explicit X11Desktop(std::unique_ptr<State> state);

    std::unique_ptr<State> state_;
    Workspace workspace_;
    NotificationCenter defaultCenter_;
    StatusBar statusBar_;
    FinderSyncController finderSync_;
    std::function<bool(const URL&)> urlOpener_;
};

} // namespace x11

} // namespace scrivlet
