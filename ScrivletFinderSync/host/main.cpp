// The Finder Sync host: Finder's side of the extension in a process of its own. It loads the
// plug-in from the app bundle and drives it with the commands of HostShell, from its
// arguments and, with --watch, from standard input while it prints every badge change.
#include "Platform/Services.h"
#include "Platform/backends/simulated/SimulatedDesktop.h"
#include "Platform/base/Log.h"
#include "Platform/base/RunLoop.h"
#include "Platform/desktop/FinderSyncController.h"
#include "Platform/system/Bundle.h"
#include "ScrivletFinderSync/host/HostShell.h"
#include "ScrivletFinderSync/host/URLCommandOpener.h"

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <unistd.h>

using namespace scrivlet;

namespace {

struct Options {
    std::string bundle = SCRIVLET_DEFAULT_APP_BUNDLE;
    std::string openWith;
    bool watch = false;
    std::vector<std::string> command;
};

std::optional<Options> parseOptions(int argc, char** argv) {
    Options options;
    if (const char* openWith = std::getenv("SCRIVLET_OPEN_WITH")) {
        options.openWith = openWith;
    }
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--watch") {
            options.watch = true;
        } else if ((argument == "--bundle" || argument == "--open-with") && i + 1 < argc) {
            (argument == "--bundle" ? options.bundle : options.openWith) = argv[++i];
        } else if (argument.starts_with("--")) {
            return std::nullopt;
        } else {
            options.command.assign(argv + i, argv + argc);
            break;
        }
    }
    return options;
}

void usage() {
    std::cerr << "usage: scrivlet-findersync-host [--bundle APP] [--open-with COMMAND] [--watch]\n"
                 "                                [badges FOLDER | menu PATH... |"
                 " choose TITLE PATH...]\n";
}

void routeOpenedURLs(SimulatedDesktop& desktop, const std::string& command) {
    desktop.setURLOpener([command](const URL& url) {
        if (command.empty()) {
            std::cout << "open\t" << url.absoluteString() << std::endl;
            return true;
        }
        return openURLWithCommand(command, url);
    });
}

// Reads commands from standard input until "quit" or its end, then stops the loop.
void readCommandsFromStandardInput(HostShell& shell) {
    auto pending = std::make_shared<std::string>();
    RunLoop::main().addFileDescriptorSource(STDIN_FILENO, [&shell, pending] {
        char buffer[4096];
        const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (count <= 0) {
            RunLoop::main().stop();
            return;
        }
        pending->append(buffer, static_cast<std::size_t>(count));
        for (auto end = pending->find('\n'); end != std::string::npos; end = pending->find('\n')) {
            const std::string line = pending->substr(0, end);
            pending->erase(0, end + 1);
            if (!shell.run(HostShell::splitFields(line))) {
                RunLoop::main().stop();
                return;
            }
        }
    });
}

int runHost(const Options& options) {
    auto simulated = std::make_unique<SimulatedDesktop>();
    SimulatedDesktop& desktop = *simulated;
    Services services(std::make_unique<RunLoop>(makeRealRunLoopBackend()), std::move(simulated),
                      std::make_unique<Bundle>("com.scrivlet.FinderSyncHost", options.bundle,
                                               "scrivlet-findersync-host",
                                               std::vector<std::string>{}));
    routeOpenedURLs(desktop, options.openWith);
    std::string error;
    auto host = FinderSyncHost::load(options.bundle, error);
    if (!host) {
        std::cerr << "scrivlet-findersync-host: " << error << '\n';
        return 1;
    }
    if (options.watch) {
        FinderSyncController::defaultController().setBadgeObserver(
            [](const FinderSyncController::BadgeSet& set) {
                const auto path = set.url.fileSystemPath();
                std::cout << HostShell::badgeLine(set.identifier, path ? path->string() : "",
                                                  "watch")
                          << std::endl;
            });
    }
    HostShell shell(*host, desktop, std::cout);
    shell.run(options.command);
    services.runLoop().runUntilIdle();
    if (options.watch) {
        std::cout << "ready" << std::endl;
        readCommandsFromStandardInput(shell);
        services.runLoop().run();
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const auto options = parseOptions(argc, argv);
    if (!options) {
        usage();
        return 2;
    }
    try {
        return runHost(*options);
    } catch (const std::exception& error) {
        std::cerr << "scrivlet-findersync-host: " << error.what() << '\n';
        return 1;
    }
}
