#include "Scrivlet/EntryPoint.h"

#include "Platform/base/RunLoop.h"
#include "Platform/desktop/Application.h"
#include "Scrivlet/AppDelegate.h"

namespace scrivlet {

std::shared_ptr<AppDelegate>& sharedAppDelegate() {
    static std::shared_ptr<AppDelegate> delegate;
    return delegate;
}

AppDelegate& installAppDelegate() {
    Application& application = Application::shared();
    sharedAppDelegate() = std::make_shared<AppDelegate>();
    application.setDelegate(sharedAppDelegate().get());
    return *sharedAppDelegate();
}

void releaseAppDelegate() {
    Application& application = Application::shared();
    if (std::shared_ptr<AppDelegate>& delegate = sharedAppDelegate()) {
        delegate->applicationWillTerminate();
    }
    application.setDelegate(nullptr);
    sharedAppDelegate().reset();
    RunLoop::main().discardPendingWork();
}

} // namespace scrivlet
