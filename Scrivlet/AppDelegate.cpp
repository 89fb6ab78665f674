// The launch sequence and the delegate's entry points from the application object.
#include "Scrivlet/AppDelegate.h"

#include "Platform/base/RunLoop.h"
#include "Platform/system/DarwinNotifyObservation.h"
#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/PanelViewModel.h"
#include "Scrivlet/AppLog.h"

namespace scrivlet {

AppDelegate::AppDelegate() = default;

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() {
    RunLoop::main().assertOwnerThread("AppDelegate::applicationDidFinishLaunching");
    if (!ensureSingleInstance()) {
        Application::shared().terminate(nullptr);
        return;
    }
    if (!checkInstallLocation()) {
        return; // the check has asked the application to terminate
    }
    appLog("Launch started");
    appLog("DB path: " + AnnotationStore::defaultPath());
    if (!openStore()) {
        return;
    }
    appLog("Database opened OK");
    resolveBookmarks();
    syncBadgeXattrs();
    setUpStatusItem();
    appLog("Menu bar icon set up");
    registerLoginItem();
    setUpFinderTracking();
    appLog("Ready. Listening for Finder events and URL scheme requests.");
    processQueuedURLs();
}

bool AppDelegate::openStore() {
    try {
        store = std::make_shared<AnnotationStore>(AnnotationStore::defaultPath());
        return true;
    } catch (const std::exception& error) {
        appLog(std::string("FATAL: Failed to open database: ") + error.what());
        Application::shared().terminate(nullptr);
        return false;
    }
}

void AppDelegate::processQueuedURLs() {
    if (pendingURLs.empty()) {
        return;
    }
    appLog("Processing " + std::to_string(pendingURLs.size()) + " queued URL(s)");
    // Work on a copy: handling a URL must not see URLs queued after this point.
    const std::vector<URL> queued = pendingURLs;
    for (const URL& url : queued) {
        handleURL(url);
    }
    pendingURLs.clear();
}

void AppDelegate::applicationOpenURLs(const std::vector<URL>& urls) {
    RunLoop::main().assertOwnerThread("AppDelegate::applicationOpenURLs");
    if (store) {
        for (const URL& url : urls) {
            handleURL(url);
        }
        return;
    }
    appLog("URL received before init, queuing " + std::to_string(urls.size()) + " URL(s)");
    pendingURLs.insert(pendingURLs.end(), urls.begin(), urls.end());
}

bool AppDelegate::applicationShouldTerminateAfterLastWindowClosed() {
    RunLoop::main().assertOwnerThread(
        "AppDelegate::applicationShouldTerminateAfterLastWindowClosed");
    return false; // the panel is the only window; the app lives in the menu bar
}

void AppDelegate::applicationWillTerminate() {
    RunLoop::main().assertOwnerThread("AppDelegate::applicationWillTerminate");
    if (viewModel) {
        viewModel->close();
    }
}

bool AppDelegate::respondsToSelector(const Selector& selector) const {
    return selector == "uninstallApp";
}

void AppDelegate::performSelector(const Selector& selector, const void* /*sender*/) {
    if (selector == "uninstallApp") {
        uninstallApp();
    }
}

} // namespace scrivlet
