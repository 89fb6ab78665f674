#include "Platform/desktop/Application.h"

#include "Platform/base/Installed.h"
#include "Platform/base/RunLoop.h"
#include "Platform/desktop/Panel.h"
#include "Platform/system/ApplicationRegistry.h"
#include "Platform/system/Bundle.h"

namespace scrivlet {

namespace {
Application* sharedApplication = nullptr;
}

Application& Application::shared() {
    return installedOrStop(sharedApplication);
}

bool Application::hasShared() {
    return sharedApplication != nullptr;
}

void Application::setShared(Application* application) {
    sharedApplication = application;
}

void Application::finishLaunching(const std::vector<URL>& launchURLs) {
    RunLoop::main().assertOwnerThread("Application::finishLaunching");
    if (!launchURLs.empty()) {
        openURLs(launchURLs);
    }
    finishedLaunching_ = true;
    if (delegate_ != nullptr && !terminationRequested_) {
        delegate_->applicationDidFinishLaunching();
    }
}

void Application::run(const std::vector<URL>& launchURLs) {
    finishLaunching(launchURLs);
    if (!terminationRequested_) {
        RunLoop::main().run();
    }
}

void Application::openURLs(const std::vector<URL>& urls) {
    RunLoop::main().assertOwnerThread("Application::openURLs");
    if (delegate_ != nullptr && !urls.empty()) {
        delegate_->applicationOpenURLs(urls);
    }
}

bool Application::deliverURLLater(const URL& url) {
    if (!RunLoop::hasMain()) {
        return false;
    }
    RunLoop::main().async([url] { shared().openURLs({url}); });
    return true;
}

void Application::terminate(const void* /*sender*/) {
    RunLoop::main().assertOwnerThread("Application::terminate");
    terminationRequested_ = true;
    ++terminationRequests_;
    // From now on a new copy of the app may start while this one finishes.
    ApplicationRegistry::shared().markCurrentProcessTerminated();
    RunLoop::main().stop();
}

void Application::windowCreated(const std::shared_ptr<Panel>& window) {
    std::erase_if(windows_, [](const std::weak_ptr<Panel>& known) { return known.expired(); });
    windows_.push_back(window);
}

void Application::windowDidClose() {
    RunLoop::main().assertOwnerThread("Application::windowDidClose");
    for (const std::weak_ptr<Panel>& known : windows_) {
        const std::shared_ptr<Panel> window = known.lock();
        if (window && window->isVisible()) {
            return;
        }
    }
    if (delegate_ != nullptr && delegate_->applicationShouldTerminateAfterLastWindowClosed()) {
        terminate(nullptr);
    }
}

void Application::activateIgnoringOtherApps(bool /*flag*/) {
    active_ = true;
}

bool Application::respondsToSelector(const Selector& selector) const {
    return selector == "terminate:";
}

void Application::performSelector(const Selector& selector, const void* sender) {
    if (selector == "terminate:") {
        terminate(sender);
    }
}

} // namespace scrivlet
