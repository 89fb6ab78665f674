// The single-instance guard: the first launch step. Only one copy of the app runs per user.
#include "Platform/desktop/RunningApplication.h"
#include "Platform/system/Bundle.h"
#include "Scrivlet/AppDelegate.h"
#include "Scrivlet/AppLog.h"

#include <algorithm>

namespace scrivlet {

bool AppDelegate::ensureSingleInstance() {
    const std::string& bundleIdentifier = Bundle::main().bundleIdentifier();
    if (bundleIdentifier.empty()) {
        return true;
    }
    // Looking and registering must be one step: two copies started at the same moment would
    // otherwise each see the other and both leave, or each see none and both stay. The
    // registration holds the user's registry from this look-up until this process is listed.
    RunningApplication::Registration registration = RunningApplication::beginRegistration();
    const pid_t current = RunningApplication::currentApplication().processIdentifier();
    const std::vector<RunningApplication> copies =
        RunningApplication::runningApplicationsWithBundleIdentifier(bundleIdentifier);
    const bool anotherRuns =
        std::any_of(copies.begin(), copies.end(), [current](const RunningApplication& copy) {
            return copy.processIdentifier() != current && !copy.isTerminated();
        });
    if (anotherRuns) {
        AppLog::instance().info("Another Scrivlet instance is already running — exiting this one");
        return false;
    }
    if (auto error = registration.registerCurrentApplication()) {
        // The app still runs, but a second copy could not see it; say why.
        AppLog::instance().info("Could not register this instance: %{public}s",
                                {error->localizedDescription});
    }
    return true;
}

} // namespace scrivlet
