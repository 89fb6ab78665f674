#include "Platform/desktop/RunningApplication.h"

#include "Platform/desktop/DesktopBackend.h"
#include "Platform/system/Bundle.h"

#include <algorithm>
#include <unistd.h>

namespace scrivlet {

std::vector<RunningApplication> RunningApplication::runningApplications() {
    std::vector<RunningApplication> applications;
    for (const ApplicationRecord& record : ApplicationRegistry::shared().liveRecords()) {
        applications.emplace_back(record.bundleIdentifier, record.processIdentifier,
                                  record.bundlePath.stem().string(), record.terminated);
    }
    // The desktop also shows the app's own process; the registry's entry speaks for it.
    for (const RunningApplicationInfo& info : DesktopBackend::current().runningApplications()) {
        const bool listed = std::any_of(applications.begin(), applications.end(), [&](auto& app) {
            return app.processIdentifier() == info.processIdentifier;
        });
        if (!listed) {
            applications.emplace_back(info.bundleIdentifier, info.processIdentifier,
                                      info.localizedName);
        }
    }
    return applications;
}

RunningApplication RunningApplication::currentApplication() {
    const Bundle& bundle = Bundle::main();
    const auto record = ApplicationRegistry::shared().currentRecord();
    return {bundle.bundleIdentifier(), ::getpid(), bundle.bundlePath().stem().string(),
            record && record->terminated};
}

RunningApplication::Registration RunningApplication::beginRegistration() {
    return Registration(ApplicationRegistry::shared());
}

std::optional<PlatformError> RunningApplication::Registration::registerCurrentApplication() {
    const Bundle& bundle = Bundle::main();
    return registry_.registerCurrentProcess(access_, bundle.bundleIdentifier(),
                                            bundle.bundlePath());
}

std::vector<RunningApplication>
RunningApplication::runningApplicationsWithBundleIdentifier(const std::string& bundleIdentifier) {
    std::vector<RunningApplication> matching;
    for (RunningApplication& application : runningApplications()) {
        if (application.bundleIdentifier() == bundleIdentifier) {
            matching.push_back(std::move(application));
        }
    }
    return matching;
}

std::optional<RunningApplication>
RunningApplication::withProcessIdentifier(pid_t processIdentifier) {
    for (RunningApplication& application : runningApplications()) {
        if (application.processIdentifier() == processIdentifier) {
            return application;
        }
    }
    return std::nullopt;
}

bool RunningApplication::activate() const {
    return DesktopBackend::current().activateApplication(processIdentifier_);
}

} // namespace scrivlet
