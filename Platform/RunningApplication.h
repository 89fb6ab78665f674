#pragma once

#include "Platform/Export.h"

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

// Another application (or this one) as the workspace lists it.
class SCRIVLET_PLATFORM_API RunningApplication {
public:
    static std::vector<RunningApplication>
    runningApplicationsWithBundleIdentifier(const std::string& bundleIdentifier);
    static std::vector<RunningApplication> runningApplications();
    static std::optional<RunningApplication> withProcessIdentifier(pid_t processIdentifier);

    const std::string& bundleIdentifier() const { return bundleIdentifier_; }
    pid_t processIdentifier() const { return processIdentifier_; }
    const std::string& localizedName() const { return localizedName_; }
    // Brings the application to the front; false when it has quit.
    bool activate() const;

    RunningApplication(std::string bundleIdentifier, pid_t processIdentifier, std::string name)
        : bundleIdentifier_(std::move(bundleIdentifier)), processIdentifier_(processIdentifier),
          localizedName_(std::move(name)) {}

private:
    std::string bundleIdentifier_;
    pid_t processIdentifier_;
    std::string localizedName_;
};

} // namespace scrivlet
