#pragma once

#include "Platform/backends/simulated/SimulatedFinder.h"
#include "Platform/desktop/DesktopBackend.h"
#include "Platform/desktop/FinderSyncController.h"
#include "Platform/desktop/NotificationCenter.h"
#include "Platform/desktop/Panel.h"
#include "Platform/desktop/Screen.h"
#include "Platform/desktop/StatusBar.h"

#include <deque>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <sys/types.h>
#include <vector>

namespace scrivlet {

// A window as the window server knows it.
struct SimulatedWindow {
    std::uint32_t windowNumber = 0;
    pid_t ownerPID = 0;
    std::string ownerName;
    int layer = 0;
    // Top-left-origin global coordinates, as the window server and accessibility report them.
    CGRect bounds;
    std::string subrole = "AXStandardWindow";
    std::optional<bool> fullScreen = false; // nothing: the attribute cannot be read
    bool onScreen = true;
};

// The model of what the app sees of the desktop where Linux has no equivalent: screens, the
// menu bar, running applications, windows, Finder, accessibility and the menu being tracked.
// Production code reaches it through the platform classes (Screen, StatusBar, ...); tests and
// scenarios drive and read it through DesktopControl.
class SimulatedDesktop final : public DesktopBackend {
public:
    // One 1440 x 900 screen with a 25-point menu bar.
    SimulatedDesktop();

    std::vector<Screen> screens() const override { return screens_; }
    void setScreens(std::vector<Screen> screens);
    std::optional<Screen> mainScreen() const override;
    void setMainScreenIndex(std::size_t index) { mainScreenIndex_ = index; }

    StatusBar& statusBar() override { return statusBar_; }

    void addRunningApplication(RunningApplicationInfo application);
    void removeRunningApplication(pid_t processIdentifier);
    std::vector<RunningApplicationInfo> runningApplications() const override { return running_; }
    // The workspace's and the application's notification centres. The desktop posts the
    // system's notifications on the main run loop, after the event that caused them.
    Workspace& workspace() override { return workspace_; }
    NotificationCenter& defaultNotificationCenter() override { return defaultCenter_; }
    // The user switches to another Space.
    void changeSpace();

    // Starts another application (one the app only sees come and go) and answers its pid.
    pid_t launchApplication(const std::string& bundleIdentifier, const std::string& name);

    // Makes the application frontmost; false when no such application runs.
    bool activateApplication(pid_t processIdentifier) override;
    std::optional<RunningApplicationInfo> frontmostApplication() const override;

    // Windows, front to back.
    const std::vector<SimulatedWindow>& windows() const { return windows_; }
    std::optional<std::vector<WindowServerEntry>> windowList() const override;
    SimulatedWindow* window(std::uint32_t windowNumber);
    // Puts the window in front (or behind all others) and answers its new window number.
    enum class WindowPlace { front, back };
    std::uint32_t addWindow(SimulatedWindow window, WindowPlace place = WindowPlace::front);
    void removeWindow(std::uint32_t windowNumber);
    void bringToFront(std::uint32_t windowNumber);
    // Converts between window-server (top-left) and screen (bottom-left) coordinates with
    // the primary screen's height; the rectangle is unchanged when there is no screen.
    CGRect flippedRect(const CGRect& rect) const;

    SimulatedFinder& finder() { return finder_; }
    const SimulatedFinder& finder() const { return finder_; }

    // Accessibility: the trust flag, the prompts shown, attribute reads and notifications.
    bool isAccessibilityTrusted() const override { return accessibilityTrusted_; }
    void setAccessibilityTrusted(bool trusted) { accessibilityTrusted_ = trusted; }
    int accessibilityPromptCount() const { return accessibilityPrompts_; }
    void promptForAccessibility() override { ++accessibilityPrompts_; }
    AXError readAttribute(const AXUIElement& element, const std::string& attribute,
                          AXAttributeValue& value) const override;
    AXError registerObserver(const AXObserverRef& observer) override;
    // From now on no accessibility observer can be made (as when the system refuses one).
    void setObserverCreationFails(bool fails) { observerCreationFails_ = fails; }

    // Scripts are answered by the simulated Finder.
    ScriptReply runScript(const std::string& source) override;
    // Delivers to every live observer of the element's process, through their run loops.
    void postAccessibilityNotification(const AXUIElement& element, const std::string& name);
    std::size_t liveObserverCount() const;

    // Panels, front to back; the desktop does not keep them alive.
    void panelCreated(const std::shared_ptr<Panel>& panel) override;
    void panelChanged(const Panel& panel, PanelChange change) override;
    std::vector<std::shared_ptr<Panel>> panels() const;

    // The menu the user has open, if any.
    const std::shared_ptr<Menu>& trackedMenu() const { return trackedMenu_; }
    void setTrackedMenu(std::shared_ptr<Menu> menu) { trackedMenu_ = std::move(menu); }

    // Alerts. Each one is answered by the next scripted answer: the button with that title,
    // after `whileShown` ran (what happens while the alert is up, e.g. a URL arriving). With
    // no answer scripted, or a title the alert does not have, the alert is recorded as
    // unanswered and ends with NSModalResponseAbort: a script that forgot it fails, not hangs.
    struct ShownAlert {
        AlertContents contents;
        bool appWasActive = false; // the app brought itself to the front first
        std::optional<std::string> answer;
    };
    void scriptAlertAnswer(std::string buttonTitle, std::function<void()> whileShown = {});
    ModalResponse runModalAlert(const AlertContents& alert) override;
    const std::vector<ShownAlert>& shownAlerts() const { return shownAlerts_; }
    std::size_t unansweredAlertCount() const;
    std::size_t pendingAlertAnswerCount() const { return alertAnswers_.size(); }

    // Revealing files: Finder selects them (launched and brought to the front if needed).
    void revealInFileManager(const std::vector<std::string>& paths) override;
    const std::vector<std::vector<std::string>>& revealedItems() const { return revealed_; }

    static constexpr double menuBarHeight = 25;

    // The Finder Sync side. The selection the extension sees is Finder's, unless a host
    // without Finder windows sets one; system symbols are all there unless one is removed;
    // opened URLs go to this process's application on the main queue unless an opener
    // (a host that starts the app's URL command) takes them.
    FinderSyncController& finderSyncController() override { return finderSync_; }
    void setFinderSyncSelection(std::optional<std::vector<URL>> urls) {
        finderSyncSelection_ = std::move(urls);
    }
    bool hasSystemSymbol(const std::string& name) const override;
    void removeSystemSymbol(const std::string& name) { missingSymbols_.insert(name); }
    bool openURL(const URL& url) override;
    void setURLOpener(std::function<bool(const URL&)> opener) { urlOpener_ = std::move(opener); }

private:
    struct AlertAnswer {
        std::string buttonTitle;
        std::function<void()> whileShown;
    };
    std::deque<AlertAnswer> alertAnswers_;
    std::vector<ShownAlert> shownAlerts_;
    std::vector<std::vector<std::string>> revealed_;

    std::vector<Screen> screens_;
    std::size_t mainScreenIndex_ = 0;
    StatusBar statusBar_;
    std::vector<RunningApplicationInfo> running_;
    std::shared_ptr<Menu> trackedMenu_;
    std::vector<SimulatedWindow> windows_;
    std::uint32_t nextWindowNumber_ = 100;
    SimulatedFinder finder_{*this};
    bool accessibilityTrusted_ = true;
    bool observerCreationFails_ = false;
    int accessibilityPrompts_ = 0;
    pid_t nextApplicationPID_ = 501;
    mutable std::vector<std::weak_ptr<AXObserverObject>> observers_;
    mutable std::vector<std::weak_ptr<Panel>> panels_;
    Workspace workspace_;
    NotificationCenter defaultCenter_;

    FinderSyncController finderSync_;
    std::optional<std::vector<URL>> finderSyncSelection_;
    std::set<std::string> missingSymbols_;
    std::function<bool(const URL&)> urlOpener_;

    void postLater(NotificationCenter& center, const Notification& notification);
    void connectFinderSync();
};

} // namespace scrivlet
