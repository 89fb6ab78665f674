#include "Platform/system/LaunchServices.h"

#include "Platform/base/FileHandle.h"
#include "Platform/system/URLDelivery.h"
#include "Platform/system/URLSchemeRegistration.h"
#include "Platform/system/UserDirectories.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace scrivlet {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace LaunchServices {

namespace {

std::error_code lastError() {
    return {errno, std::generic_category()};
}

milliseconds timeLeft(SteadyClock::time_point deadline) {
    return std::max(milliseconds(0),
                    std::chrono::duration_cast<milliseconds>(deadline - SteadyClock::now()));
}

bool hasPassed(SteadyClock::time_point deadline) {
    return SteadyClock::now() >= deadline;
}

// Applications this process started that may end later; reaped at the next open so that a
// long-lived caller does not collect zombies.
std::mutex startedMutex;
std::vector<pid_t> startedApplications;

void reapEndedApplications() {
    const std::lock_guard lock(startedMutex);
    std::erase_if(startedApplications,
                  [](pid_t pid) { return ::waitpid(pid, nullptr, WNOHANG) != 0; });
}

// Held while one opener finds no receiver and starts the application, so that openers that
// come at the same time find the one it started instead of starting their own.
std::error_code takeLaunchLock(const std::string& scheme, FileHandle& lock,
                               SteadyClock::time_point deadline) {
    const fs::path path = URLDelivery::socketPath(scheme).parent_path() / (scheme + ".launch.lock");
    if (const auto refused = UserDirectories::ensurePrivateDirectory(path.parent_path())) {
        return refused->code;
    }
    lock.reset(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600));
    if (!lock.isValid()) {
        return lastError();
    }
    while (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            return lastError();
        }
        if (hasPassed(deadline)) {
            return std::make_error_code(std::errc::timed_out);
        }
        std::this_thread::sleep_for(milliseconds(2));
    }
    return {};
}

std::optional<std::vector<std::string>>
launchCommand(const std::string& scheme, const std::vector<URL>& urls, const OpenOptions& options) {
    std::vector<std::string> arguments;
    arguments.reserve(urls.size() + 1);
    for (const URL& url : urls) {
        arguments.push_back(url.absoluteString());
    }
    if (auto command = URLSchemeRegistration::commandForOpening(scheme, arguments)) {
        return command;
    }
    if (!options.fallbackApplication) {
        return std::nullopt;
    }
    arguments.insert(arguments.begin(), options.fallbackApplication->string());
    return arguments;
}

// Detached as the system starts applications: its own session, nothing on its standard
// streams, the signal dispositions a fresh program expects.
std::error_code spawnDetached(const std::vector<std::string>& command, pid_t& pid) {
    std::vector<char*> argv;
    argv.reserve(command.size() + 1);
    for (const std::string& argument : command) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&files);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const int result =
        command.front().find('/') != std::string::npos
            ? ::posix_spawn(&pid, argv[0], &files, &attributes, argv.data(), environ)
            : ::posix_spawnp(&pid, argv[0], &files, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&files);
    return result == 0 ? std::error_code() : std::error_code(result, std::generic_category());
}

std::error_code endedApplicationOutcome(int status) {
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        return {};
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == unconfirmedExitStatus) {
        return URLDelivery::unconfirmed(); // it handed them to a copy too busy to answer
    }
    return std::make_error_code(std::errc::connection_aborted);
}

// The started application holds the URLs in its arguments; it has them once it answers (or
// once it ended well, having handed them to a copy that was already running). At the
// deadline, a receiver that takes the questions without answering means the application is
// up and still busy: the URLs are with it, unconfirmed.
std::error_code awaitStartedApplication(const std::string& scheme, pid_t pid,
                                        SteadyClock::time_point deadline) {
    for (;;) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            return endedApplicationOutcome(status);
        }
        const milliseconds probe = std::min(timeLeft(deadline), milliseconds(250));
        const std::error_code answer = URLDelivery::deliver(scheme, {}, probe);
        if (!answer || hasPassed(deadline)) {
            const std::lock_guard lock(startedMutex);
            startedApplications.push_back(pid);
        }
        if (!answer) {
            return {};
        }
        if (hasPassed(deadline)) {
            return answer == URLDelivery::unconfirmed()
                       ? answer
                       : std::make_error_code(std::errc::timed_out);
        }
        std::this_thread::sleep_for(milliseconds(5));
    }
}

std::error_code openWithScheme(const std::string& scheme, const std::vector<URL>& urls,
                               const OpenOptions& options, SteadyClock::time_point deadline) {
    std::error_code error = URLDelivery::deliver(scheme, urls, timeLeft(deadline));
    if (error != std::errc::connection_refused) {
        return error;
    }
    FileHandle launchLock;
    if ((error = takeLaunchLock(scheme, launchLock, deadline))) {
        return error;
    }
    // Another opener may have started the application while this one waited for the lock.
    error = URLDelivery::deliver(scheme, urls, timeLeft(deadline));
    if (error != std::errc::connection_refused) {
        return error;
    }
    const auto command = launchCommand(scheme, urls, options);
    if (!command) {
        return std::make_error_code(std::errc::no_such_file_or_directory);
    }
    pid_t pid = 0;
    if ((error = spawnDetached(*command, pid))) {
        return error;
    }
    return awaitStartedApplication(scheme, pid, deadline);
}

} // namespace

std::error_code openURLs(const std::vector<URL>& urls, const OpenOptions& options) {
    reapEndedApplications();
    const SteadyClock::time_point deadline = SteadyClock::now() + options.timeout;
    std::error_code firstError;
    // Runs of URLs with one scheme go together, so their order holds within each delivery.
    for (std::size_t start = 0; start < urls.size();) {
        const std::optional<std::string> scheme =
            URLDelivery::normalizedScheme(urls[start].scheme().value_or(""));
        std::size_t end = start + 1;
        while (end < urls.size() &&
               URLDelivery::normalizedScheme(urls[end].scheme().value_or("")) == scheme) {
            ++end;
        }
        const std::vector<URL> run(urls.begin() + static_cast<std::ptrdiff_t>(start),
                                   urls.begin() + static_cast<std::ptrdiff_t>(end));
        const std::error_code error = scheme ? openWithScheme(*scheme, run, options, deadline)
                                             : std::make_error_code(std::errc::invalid_argument);
        // A failure outweighs a delivery that only lacks its answer.
        if (error && (!firstError || firstError == URLDelivery::unconfirmed())) {
            firstError = error;
        }
        start = end;
    }
    return firstError;
}

} // namespace LaunchServices

} // namespace scrivlet
