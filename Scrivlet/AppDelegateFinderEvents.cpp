// Finder observation from the delegate's side: setting it up, carrying selections to the
// view model and the panel, and reacting to Finder's activation, launch and termination and
// to Space changes.
#include "Platform/base/RunLoop.h"
#include "Platform/desktop/Accessibility.h"
#include "Platform/desktop/RunningApplication.h"
#include "Platform/system/Bundle.h"
#include "Platform/system/DarwinNotifyObservation.h"
#include "Scrivcore/BadgeRefreshNotifier.h"
#include "Scrivcore/PanelViewModel.h"
#include "Scrivlet/AppDelegate.h"
#include "Scrivlet/AppLog.h"
#include "Scrivlet/PanelController.h"
#include "Scrivlet/SelectionTracker.h"

namespace scrivlet {

namespace {

bool isFinder(const Notification& notification) {
    return notification.application &&
           notification.application->bundleIdentifier() == AppDelegate::finderBundleIdentifier;
}

} // namespace

void AppDelegate::setUpFinderTracking() {
    selectionTracker = std::make_shared<SelectionTracker>();
    viewModel = std::make_shared<PanelViewModel>(store, RunLoop::main());
    panelController = std::make_shared<PanelController>(viewModel);
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    panelController->onUserDismiss = [weak] {
        if (auto self = weak.lock()) {
            self->userDismissed = true;
            appLog("Panel dismissed by user");
        }
    };
    selectionTracker->onGeometryChange = [weak] {
        if (auto self = weak.lock()) {
            self->repositionPanel();
            self->startDragPolling();
        }
    };
    if (!AXIsProcessTrusted()) {
        appLog("Accessibility NOT granted \u2014 prompting (needed for window positioning)");
        AXIsProcessTrustedWithOptions(true);
    }
    observeStoreChanges();
    startTracking();
}

// The notice only wakes us: its queue of paths belongs to the extension, which must get
// every one of them, so the app reads the shown record again instead of draining.
void AppDelegate::observeStoreChanges() {
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    std::error_code error;
    storeChangeObservation_ = DarwinNotifyObservation::add(
        BadgeRefreshNotifier::darwinName,
        [weak] {
            if (auto self = weak.lock()) {
                self->storeChanged();
            }
        },
        error);
    if (!storeChangeObservation_) {
        appLog("ERROR: Failed to observe annotation changes: " + error.message());
    }
}

void AppDelegate::storeChanged() {
    RunLoop::main().assertOwnerThread("AppDelegate::storeChanged");
    if (viewModel && viewModel->reloadFromStore()) {
        appLog("Panel shows a change made elsewhere");
    }
}

void AppDelegate::startTracking() {
    const auto frontmost = Workspace::shared().frontmostApplication();
    finderIsActive = frontmost && frontmost->bundleIdentifier() == finderBundleIdentifier;
    if (selectionTracker->start()) {
        appLog("AX selection tracker started");
    } else {
        appLog("ERROR: Failed to start AX selection tracker");
        // On Linux the app usually starts at login, before any file manager: keep listening,
        // so that the file manager's launch starts tracking as a relaunch does. Any other
        // failure (the file manager runs but cannot be observed) stays final.
        if (selectionTracker->finderPID) {
            return;
        }
    }
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    cancellables.push_back(selectionTracker->selectionSubject.publisher()
                               .receiveOn(RunLoop::main())
                               .removeDuplicates()
                               .sink([weak](const std::optional<URL>& url) {
                                   RunLoop::main().postTask([weak, url] {
                                       if (auto self = weak.lock()) {
                                           self->handleSelection(url);
                                       }
                                   });
                               }));
    observeWorkspace();
}

void AppDelegate::observeWorkspace() {
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    auto route = [weak](void (AppDelegate::*handler)(const Notification&)) {
        return [weak, handler](const Notification& notification) {
            if (auto self = weak.lock()) {
                ((*self).*handler)(notification);
            }
        };
    };
    NotificationCenter& workspace = Workspace::shared().notificationCenter();
    workspace.addObserver(weak, "activeAppChanged:", NSWorkspaceDidActivateApplicationNotification,
                          route(&AppDelegate::activeAppChanged));
    workspace.addObserver(weak, "finderTerminated:", NSWorkspaceDidTerminateApplicationNotification,
                          route(&AppDelegate::finderTerminated));
    workspace.addObserver(weak, "finderLaunched:", NSWorkspaceDidLaunchApplicationNotification,
                          route(&AppDelegate::finderLaunched));
    workspace.addObserver(weak, "activeSpaceChanged:", NSWorkspaceActiveSpaceDidChangeNotification,
                          route(&AppDelegate::activeSpaceChanged));
    NotificationCenter::defaultCenter().addObserver(
        weak, "screensChanged:", NSApplicationDidChangeScreenParametersNotification,
        route(&AppDelegate::screensChanged));
}

void AppDelegate::handleSelection(const std::optional<URL>& url) {
    RunLoop::main().assertOwnerThread("AppDelegate::handleSelection");
    if (RunLoop::main().now() < selectionLockedUntil || !finderIsActive) {
        return;
    }
    userDismissed = false;
    const bool hadFile = viewModel->isVisible();
    viewModel->selectFile(url ? url->fileSystemPath() : std::nullopt);
    if (!viewModel->isVisible()) {
        // Told at debug level when the panel's file goes, not at each empty selection.
        if (hadFile) {
            AppLog::app().debug("Panel hidden: no one file selected");
        }
        panelController->hide();
        return;
    }
    if (const auto finder = focusedFinderFrame()) {
        panelController->show(finder->frame, finder->isFullscreen);
        // Which file the panel was shown for, for whoever reads the log at debug level.
        AppLog::app().debug("Panel shown for %{public}s",
                            {url ? url->fileSystemPath().value_or("") : ""});
    } else {
        panelController->hide();
    }
}

void AppDelegate::updatePanelVisibility() {
    if (finderIsActive && viewModel->isVisible() && !userDismissed &&
        selectionTracker->finderHasOnScreenWindow()) {
        if (const auto finder = focusedFinderFrame()) {
            panelController->show(finder->frame, finder->isFullscreen);
        } else {
            panelController->hide();
        }
        return;
    }
    panelController->hide();
}

std::optional<AppDelegate::FinderFrame> AppDelegate::focusedFinderFrame() const {
    std::optional<AXUIElement> window = selectionTracker->observedWindow;
    if (!window) {
        window = selectionTracker->focusedStandardWindow();
    }
    if (!window) {
        return std::nullopt;
    }
    const auto frame = selectionTracker->windowFrame(*window);
    if (!frame) {
        return std::nullopt;
    }
    return FinderFrame{frame->frame, frame->isFullscreen};
}

void AppDelegate::activeAppChanged(const Notification& notification) {
    // Notifications come on the main thread; anything else is reported, not fatal.
    RunLoop::main().checkOwnerThread("AppDelegate::activeAppChanged:");
    if (notification.name != NSWorkspaceDidActivateApplicationNotification ||
        !notification.application) {
        return;
    }
    const std::string& identifier = notification.application->bundleIdentifier();
    if (identifier == Bundle::main().bundleIdentifier()) {
        return; // the app's own activation changes nothing
    }
    finderIsActive = identifier == finderBundleIdentifier;
    // Another process of the file manager in front (one of its windows that runs apart): its
    // selection is the one the user works with.
    const pid_t front = notification.application->processIdentifier();
    if (finderIsActive && front > 0 && selectionTracker->finderPID &&
        *selectionTracker->finderPID != front) {
        if (selectionTracker->start(front)) {
            appLog("AX observer moved to the Finder window in front (PID " + std::to_string(front) +
                   ")");
        }
    }
    updatePanelVisibility();
}

void AppDelegate::activeSpaceChanged(const Notification& /*notification*/) {
    RunLoop::main().checkOwnerThread("AppDelegate::activeSpaceChanged:");
    updatePanelVisibility();
}

void AppDelegate::finderTerminated(const Notification& notification) {
    RunLoop::main().checkOwnerThread("AppDelegate::finderTerminated:");
    // Another process of the file manager than the one followed changes nothing.
    if (!isFinder(notification) ||
        (selectionTracker->finderPID &&
         notification.application->processIdentifier() != *selectionTracker->finderPID)) {
        return;
    }
    appLog("Finder terminated \u2014 stopping AX observer");
    selectionTracker->stop();
    // The stream drops a repeat of the last item it let through: without this, the same file
    // selected again in the restarted file manager would never reach the panel.
    if (selectionTracker->selectionSubject.value()) {
        selectionTracker->selectionSubject.send(std::nullopt);
    }
    panelController->hide();
    finderIsActive = false;
    // Another of its processes still runs (a window of its own): that one is followed now.
    const pid_t ended = notification.application->processIdentifier();
    for (const RunningApplication& other :
         RunningApplication::runningApplicationsWithBundleIdentifier(finderBundleIdentifier)) {
        if (other.processIdentifier() != ended &&
            selectionTracker->start(other.processIdentifier())) {
            appLog("AX observer moved to another Finder process (PID " +
                   std::to_string(other.processIdentifier()) + ")");
            break;
        }
    }
}

void AppDelegate::finderLaunched(const Notification& notification) {
    RunLoop::main().checkOwnerThread("AppDelegate::finderLaunched:");
    // One more process of the file manager while one is followed: followed once in front.
    if (!isFinder(notification) || selectionTracker->finderPID) {
        return;
    }
    appLog("Finder launched \u2014 rebuilding AX observer");
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    RunLoop::main().asyncAfter(0.5, [weak] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        if (self->selectionTracker->start()) {
            appLog("AX observer rebuilt after Finder relaunch");
        } else {
            appLog("ERROR: Failed to restart AX observer after Finder relaunch");
        }
    });
}

} // namespace scrivlet
