// The program: chooses the platform (the real run loop and log, the simulated desktop and
// the control socket that drives it from a terminal), hands the URLs among the arguments to
// the application as the system does for a URL that starts the app, and runs until the
// application terminates (its menu, SIGINT or SIGTERM).
#include "Platform/Application.h"
#include "Platform/Bundle.h"
#include "Platform/Log.h"
#include "Platform/RunLoop.h"
#include "Platform/Services.h"
#include "Platform/control/DesktopControl.h"
#include "Platform/control/DesktopControlServer.h"
#include "Platform/real/JournaldLogSink.h"
#include "Platform/real/TerminationSignals.h"
#include "Platform/simulated/SimulatedDesktop.h"
#include "Scrivlet/AppDelegate.h"
#include "Scrivlet/EntryPoint.h"

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

int scrivletMain(int argc, char** argv) {
    setLogSink(makeSystemLogSink("Scrivlet"));
    // The one place where this program chooses its platform: the real run loop and the
    // simulated desktop.
    auto simulated = std::make_unique<SimulatedDesktop>();
    SimulatedDesktop& desktop = *simulated;
    Services services(std::make_unique<RunLoop>(makeRealRunLoopBackend()), std::move(simulated),
                      mainBundle());
    Application& application = Application::shared();
    desktop.addRunningApplication(
        {services.mainBundle().bundleIdentifier(), ::getpid(), "Scrivlet", false});
    // The simulated desktop has Finder running and frontmost, as a real one has.
    desktop.activateApplication(desktop.finder().launch());
    const auto signals = TerminationSignals::install(
        services.runLoop(), [&application](int) { application.terminate(nullptr); });
    DesktopControl desktopControl(services, desktop);
    // The control socket opens once launching is over: a second copy, which ends during its
    // launch, must never take the socket of the copy that keeps running.
    std::unique_ptr<DesktopControlServer> control;
    services.runLoop().async([&] {
        std::error_code controlError;
        control =
            DesktopControlServer::start(services.runLoop(), desktopControl,
                                        DesktopControlServer::defaultSocketPath(), controlError);
        if (!control) {
            std::fprintf(stderr, "Scrivlet: the desktop cannot be driven from a terminal: %s\n",
                         controlError.message().c_str());
        }
    });
    installAppDelegate();
    application.run(launchURLs(argc, argv));
    // Release the app's state while the platform it uses still exists: pending panel edits
    // are written here.
    application.setDelegate(nullptr);
    sharedAppDelegate().reset();
    return 0;
}

} // namespace scrivlet

int main(int argc, char** argv) {
    return scrivlet::scrivletMain(argc, argv);
}
