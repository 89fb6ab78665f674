#include "Scrivlet/EntryPoint.h"

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

} // namespace scrivlet
