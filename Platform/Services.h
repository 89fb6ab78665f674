#pragma once

#include "Platform/base/Export.h"

#include <memory>

namespace scrivlet {

class Application;
class ApplicationRegistry;
class Bundle;
class FileManager;
class DesktopBackend;
class RunLoop;

// The platform services of this process, chosen once at start-up by the program's entry
// point: the run loop (real, or a test's virtual clock), the desktop backend, the main
// bundle. It is the one composition root, above every floor of the platform layer: nothing
// below calls it. Constructing the object installs what it holds into the floors (the main
// run loop, bundle, file manager, application registry, desktop backend and application
// object); destroying it gives them back to the services installed before.
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
    // This user's running app processes, in the runtime directory as it is at construction.
    ApplicationRegistry& applicationRegistry() { return *applicationRegistry_; }
    // The file manager; a test may put one in that fails on purpose.
    FileManager& fileManager() { return *fileManager_; }
    void setFileManager(std::unique_ptr<FileManager> fileManager);

private:
    std::unique_ptr<RunLoop> runLoop_;
    std::unique_ptr<DesktopBackend> desktop_;
    std::unique_ptr<Bundle> mainBundle_;
    std::unique_ptr<Application> application_;
    std::unique_ptr<ApplicationRegistry> applicationRegistry_;
    std::unique_ptr<FileManager> fileManager_;
    Services* previous_ = nullptr;
};

} // namespace scrivlet
