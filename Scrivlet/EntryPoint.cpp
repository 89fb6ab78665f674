#include "Scrivlet/EntryPoint.h"

#include "Platform/Application.h"
#include "Platform/Bundle.h"
#include "Platform/Log.h"
#include "Platform/RunLoop.h"
#include "Platform/Services.h"
#include "Platform/real/DesktopControlServer.h"
#include "Platform/real/JournaldLogSink.h"
#include "Platform/real/TerminationSignals.h"
#include "Platform/simulated/Desktop.h"
#include "Platform/simulated/DesktopControl.h"
#include "Scrivlet/AppDelegate.h"

#include <cstdio>
#include <unistd.h>

namespace scrivlet {

namespace {

std::unique_ptr<Bundle> mainBundle() {
    if (std::optional<Bundle> bundle = Bundle::containingExecutable()) {
        return std::make_unique<Bundle>(std::move(*bundle));
    }
    // Run outside its bundle (from a build folder, say): describe the bundle it belongs to.
    char executable[4096] = {};
    const ssize_t length = ::readlink("/proc/self/exe", executable, sizeof executable - 1);
    const std::filesystem::path folder =
        length > 0 ? std::filesystem::path(executable).parent_path() : std::filesystem::path(".");
    return std::make_unique<Bundle>("com.scrivlet.Scrivlet", folder, "Scrivlet",
                                    std::vector<std::string>{"scrivlet"});
}

std::vector<URL> launchURLs(int argc, char** argv) {
    std::vector<URL> urls;
    for (int i = 1; i < argc; ++i) {
        if (std::optional<URL> url = URL::fromString(argv[i]); url && url->scheme()) {
            urls.push_back(std::move(*url));
        } else {
            std::fprintf(stderr, "Scrivlet: ignoring argument that is not a URL: %s\n", argv[i]);
        }
    }
    return urls;
}

} // namespace

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

int scrivletMain(int argc, char** argv) {
    setLogSink(makeSystemLogSink("Scrivlet"));
    Services services(std::make_unique<RunLoop>(makeRealRunLoopBackend()),
                      std::make_unique<Desktop>(), mainBundle());
    Application& application = Application::shared();
    services.desktop().addRunningApplication(
        {services.mainBundle().bundleIdentifier(), ::getpid(), "Scrivlet", false});
    // The simulated desktop has Finder running and frontmost, as a real one has.
    services.desktop().activateApplication(services.desktop().finder().launch());
    const auto signals = TerminationSignals::install(
        services.runLoop(), [&application](int) { application.terminate(nullptr); });
    DesktopControl desktop(services);
    std::error_code controlError;
    const auto control = DesktopControlServer::start(
        services.runLoop(), desktop, DesktopControlServer::defaultSocketPath(), controlError);
    if (!control) {
        std::fprintf(stderr, "Scrivlet: the desktop cannot be driven from a terminal: %s\n",
                     controlError.message().c_str());
    }
    installAppDelegate();
    application.run(launchURLs(argc, argv));
    // Release the app's state while the platform it uses still exists: pending panel edits
    // are written here.
    application.setDelegate(nullptr);
    sharedAppDelegate().reset();
    return 0;
}

} // namespace scrivlet
