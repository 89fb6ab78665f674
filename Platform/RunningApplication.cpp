#include "Platform/RunningApplication.h"

#include "Platform/DesktopBackend.h"
#include "Platform/Services.h"

namespace scrivlet {

std::vector<RunningApplication> RunningApplication::runningApplications() {
    std::vector<RunningApplication> applications;
    for (const RunningApplicationInfo& info : Services::current().desktop().runningApplications()) {
        applications.push_back(
            RunningApplication(info.bundleIdentifier, info.processIdentifier, info.localizedName));
    }
    return applications;
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
    return Services::current().desktop().activateApplication(processIdentifier_);
}

} // namespace scrivlet
