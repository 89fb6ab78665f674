#include "Platform/Services.h"

#include "Platform/base/RunLoop.h"
#include "Platform/desktop/Application.h"
#include "Platform/desktop/DesktopBackend.h"
#include "Platform/system/ApplicationRegistry.h"
#include "Platform/system/Bundle.h"
#include "Platform/system/FileManager.h"

#include <cstdio>
#include <cstdlib>

namespace scrivlet {

namespace {

Services* installed = nullptr;

// The floors below reach the process's objects through their own classes; the composition
// root hands them over here, and gives the previous ones back when it goes.
void installFloors(Services* services) {
    RunLoop::setMain(services ? &services->runLoop() : nullptr);
    Bundle::setMain(services ? &services->mainBundle() : nullptr);
    FileManager::setDefaultManager(services ? &services->fileManager() : nullptr);
    ApplicationRegistry::setShared(services ? &services->applicationRegistry() : nullptr);
    DesktopBackend::setCurrent(services ? &services->desktop() : nullptr);
    Application::setShared(services ? &services->application() : nullptr);
}

} // namespace

Services::Services(std::unique_ptr<RunLoop> runLoop, std::unique_ptr<DesktopBackend> desktop,
                   std::unique_ptr<Bundle> mainBundle)
    : runLoop_(std::move(runLoop)), desktop_(std::move(desktop)),
      mainBundle_(std::move(mainBundle)), application_(std::make_unique<Application>()),
      applicationRegistry_(
          std::make_unique<ApplicationRegistry>(ApplicationRegistry::defaultDirectory())),
      fileManager_(std::make_unique<FileManager>()), previous_(installed) {
    installed = this;
    installFloors(this);
}

Services::~Services() {
    installed = previous_;
    installFloors(previous_);
}

void Services::setFileManager(std::unique_ptr<FileManager> fileManager) {
    fileManager_ = std::move(fileManager);
    if (installed == this) {
        FileManager::setDefaultManager(fileManager_.get());
    }
}

Services& Services::current() {
    if (installed == nullptr) {
        std::fputs("platform services used before they were installed\n", stderr);
        std::abort();
    }
    return *installed;
}

bool Services::isInstalled() {
    return installed != nullptr;
}

} // namespace scrivlet
