#include "ScrivletFinderSync/host/URLCommandOpener.h"

#include <csignal>
#include <spawn.h>
#include <vector>

extern char** environ; // NOLINT(readability-redundant-declaration): POSIX declares it nowhere

namespace scrivlet {

bool openURLWithCommand(const std::string& command, const URL& url) {
    // Children the host never waits for must not linger as zombies.
    std::signal(SIGCHLD, SIG_IGN);
    std::string program = command;
    std::string argument = url.absoluteString();
    std::vector<char*> argv{program.data(), argument.data(), nullptr};
    pid_t child = 0;
    return ::posix_spawnp(&child, program.c_str(), nullptr, nullptr, argv.data(), environ) == 0;
}

} // namespace scrivlet
