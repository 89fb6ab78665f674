#pragma once

#include "Platform/base/Cancellable.h"
#include "Platform/base/Clock.h"
#include "Platform/base/Geometry.h"
#include "Platform/base/RunLoop.h"
#include "Platform/base/URL.h"
#include "Platform/desktop/Application.h"
#include "Platform/desktop/FileManagerIdentity.h"
#include "Platform/desktop/NotificationCenter.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace scrivlet {

class AnnotationStore;
class DarwinNotifyObservation;
class PanelController;
class PanelViewModel;
class SelectionTracker;
class StatusItem;

// The application delegate and the one owner of all app state. Every field and method is
// used on the main thread only; entry points from the platform check it.
class AppDelegate final : public ApplicationDelegate,
                          public Responder,
                          public std::enable_shared_from_this<AppDelegate> {
public:
    AppDelegate();
    ~AppDelegate() override;

    // State, in declaration order. The parts of the app are methods of this class and share
    // these fields; nothing outside the app writes them.
    std::shared_ptr<StatusItem> statusItem;
    std::shared_ptr<AnnotationStore> store;
    std::shared_ptr<SelectionTracker> selectionTracker;
    std::shared_ptr<PanelController> panelController;
    std::shared_ptr<PanelViewModel> viewModel;
    std::vector<AnyCancellable> cancellables;
    Date selectionLockedUntil = Date::min();
    bool finderIsActive = false;
    bool userDismissed = false;
    std::vector<URL> pendingURLs;
    std::optional<RunLoop::TimerID> dragPollTimer;
    std::optional<CGRect> dragLastFrame;
    std::int64_t dragStillTicks = 0;
    bool dragIsFullscreen = false;
    std::optional<std::uint32_t> dragWindowID;

    // Application delegate entry points.
    void applicationDidFinishLaunching() override;
    void applicationOpenURLs(const std::vector<URL>& urls) override;
    bool applicationShouldTerminateAfterLastWindowClosed() override;
    void applicationWillTerminate() override;

    // Menu actions, by selector.
    bool respondsToSelector(const Selector& selector) const override;
    void performSelector(const Selector& selector, const void* sender) override;
    void uninstallApp();

    // Launch steps.
    bool ensureSingleInstance();
    bool checkInstallLocation();
    void resolveBookmarks();
    void syncBadgeXattrs();
    void setUpStatusItem();
    void registerLoginItem();
    void setUpFinderTracking();
    void handleURL(const URL& url);
    void runUninstall();

    // Install location: the folders the app is expected to run from, and the alert that
    // offers to move it there.
    static std::vector<std::filesystem::path> allowedInstallDirectories();
    // Whether the bundle sits in the folder the system's package installs it into, where it
    // belongs to the package manager rather than to the user.
    static bool isInstalledByPackage();
    bool promptToMoveToApplications();

    // Finder observation: the start-up step, the selection handler and the workspace
    // notification handlers.
    void startTracking();
    void handleSelection(const std::optional<URL>& url);
    void updatePanelVisibility();
    struct FinderFrame {
        CGRect frame;
        bool isFullscreen = false;
    };
    std::optional<FinderFrame> focusedFinderFrame() const;
    void activeAppChanged(const Notification& notification);
    void activeSpaceChanged(const Notification& notification);
    void finderLaunched(const Notification& notification);
    void finderTerminated(const Notification& notification);
    // Another process (or this one) changed the store: the panel shows the change.
    void storeChanged();

    // URL commands: the one named by a URL whose target passed the checks, and the frame that
    // stands in for Finder's window when none is known.
    void carryOutURLCommand(const std::string& command, const std::filesystem::path& target);
    void annotateFromURL(const std::filesystem::path& target);
    void removeAnnotationFromURL(const std::filesystem::path& target);
    CGRect defaultFinderFrame() const;

    // Following Finder's window.
    bool repositionPanel();
    void startDragPolling();
    void pollDrag();
    void screensChanged(const Notification& notification);

    static constexpr const char* finderBundleIdentifier = fileManagerBundleIdentifier;
    static constexpr double dragPollInterval = 1.0 / 120;
    static constexpr double dragStillThreshold = 0.5;
    static constexpr std::int64_t dragStillTicksToEnd = 15;

private:
    bool openStore();
    void showUninstallFailure(const std::string& informativeText);
    void showBundleRemains(const std::string& messageText, const std::string& reason);
    void processQueuedURLs();
    void observeWorkspace();
    void observeStoreChanges();
    void endDragPoll();

    // The badge notice, which every process that writes the store posts after a save.
    std::unique_ptr<DarwinNotifyObservation> storeChangeObservation_;
};

} // namespace scrivlet
