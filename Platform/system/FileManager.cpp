#include "Platform/system/FileManager.h"

#include "Platform/base/FileHandle.h"
#include "Platform/base/Installed.h"
#include "Platform/system/Trash.h"
#include "Platform/system/UserDirectories.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace scrivlet {

namespace fs = std::filesystem;

namespace {

std::error_code lastError() {
    return {errno, std::generic_category()};
}

PlatformError failure(const std::string& action, const fs::path& path, std::error_code code) {
    return {code, action + " " + path.string() + ": " + code.message()};
}

// The home as the environment or the password database gives it; nothing when neither does.
std::optional<fs::path> knownHome() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        return fs::path(home);
    }
    const long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* result = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 &&
        result != nullptr && result->pw_dir != nullptr && result->pw_dir[0] == '/') {
        return fs::path(result->pw_dir);
    }
    return std::nullopt;
}

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t count = ::write(fd, data, size);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return false;
        }
        data += count;
        size -= static_cast<std::size_t>(count);
    }
    return true;
}

// Copies the open source into the open destination; false with errno set on failure.
bool copyContents(int from, int to) {
    char buffer[65536];
    for (;;) {
        const ssize_t count = ::read(from, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return false;
        }
        if (count == 0) {
            return true;
        }
        if (!writeAll(to, buffer, static_cast<std::size_t>(count))) {
            return false;
        }
    }
}

} // namespace

namespace {
FileManager* installedManager = nullptr;
}

FileManager& FileManager::defaultManager() {
    return installedOrStop(installedManager);
}

void FileManager::setDefaultManager(FileManager* manager) {
    installedManager = manager;
}

fs::path FileManager::systemApplicationsDirectory() const {
    return SCRIVLET_SYSTEM_APPLICATIONS_DIR;
}

std::optional<fs::path> FileManager::userApplicationsDirectory() const {
    if (const std::optional<fs::path> home = knownHome()) {
        return *home / "Applications";
    }
    return std::nullopt;
}

fs::path FileManager::standardized(const fs::path& path) {
    fs::path normal = path.lexically_normal();
    if (normal.has_relative_path() && !normal.has_filename()) {
        normal = normal.parent_path(); // "a/b/" names the same folder as "a/b"
    }
    return normal;
}

PathOrError FileManager::temporaryDirectory() const {
    const fs::path directory = UserDirectories::runtimeDirectory() / "tmp";
    if (const auto problem = UserDirectories::ensurePrivateDirectory(directory)) {
        if (problem->code != UserDirectories::folderNotPrivate()) {
            return failure("Cannot create the temporary folder", directory, problem->code);
        }
        return PlatformError{std::make_error_code(std::errc::permission_denied),
                             "The temporary folder " + directory.string() +
                                 " is not a private folder of this user"};
    }
    return directory;
}

std::optional<PlatformError> FileManager::removeItem(const fs::path& path) const {
    std::error_code code;
    if (!fs::exists(fs::symlink_status(path, code))) {
        return failure("Cannot remove", path,
                       code ? code : std::make_error_code(std::errc::no_such_file_or_directory));
    }
    fs::remove_all(path, code); // removes a link itself, never what it points to
    if (code) {
        return failure("Cannot remove", path, code);
    }
    return std::nullopt;
}

std::optional<PlatformError> FileManager::copyItem(const fs::path& source,
                                                   const fs::path& destination) const {
    const FileHandle from(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (!from.isValid()) {
        return failure("Cannot read", source, lastError());
    }
    struct stat info {};
    if (::fstat(from.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        const std::error_code code =
            errno != 0 ? lastError() : std::make_error_code(std::errc::invalid_argument);
        return failure("Cannot copy (not a regular file)", source, code);
    }
    // O_EXCL with O_NOFOLLOW: whatever stands at the destination, even a link planted by
    // someone else, makes the copy fail rather than write through it.
    FileHandle to(::open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                         info.st_mode & 0777));
    if (!to.isValid()) {
        return failure("Cannot create", destination, lastError());
    }
    bool copied = copyContents(from.get(), to.get());
    std::error_code code = copied ? std::error_code{} : lastError();
    if (!to.close() && copied) {
        copied = false;
        code = lastError();
    }
    if (!copied) {
        ::unlink(destination.c_str());
        return failure("Cannot write", destination, code);
    }
    return std::nullopt;
}

std::optional<PlatformError> FileManager::setPosixPermissions(const fs::path& path,
                                                              mode_t mode) const {
    const FileHandle fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.isValid()) {
        return failure("Cannot change the permissions of", path, lastError());
    }
    const bool changed = ::fchmod(fd.get(), mode) == 0;
    const std::error_code code = changed ? std::error_code{} : lastError();
    if (!changed) {
        return failure("Cannot change the permissions of", path, code);
    }
    return std::nullopt;
}

std::optional<PlatformError> FileManager::trashItem(const fs::path& path) const {
    return Trash::moveToTrash(path);
}

} // namespace scrivlet
