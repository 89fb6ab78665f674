#include "tests/support/AppSession.h"

#include "Platform/Services.h"
#include "Platform/backends/simulated/SimulatedDesktop.h"
#include "Platform/base/RunLoop.h"
#include "Platform/control/DesktopControl.h"
#include "Platform/control/VirtualClock.h"
#include "Platform/desktop/Application.h"
#include "Platform/system/Bundle.h"
#include "Scrivlet/AppDelegate.h"
#include "Scrivlet/EntryPoint.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempHome.h"

#include <unistd.h>

namespace scrivlet {

namespace {

// Noon, 7 December 2026 UTC: scenarios read the same dates on every run.
const Date scenarioStart = Date(std::chrono::seconds(1'796'644'800));

} // namespace

AppSession::AppSession() : AppSession(std::filesystem::path("Applications") / "Scrivlet.app") {}

AppSession::AppSession(const std::filesystem::path& bundlePath)
    : home_(std::make_unique<TempHome>()), log_(std::make_unique<LogCapture>()) {
    auto bundle = std::make_unique<Bundle>("com.scrivlet.Scrivlet", home_->path() / bundlePath,
                                           "Scrivlet", std::vector<std::string>{"scrivlet"});
    if (bundlePath.is_relative()) {
        // The app is installed: its bundle holds an executable, as the login item requires.
        const std::filesystem::path executable = bundle->executablePath();
        home_->makeFile(std::filesystem::relative(executable, home_->path()).string(),
                        "#!/bin/sh\n");
        std::filesystem::permissions(executable, std::filesystem::perms::owner_all);
    }
    auto simulated = std::make_unique<SimulatedDesktop>();
    SimulatedDesktop& desktop = *simulated;
    services_ = std::make_unique<Services>(
        std::make_unique<RunLoop>(makeVirtualRunLoopBackend(scenarioStart)), std::move(simulated),
        std::move(bundle));
    // The app runs in this process: the desktop shows it under this process's id, as the
    // registry of running apps lists it once the app registers.
    desktop.addRunningApplication({"com.scrivlet.Scrivlet", ::getpid(), "Scrivlet", false});
    desktop_ = std::make_unique<DesktopControl>(*services_, desktop);
    // As on a real desktop, Finder runs and is frontmost before the app starts.
    desktop.activateApplication(desktop.finder().launch());
    services_->runLoop().runUntilIdle();
}

SimulatedDesktop& AppSession::simulatedDesktop() {
    return desktop_->desktop();
}

AppSession::~AppSession() {
    // The app goes first, while the platform it uses still exists.
    exitProcess();
    desktop_.reset();
    services_.reset();
}

void AppSession::deliverURLs(const std::vector<URL>& urls) {
    if (!launched_) {
        earlyDeliveries_.push_back(urls);
        return;
    }
    Application::shared().openURLs(urls);
    services_->runLoop().runUntilIdle();
}

void AppSession::launch() {
    finishLaunching();
    services_->runLoop().runUntilIdle();
}

void AppSession::finishLaunching() {
    launched_ = true;
    installAppDelegate();
    for (const auto& delivery : earlyDeliveries_) {
        Application::shared().openURLs(delivery);
    }
    earlyDeliveries_.clear();
    Application::shared().finishLaunching();
}

void AppSession::exitProcess() {
    if (launched_) {
        releaseAppDelegate();
        launched_ = false;
    }
}

AppDelegate* AppSession::delegate() const {
    return sharedAppDelegate().get();
}

bool AppSession::isTerminated() const {
    return services_->application().isTerminationRequested();
}

void AppSession::advance(double seconds) {
    services_->runLoop().advance(seconds);
}

} // namespace scrivlet
