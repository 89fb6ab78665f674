#pragma once

#include "Platform/base/Export.h"
#include "Platform/base/PlatformError.h"
#include "Platform/system/ApplicationRegistry.h"

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace scrivlet {

// A running application as a desktop backend reports it.
struct SCRIVLET_PLATFORM_API RunningApplicationInfo {
    std::string bundleIdentifier;
    pid_t processIdentifier = 0;
    std::string localizedName;
    bool active = false;
    friend bool operator==(const RunningApplicationInfo&, const RunningApplicationInfo&) = default;
};

// Another application (or this one) as the workspace lists it: the user's app processes from
// the registry of running apps, then the desktop's other applications.
class SCRIVLET_PLATFORM_API RunningApplication {
public:
    static std::vector<RunningApplication>
    runningApplicationsWithBundleIdentifier(const std::string& bundleIdentifier);
    static std::vector<RunningApplication> runningApplications();
    static std::optional<RunningApplication> withProcessIdentifier(pid_t processIdentifier);
    // This process, with the main bundle's identifier.
    static RunningApplication currentApplication();

    // Joins this process to the registry of running apps. While a Registration lives no other
    // process can register, so what this process looks up meanwhile stays true until it
    // registers: a check and the registration that follows it are one step.
    class SCRIVLET_PLATFORM_API Registration {
    public:
        explicit Registration(ApplicationRegistry& registry)
            : registry_(registry), access_(registry.lockExclusively()) {}
        // Lists this process from now on, under the main bundle's identifier and path.
        std::optional<PlatformError> registerCurrentApplication();

    private:
        ApplicationRegistry& registry_;
        ApplicationRegistry::ExclusiveAccess access_;
    };
    static Registration beginRegistration();

    const std::string& bundleIdentifier() const { return bundleIdentifier_; }
    pid_t processIdentifier() const { return processIdentifier_; }
    const std::string& localizedName() const { return localizedName_; }
    // Brings the application to the front; false when it has quit.
    bool activate() const;
    // The application is on its way out (it asked to terminate and has not ended yet).
    bool isTerminated() const { return terminated_; }

    RunningApplication(std::string bundleIdentifier, pid_t processIdentifier, std::string name,
                       bool terminated = false)
        : bundleIdentifier_(std::move(bundleIdentifier)), processIdentifier_(processIdentifier),
          localizedName_(std::move(name)), terminated_(terminated) {}

private:
    std::string bundleIdentifier_;
    pid_t processIdentifier_;
    std::string localizedName_;
    bool terminated_ = false;
};

} // namespace scrivlet
