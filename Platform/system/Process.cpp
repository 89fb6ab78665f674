#include "Platform/system/Process.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ; // NOLINT(readability-redundant-declaration): spawn's environment

namespace scrivlet {

namespace {

// posix_spawn's attribute and file-action objects, released whatever happens.
struct SpawnSetup {
    posix_spawnattr_t attributes{};
    posix_spawn_file_actions_t actions{};
    SpawnSetup() {
        posix_spawnattr_init(&attributes);
        posix_spawn_file_actions_init(&actions);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    int detach() {
        sigset_t none;
        sigset_t all;
        sigemptyset(&none);
        sigfillset(&all);
        // The app blocks the signals its run loop reads; the program must not inherit that.
        int error = posix_spawnattr_setsigmask(&attributes, &none);
        error = error != 0 ? error : posix_spawnattr_setsigdefault(&attributes, &all);
        error = error != 0 ? error
                           : posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID |
                                                                       POSIX_SPAWN_SETSIGMASK |
                                                                       POSIX_SPAWN_SETSIGDEF);
        for (int fd = 0; fd <= 2 && error == 0; ++fd) {
            error = posix_spawn_file_actions_addopen(&actions, fd, "/dev/null",
                                                     fd == 0 ? O_RDONLY : O_WRONLY, 0);
        }
        return error != 0 ? error : posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    }
};

} // namespace

std::optional<PlatformError> Process::run() {
    const std::string what = "Cannot start " + executableURL.string() + ": ";
    SpawnSetup setup;
    if (const int error = setup.detach(); error != 0) {
        return PlatformError{{error, std::generic_category()},
                             what + std::error_code(error, std::generic_category()).message()};
    }
    std::vector<std::string> argv0AndArguments{executableURL.string()};
    argv0AndArguments.insert(argv0AndArguments.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    argv.reserve(argv0AndArguments.size() + 1);
    for (std::string& argument : argv0AndArguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    pid_t child = 0;
    // glibc reports a failed exec (missing file, no permission, bad interpreter) here.
    const int error = ::posix_spawn(&child, executableURL.c_str(), &setup.actions,
                                    &setup.attributes, argv.data(), environ);
    if (error != 0) {
        const std::error_code code(error, std::generic_category());
        return PlatformError{code, what + code.message()};
    }
    pid_ = child;
    return std::nullopt;
}

int Process::waitUntilExit() {
    if (pid_ <= 0) {
        return -1;
    }
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = 0;
    return WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
}

pid_t Process::currentProcessIdentifier() {
    return ::getpid();
}

} // namespace scrivlet
