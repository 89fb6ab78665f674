#include "Scrivcore/BadgeRefreshNotifier.h"

#include "Platform/base/FileHandle.h"
#include "Platform/system/UserDirectories.h"
#include "Scrivcore/ScrivcoreLog.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

namespace scrivlet {

namespace fs = std::filesystem;

namespace {

std::error_code lastError() {
    return {errno, std::generic_category()};
}

// Opens the queue and takes its lock; closing the handle is what releases it. Should the file
// be removed or replaced while we wait for the lock, whatever we wrote would land in a file
// nobody drains again, so start over on the one now at the path.
FileHandle openLocked(const fs::path& path, int flags, std::error_code& error) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        FileHandle fd(::open(path.c_str(), flags | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600));
        if (!fd.isValid()) {
            error = lastError();
            return {};
        }
        while (::flock(fd.get(), LOCK_EX) != 0) {
            if (errno != EINTR) {
                error = lastError();
                return {};
            }
        }
        struct stat held {};
        struct stat named {};
        if (::fstat(fd.get(), &held) == 0 && ::stat(path.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            return fd;
        }
    }
    error = std::make_error_code(std::errc::resource_unavailable_try_again);
    return {};
}

std::error_code readAll(int fd, std::string& contents) {
    contents.clear();
    char chunk[64 * 1024];
    for (off_t offset = 0;;) {
        const ssize_t got = ::pread(fd, chunk, sizeof chunk, offset);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return lastError();
        }
        if (got == 0) {
            return {};
        }
        contents.append(chunk, static_cast<std::size_t>(got));
        offset += got;
    }
}

std::error_code writeAllAt(int fd, std::string_view data, off_t offset) {
    while (!data.empty()) {
        const ssize_t wrote = ::pwrite(fd, data.data(), data.size(), offset);
        if (wrote < 0) {
            if (errno == EINTR) {
                continue;
            }
            return lastError();
        }
        data.remove_prefix(static_cast<std::size_t>(wrote));
        offset += wrote;
    }
    return {};
}

// Splits NUL-terminated entries. A tail without its terminator is what a writer that died
// mid-append leaves; it is not a whole path, so it is left out and reported.
std::vector<std::string_view> splitEntries(std::string_view contents, bool& partialTail) {
    std::vector<std::string_view> entries;
    partialTail = false;
    while (!contents.empty()) {
        const std::size_t end = contents.find('\0');
        if (end == std::string_view::npos) {
            partialTail = true;
            break;
        }
        entries.push_back(contents.substr(0, end));
        contents.remove_prefix(end + 1);
    }
    return entries;
}

std::vector<std::string_view> withoutRepeats(const std::vector<std::string_view>& entries) {
    std::vector<std::string_view> unique;
    std::unordered_set<std::string_view> seen;
    for (std::string_view entry : entries) {
        if (seen.insert(entry).second) {
            unique.push_back(entry);
        }
    }
    return unique;
}

// Rewrites a full queue so that `path` fits at its end: repeats go first, then the oldest
// entries. On return the file holds the kept entries and `path` last.
std::error_code compactAndAppend(int fd, const std::string& path) {
    std::string contents;
    if (std::error_code error = readAll(fd, contents)) {
        return error;
    }
    bool partialTail = false;
    std::vector<std::string_view> kept = withoutRepeats(splitEntries(contents, partialTail));
    // A path noticed again is the freshest entry, not one of the oldest to be dropped first.
    std::erase(kept, std::string_view(path));

    const std::size_t limit = BadgeRefreshNotifier::queueLimitBytes;
    std::size_t total = path.size() + 1;
    for (std::string_view entry : kept) {
        total += entry.size() + 1;
    }
    std::size_t dropped = 0;
    while (total > limit && dropped < kept.size()) {
        total -= kept[dropped].size() + 1;
        ++dropped;
    }
    if (dropped > 0) {
        ScrivcoreLog::badges().error(
            "Badge refresh queue is full; dropped the %{public}s oldest of %{public}s paths",
            {std::to_string(dropped), std::to_string(kept.size())});
    }

    std::string rewritten;
    rewritten.reserve(total);
    for (std::size_t i = dropped; i < kept.size(); ++i) {
        rewritten.append(kept[i]);
        rewritten.push_back('\0');
    }
    rewritten.append(path);
    rewritten.push_back('\0');
    // Overwrite in place rather than replace the file: the lock belongs to this inode.
    if (std::error_code error = writeAllAt(fd, rewritten, 0)) {
        return error;
    }
    if (::ftruncate(fd, static_cast<off_t>(rewritten.size())) != 0) {
        return lastError();
    }
    return {};
}

std::error_code appendLocked(int fd, const std::string& path) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        return lastError();
    }
    const off_t size = status.st_size;
    std::string entry;
    entry.reserve(path.size() + 2);
    char last = '\0';
    if (size > 0 && ::pread(fd, &last, 1, size - 1) == 1 && last != '\0') {
        // Close off a dead writer's fragment so it cannot run into this path.
        entry.push_back('\0');
    }
    entry.append(path);
    entry.push_back('\0');
    if (static_cast<std::size_t>(size) + entry.size() > BadgeRefreshNotifier::queueLimitBytes) {
        return compactAndAppend(fd, path);
    }
    if (std::error_code error = writeAllAt(fd, entry, size)) {
        // Leave no half entry behind (a full disk, say).
        if (::ftruncate(fd, size) != 0) {
            ScrivcoreLog::badges().error("Cannot undo a partial badge refresh entry: %{public}s",
                                         {lastError().message()});
        }
        return error;
    }
    return {};
}

} // namespace

fs::path BadgeRefreshNotifier::queuePath() {
    return UserDirectories::groupContainer() / "badge-refresh.queue";
}

bool BadgeRefreshNotifier::notifyChange(const std::string& path) {
    const Logger& log = ScrivcoreLog::badges();
    if (path.empty() || path.size() >= PATH_MAX || path.find('\0') != std::string::npos) {
        log.error("Refusing to queue a badge refresh for an unusable path (%{public}s bytes): "
                  "%{private}s",
                  {std::to_string(path.size()), path.substr(0, 256)});
        return false;
    }
    const fs::path queue = queuePath();
    std::error_code error;
    FileHandle locked = openLocked(queue, O_RDWR | O_CREAT, error);
    if (!locked.isValid() && error == std::errc::no_such_file_or_directory) {
        // The container appears with the store; the app may notify before either exists.
        error = UserDirectories::ensureDirectory(queue.parent_path());
        if (!error) {
            locked = openLocked(queue, O_RDWR | O_CREAT, error);
        }
    }
    if (!locked.isValid()) {
        log.error("Cannot open the badge refresh queue %{public}s: %{public}s",
                  {queue.string(), error.message()});
        return false;
    }
    if ((error = appendLocked(locked.get(), path))) {
        log.error("Cannot queue a badge refresh for %{private}s: %{public}s",
                  {path, error.message()});
        return false;
    }
    // Unlock before waking anyone, or the drain the notice triggers would wait on us.
    locked.reset();
    DarwinNotifyCenter::post(darwinName);
    return true;
}

std::vector<std::string> BadgeRefreshNotifier::drainPendingPaths() {
    const Logger& log = ScrivcoreLog::badges();
    const fs::path queue = queuePath();
    std::error_code error;
    FileHandle locked = openLocked(queue, O_RDWR, error);
    if (!locked.isValid()) {
        if (error != std::errc::no_such_file_or_directory) {
            log.error("Cannot open the badge refresh queue %{public}s: %{public}s",
                      {queue.string(), error.message()});
        }
        return {};
    }
    std::string contents;
    if ((error = readAll(locked.get(), contents))) {
        log.error("Cannot read the badge refresh queue: %{public}s", {error.message()});
        return {};
    }
    if (contents.empty()) {
        return {};
    }
    // Handing out paths we could not remove would deliver them again on the next drain; they
    // stay queued instead.
    if (::ftruncate(locked.get(), 0) != 0) {
        log.error("Cannot empty the badge refresh queue: %{public}s", {lastError().message()});
        return {};
    }
    locked.reset();

    bool partialTail = false;
    const std::vector<std::string_view> entries =
        withoutRepeats(splitEntries(contents, partialTail));
    if (partialTail) {
        log.error("Dropped an unfinished entry at the end of the badge refresh queue");
    }
    std::vector<std::string> paths;
    paths.reserve(entries.size());
    for (std::string_view entry : entries) {
        if (!entry.empty()) {
            paths.emplace_back(entry);
        }
    }
    return paths;
}

std::unique_ptr<NotifyObserver> BadgeRefreshNotifier::makeObserver(std::error_code& error) {
    return NotifyObserver::create(darwinName, error);
}

} // namespace scrivlet
