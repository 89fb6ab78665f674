#pragma once

#include "Platform/desktop/DesktopBackend.h"
#include "Platform/desktop/FinderSyncController.h"
#include "Platform/desktop/NotificationCenter.h"
#include "Platform/desktop/StatusBar.h"

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace scrivlet {

// The desktop as a file manager's plug-in sees it from inside the file manager's process: the
// Finder Sync side (badges, the selection a menu is built for) and opening URLs. Nothing else
// of the desktop is reachable from there, so the rest answers empty: no screens, no windows,
// no accessibility, no alerts.
class FileManagerDesktop final : public DesktopBackend {
public:
    // Opens one URL; false when it could not be handed to anybody.
    using URLOpener = std::function<bool(const URL&)>;

    // `symbols`: the system symbols this desktop can draw. `opener` runs on a worker thread,
    // one URL after the other in the order they were opened, so a slow or missing app never
    // holds up the file manager.
    FileManagerDesktop(std::set<std::string> symbols, URLOpener opener);
    // Waits for the URLs already opened to be handed over.
    ~FileManagerDesktop() override;
    FileManagerDesktop(const FileManagerDesktop&) = delete;
    FileManagerDesktop& operator=(const FileManagerDesktop&) = delete;

    // The items the next menu is built for and its commands act on, in the file manager's order.
    void setSelectedItems(std::vector<URL> items) { selected_ = std::move(items); }

    std::vector<Screen> screens() const override { return {}; }
    std::optional<Screen> mainScreen() const override { return std::nullopt; }
    std::optional<std::vector<WindowServerEntry>> windowList() const override {
        return std::nullopt;
    }
    bool isAccessibilityTrusted() const override { return false; }
    void promptForAccessibility() override {}
    AXError readAttribute(const AXUIElement& element, const std::string& attribute,
                          AXAttributeValue& value) const override;
    AXError registerObserver(const AXObserverRef& observer) override;
    ScriptReply runScript(const std::string& source) override;
    std::vector<RunningApplicationInfo> runningApplications() const override { return {}; }
    std::optional<RunningApplicationInfo> frontmostApplication() const override {
        return std::nullopt;
    }
    bool activateApplication(pid_t /*processIdentifier*/) override { return false; }
    Workspace& workspace() override { return workspace_; }
    NotificationCenter& defaultNotificationCenter() override { return defaultCenter_; }
    StatusBar& statusBar() override { return statusBar_; }
    void panelCreated(const std::shared_ptr<Panel>& /*panel*/) override {}
    void panelChanged(const Panel& /*panel*/, PanelChange /*change*/) override {}
    ModalResponse runModalAlert(const AlertContents& alert) override;
    void revealInFileManager(const std::vector<std::string>& /*paths*/) override {}
    FinderSyncController& finderSyncController() override { return controller_; }
    bool hasSystemSymbol(const std::string& name) const override { return symbols_.contains(name); }
    // Queued for the worker; true once queued (the open itself is not waited for).
    bool openURL(const URL& url) override;

private:
    void openQueuedURLs();

    std::set<std::string> symbols_;
    URLOpener opener_;
    FinderSyncController controller_;
    std::vector<URL> selected_;
    Workspace workspace_;
    NotificationCenter defaultCenter_;
    StatusBar statusBar_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<URL> queued_; // guarded by mutex_
    bool stopping_ = false;  // guarded by mutex_
    std::thread worker_;     // started with the first URL
};

} // namespace scrivlet
