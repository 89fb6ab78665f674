#pragma once

#include "Platform/Export.h"

#include <memory>

namespace scrivlet {

class Application;
class Bundle;
class DesktopBackend;
class RunLoop;

// The platform services of this process, chosen once at start-up by the program's entry
// point: the run loop (real, or a test's virtual clock), the desktop backend, the main
// bundle. Constructing the
// object installs it (and its run loop as the main one); destroying it uninstalls it.
class SCRIVLET_PLATFORM_API Services {
public:
    Services(std::unique_ptr<RunLoop> runLoop, std::unique_ptr<DesktopBackend> desktop,
             std::unique_ptr<Bundle> mainBundle);
    ~Services();
    Services(const Services&) = delete;
    Services& operator=(const Services&) = delete;

    static Services& current();
    static bool isInstalled();

    RunLoop& runLoop() { return *runLoop_; }
    DesktopBackend& desktop() { return *desktop_; }
    Application& application() { return *application_; }
    const Bundle& mainBundle() const { return *mainBundle_; }

private:
    std::unique_ptr<RunLoop> runLoop_;
    std::unique_ptr<DesktopBackend> desktop_;
    std::unique_ptr<Bundle> mainBundle_;
    std::unique_ptr<Application> application_;
    Services* previous_ = nullptr;
};

} // namespace scrivlet
