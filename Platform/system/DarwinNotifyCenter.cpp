#include "Platform/system/DarwinNotifyCenter.h"

#include "Platform/base/FileHandle.h"
#include "Platform/base/Log.h"
#include "Platform/system/UserDirectories.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace scrivlet {

namespace fs = std::filesystem;

namespace {

const Logger& notifyLog() {
    static const Logger logger("com.scrivlet.Platform", "notify");
    return logger;
}

// The folder itself going away silently ends a watch, so observers ask to hear about that too.
constexpr std::uint32_t watchMask = IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

std::error_code lastError() {
    return {errno, std::generic_category()};
}

// The folder, made when missing; refused, with its log line, when others could have put
// files or links in it: a planted notice file could be a FIFO or a link, and a planted folder
// would carry this user's notices to whoever watches it.
std::error_code ensureNoticeFolder(const fs::path& directory, const std::string& name) {
    const auto problem = UserDirectories::ensurePrivateDirectory(directory);
    if (!problem) {
        return {};
    }
    if (problem->code == UserDirectories::folderNotPrivate()) {
        notifyLog().error("Refusing the notice folder for %{public}s: %{public}s",
                          {name, problem->localizedDescription});
    } else {
        notifyLog().error("Cannot create the notice folder for %{public}s: %{public}s",
                          {name, problem->code.message()});
    }
    return problem->code;
}

} // namespace

namespace DarwinNotifyCenter {

fs::path noticeDirectory() {
    return UserDirectories::runtimeDirectory() / "notices";
}

bool isValidName(std::string_view name) {
    return !name.empty() && name.size() <= NAME_MAX && name != "." && name != ".." &&
           name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

std::error_code post(const std::string& name) {
    if (!isValidName(name)) {
        notifyLog().error("Refusing to post a notice with an invalid name: %{public}s", {name});
        return std::make_error_code(std::errc::invalid_argument);
    }
    const fs::path directory = noticeDirectory();
    const fs::path file = directory / name;
    // When nobody has observed anything yet in this session, the folder is made so that the
    // post still lands where the first observer will look.
    if (std::error_code error = ensureNoticeFolder(directory, name)) {
        return error;
    }
    // O_NONBLOCK so a FIFO planted under the name cannot hang the poster; O_NOFOLLOW so a
    // symbolic link cannot make us create or touch a file elsewhere.
    constexpr int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK;
    FileHandle notice(::open(file.c_str(), flags, 0600));
    if (!notice.isValid()) {
        const std::error_code error = lastError();
        notifyLog().error("Cannot post notice %{public}s: %{public}s", {name, error.message()});
        return error;
    }
    // The close of a descriptor opened for writing is the notice (IN_CLOSE_WRITE).
    notice.reset();
    return {};
}

} // namespace DarwinNotifyCenter

std::unique_ptr<NotifyObserver> NotifyObserver::create(const std::string& name,
                                                       std::error_code& error) {
    error.clear();
    if (!DarwinNotifyCenter::isValidName(name)) {
        notifyLog().error("Refusing to observe a notice with an invalid name: %{public}s", {name});
        error = std::make_error_code(std::errc::invalid_argument);
        return nullptr;
    }
    fs::path directory = DarwinNotifyCenter::noticeDirectory();
    if ((error = ensureNoticeFolder(directory, name))) {
        return nullptr;
    }
    FileHandle fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!fd.isValid()) {
        error = lastError();
        notifyLog().error("Cannot observe notice %{public}s: %{public}s", {name, error.message()});
        return nullptr;
    }
    const int watch = ::inotify_add_watch(fd.get(), directory.c_str(), watchMask);
    if (watch < 0) {
        error = lastError();
        notifyLog().error("Cannot watch the notice folder for %{public}s: %{public}s",
                          {name, error.message()});
        return nullptr;
    }
    return std::unique_ptr<NotifyObserver>(
        new NotifyObserver(name, std::move(directory), std::move(fd), watch));
}

NotifyObserver::NotifyObserver(std::string name, fs::path directory, FileHandle fd, int watch)
    : name_(std::move(name)), directory_(std::move(directory)), fd_(std::move(fd)), watch_(watch) {}

NotifyObserver::~NotifyObserver() = default;

std::error_code NotifyObserver::rewatch() {
    if (watch_ >= 0) {
        // Harmless when the kernel already dropped it (EINVAL).
        ::inotify_rm_watch(fd_.get(), watch_);
        watch_ = -1;
    }
    if (const auto problem = UserDirectories::ensurePrivateDirectory(directory_)) {
        return problem->code;
    }
    watch_ = ::inotify_add_watch(fd_.get(), directory_.c_str(), watchMask);
    return watch_ < 0 ? lastError() : std::error_code{};
}

std::size_t NotifyObserver::consumePendingNotices() {
    // Runs in the owner's run-loop source on names any process of the user can create; a
    // failure here is logged and counted as a notice, which costs the owner one extra look.
    try {
        return readPendingNotices();
    } catch (const std::exception& error) {
        notifyLog().error("Reading notices for %{public}s failed: %{public}s",
                          {name_, error.what()});
    } catch (...) {
        notifyLog().error("Reading notices for %{public}s failed", {name_});
    }
    return 1;
}

std::size_t NotifyObserver::readPendingNotices() {
    alignas(inotify_event) char buffer[16 * 1024];
    std::size_t matched = 0;
    bool eventsLost = false;
    bool watchLost = false;
    for (;;) {
        const ssize_t got = ::read(fd_.get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno != EAGAIN) {
                notifyLog().error("Cannot read notices for %{public}s: %{public}s",
                                  {name_, lastError().message()});
            }
            break;
        }
        if (got == 0) {
            break;
        }
        for (const char* cursor = buffer; cursor < buffer + got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(cursor);
            cursor += sizeof(inotify_event) + event->len;
            if (event->mask & IN_Q_OVERFLOW) {
                eventsLost = true;
            } else if (event->wd != watch_) {
                // Leftovers of a watch replaced by rewatch().
            } else if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
                watchLost = true;
            } else if ((event->mask & IN_CLOSE_WRITE) && event->len > 0 &&
                       std::string_view(event->name) == name_) {
                ++matched;
            }
        }
    }
    if (watchLost) {
        // Someone removed or moved the folder. Posters recreate it, so watch the new one; a
        // post may have slipped in between, so report one rather than risk missing it.
        if (std::error_code error = rewatch()) {
            notifyLog().error("Lost the notice folder for %{public}s: %{public}s",
                              {name_, error.message()});
        }
        eventsLost = true;
    }
    if (eventsLost && matched == 0) {
        matched = 1;
    }
    return matched;
}

bool NotifyObserver::waitForNotice(std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    const bool forever = timeout.count() < 0 || timeout.count() > INT_MAX;
    const Clock::time_point deadline = Clock::now() + (forever ? Clock::duration{} : timeout);
    for (;;) {
        if (consumePendingNotices() > 0) {
            return true;
        }
        int pollTimeout = -1;
        if (!forever) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) {
                return false;
            }
            pollTimeout = static_cast<int>(left);
        }
        pollfd watched{fd_.get(), POLLIN, 0};
        if (::poll(&watched, 1, pollTimeout) < 0 && errno != EINTR) {
            notifyLog().error("Cannot wait for notice %{public}s: %{public}s",
                              {name_, lastError().message()});
            return false;
        }
    }
}

} // namespace scrivlet
