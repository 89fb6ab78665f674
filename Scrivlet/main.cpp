// The program: chooses the platform (the real run loop and log; the simulated desktop and
// the control socket that drives it from a terminal, or with `--desktop=x11` or
// SCRIVLET_DESKTOP=x11 the desktop of the X11 session), receives the URLs of its scheme that
// other programs open, hands the URLs among the arguments to the application as the system
// does for a URL that starts the app, and runs until the application terminates (its menu,
// SIGINT or SIGTERM).
#include "Platform/Services.h"
#include "Platform/backends/simulated/SimulatedDesktop.h"
#include "Platform/backends/x11/X11DesktopFactory.h"
#include "Platform/base/Log.h"
#include "Platform/base/RunLoop.h"
#include "Platform/control/DesktopControl.h"
#include "Platform/control/DesktopControlServer.h"
#include "Platform/desktop/Application.h"
#include "Platform/desktop/SessionFileManager.h"
#include "Platform/system/Bundle.h"
#include "Platform/system/JournaldLogSink.h"
#include "Platform/system/LaunchServices.h"
#include "Platform/system/TerminationSignals.h"
#include "Platform/system/URLDelivery.h"
#include "Platform/system/URLReceiver.h"
#include "Platform/system/URLSchemeRegistration.h"
#include "Platform/system/UserDefaults.h"
#include "Platform/system/UserDirectories.h"
#include "Scrivlet/AppDelegate.h"
#include "Scrivlet/EntryPoint.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <thread>
#include <unistd.h>

namespace scrivlet {

namespace {

// How long a second copy keeps trying to reach the first one, which may still be starting.
constexpr std::chrono::seconds handOverTimeout(5);

std::filesystem::path runningExecutable() {
    std::error_code error;
    std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : executable;
}

std::unique_ptr<Bundle> mainBundle() {
    if (std::optional<Bundle> bundle = Bundle::containingExecutable()) {
        return std::make_unique<Bundle>(std::move(*bundle));
    }
    // Run outside its bundle (from a build folder, say): describe the bundle it belongs to.
    const std::filesystem::path executable = runningExecutable();
    const std::filesystem::path folder =
        executable.empty() ? std::filesystem::path(".") : executable.parent_path();
    return std::make_unique<Bundle>("com.scrivlet.Scrivlet", folder, "Scrivlet",
                                    std::vector<std::string>{"scrivlet"});
}

constexpr std::string_view desktopOption = "--desktop=";

// The desktop the app lives on: the simulated one unless the command line or the environment
// names the X11 session's. Nothing, after a line saying why, for a desktop it does not know.
enum class DesktopChoice { simulated, x11 };
std::optional<DesktopChoice> chosenDesktop(int argc, char** argv) {
    std::string_view name;
    if (const char* environment = std::getenv("SCRIVLET_DESKTOP")) {
        name = environment;
    }
    for (int i = 1; i < argc; ++i) {
        if (std::string_view argument = argv[i]; argument.starts_with(desktopOption)) {
            name = argument.substr(desktopOption.size());
        }
    }
    if (name.empty() || name == "simulated") {
        return DesktopChoice::simulated;
    }
    if (name == "x11") {
        return DesktopChoice::x11;
    }
    std::fprintf(stderr, "Scrivlet: unknown desktop \"%.*s\" (x11 or simulated)\n",
                 static_cast<int>(name.size()), name.data());
    return std::nullopt;
}

constexpr std::string_view fileManagerOption = "--file-manager=";

// The file manager of the session, in one place: the one the command line names, else the
// user default `fileManager`, else the one of the session's desktop. A name it does not know
// is said in one line and left out.
FileManagerProgram chosenFileManager(int argc, char** argv, const Bundle& bundle) {
    // Read before the services exist: the desktop's selection reader depends on it.
    UserDefaults defaults(UserDirectories::configHome() / "scrivlet" /
                          (bundle.bundleIdentifier() + ".json"));
    std::optional<std::string> named = defaults.stringForKey("fileManager");
    for (int i = 1; i < argc; ++i) {
        if (std::string_view argument = argv[i]; argument.starts_with(fileManagerOption)) {
            named = std::string(argument.substr(fileManagerOption.size()));
        }
    }
    if (named && !fileManagerNamed(*named)) {
        std::fprintf(stderr, "Scrivlet: unknown file manager \"%s\" (dolphin or nautilus)\n",
                     named->c_str());
        named.reset();
    }
    const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
    return sessionFileManagerFor(named, desktop != nullptr ? desktop : "");
}

std::vector<URL> launchURLs(int argc, char** argv) {
    std::vector<URL> urls;
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]).starts_with(desktopOption) ||
            std::string_view(argv[i]).starts_with(fileManagerOption)) {
            continue;
        }
        if (std::optional<URL> url = URL::fromString(argv[i]); url && url->scheme()) {
            urls.push_back(std::move(*url));
        } else {
            std::fprintf(stderr, "Scrivlet: ignoring argument that is not a URL: %s\n", argv[i]);
        }
    }
    return urls;
}

// The copy that already runs may still be starting: until it listens, try again.
int handOver(const std::string& scheme, const std::vector<URL>& urls) {
    const auto deadline = std::chrono::steady_clock::now() + handOverTimeout;
    std::error_code error;
    do {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        error = URLDelivery::deliver(scheme, urls, std::max(left, std::chrono::milliseconds(1)));
        if (error != std::errc::connection_refused) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (std::chrono::steady_clock::now() < deadline);
    if (error == URLDelivery::unconfirmed()) {
        std::fprintf(stderr, "Scrivlet: handed the URLs to the running copy, which has not "
                             "confirmed them yet\n");
        return LaunchServices::unconfirmedExitStatus;
    }
    if (error) {
        std::fprintf(stderr, "Scrivlet: could not hand the URLs to the running copy: %s\n",
                     error.message().c_str());
        return 1;
    }
    return 0;
}

// Makes this program the handler of its schemes for xdg-open and the desktops; rewritten
// when the program has moved.
void registerURLSchemes(const Bundle& bundle) {
    const URLSchemeRegistration::Application application{bundle.bundleIdentifier(), "Scrivlet",
                                                         runningExecutable(), bundle.urlSchemes()};
    if (const std::error_code error = URLSchemeRegistration::registerApplication(application)) {
        std::fprintf(stderr, "Scrivlet: cannot register as the handler of its URLs: %s\n",
                     error.message().c_str());
    }
}

// URLs this program opens travel between processes as on a real desktop.
bool openElsewhere(const URL& url) {
    return !LaunchServices::openURLs({url});
}

// Runs the application on the installed platform until it terminates. Without a receiver
// (`receiverError` says why), URLs opened elsewhere cannot reach this copy.
int runApplication(Services& services, std::unique_ptr<URLReceiver>& receiver,
                   std::error_code receiverError, const std::vector<URL>& urls) {
    Application& application = Application::shared();
    const auto signals = TerminationSignals::install(
        services.runLoop(), [&application](int) { application.terminate(nullptr); });
    if (receiver) {
        receiver->start(services.runLoop(), [&application](const std::vector<URL>& delivered) {
            application.openURLs(delivered);
        });
    } else {
        // Said once the launch is over, by a copy that keeps running: a copy that ends during
        // its launch (another one runs) has a line of its own, and this one would mislead.
        services.runLoop().async([receiverError] {
            std::fprintf(stderr, "Scrivlet: URLs opened elsewhere cannot reach this copy: %s\n",
                         receiverError.message().c_str());
        });
    }
    installAppDelegate();
    application.run(urls);
    releaseAppDelegate();
    // The receiver leaves the run loop before the loop goes with the services; its socket
    // goes with it, and its lock last.
    receiver.reset();
    return 0;
}

} // namespace

int scrivletMain(int argc, char** argv) {
    setLogSink(makeSystemLogSink("Scrivlet"));
    const std::optional<DesktopChoice> choice = chosenDesktop(argc, argv);
    if (!choice) {
        return 2;
    }
    // The registry, the URL socket and the notices live in the runtime folder: in one that
    // others can write to, any of them may be planted, so the app does not start there.
    if (const auto refused =
            UserDirectories::ensurePrivateDirectory(UserDirectories::runtimeDirectory())) {
        std::fprintf(stderr,
                     "Scrivlet: not starting: %s. The runtime folder (XDG_RUNTIME_DIR) and the "
                     "folders in it must be this user's alone.\n",
                     refused->localizedDescription.c_str());
        return 1;
    }
    std::unique_ptr<Bundle> bundle = mainBundle();
    const std::vector<URL> urls = launchURLs(argc, argv);
    // Before any application code runs: become the one receiver of the app's URLs, or, when
    // a copy of the app already is, hand this start's URLs to it and end.
    const std::string scheme = bundle->urlSchemes().empty() ? "scrivlet" : bundle->urlSchemes()[0];
    std::error_code receiverError;
    std::unique_ptr<URLReceiver> receiver = URLReceiver::claim(scheme, receiverError);
    if (!receiver && receiverError == std::errc::device_or_resource_busy && !urls.empty()) {
        return handOver(scheme, urls);
    }
    if (receiver) {
        registerURLSchemes(*bundle);
    }
    // The one place where this program chooses its platform: the real run loop, and the
    // X11 session's desktop or the simulated one.
    if (choice == DesktopChoice::x11) {
        auto loop = std::make_unique<RunLoop>(makeRealRunLoopBackend());
        setSessionFileManager(chosenFileManager(argc, argv, *bundle));
        // Dolphin's selection comes through the accessibility bus; without it the desktop
        // knows windows and applications only. GNOME's file manager has the extension inside
        // it tell the selection through a file, believed for the window in front only; a
        // scripted session (a demo, a test) tells it through a file of its own.
        std::unique_ptr<FileManagerSelection> selection;
        if (const char* selectionFile = std::getenv("SCRIVLET_X11_SELECTION_FILE")) {
            selection = x11::selectionFromFile(*loop, selectionFile);
        } else if (sessionFileManager() == FileManagerProgram::nautilus) {
            selection = x11::selectionFromExtension(*loop, extensionSelectionFile().string());
        } else {
            selection = x11::selectionFromAccessibility(*loop);
        }
        std::string error;
        std::unique_ptr<DesktopBackend> desktop =
            x11::openX11Desktop(*loop, std::move(selection), openElsewhere, error);
        if (!desktop) {
            std::fprintf(stderr, "Scrivlet: %s\n", error.c_str());
            return 1;
        }
        Services services(std::move(loop), std::move(desktop), std::move(bundle));
        return runApplication(services, receiver, receiverError, urls);
    }
    auto simulated = std::make_unique<SimulatedDesktop>();
    SimulatedDesktop& desktop = *simulated;
    Services services(std::make_unique<RunLoop>(makeRealRunLoopBackend()), std::move(simulated),
                      std::move(bundle));
    desktop.addRunningApplication(
        {services.mainBundle().bundleIdentifier(), ::getpid(), "Scrivlet", false});
    // The simulated desktop has Finder running and frontmost, as a real one has.
    desktop.activateApplication(desktop.finder().launch());
    desktop.setURLOpener(openElsewhere);
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
    return runApplication(services, receiver, receiverError, urls);
}

} // namespace scrivlet

int main(int argc, char** argv) {
    return scrivlet::scrivletMain(argc, argv);
}
