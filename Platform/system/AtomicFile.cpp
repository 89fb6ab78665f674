#include "Platform/system/AtomicFile.h"

#include "Platform/base/FileHandle.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace scrivlet {

namespace fs = std::filesystem;

namespace {

std::error_code lastError() {
    return {errno, std::generic_category()};
}

// ".name.tmp-<pid>-<count><random>": unique within the process by the count, and across
// processes sharing the folder by the process id and the random part.
std::string temporaryName(const fs::path& path) {
    static std::atomic<unsigned> count{0};
    thread_local std::minstd_rand random{std::random_device{}()};
    return "." + path.filename().string() + ".tmp-" + std::to_string(::getpid()) + "-" +
           std::to_string(count.fetch_add(1)) + std::to_string(random() % 1000000);
}

// Another writer may hold a name for a moment; a fresh one is tried a few times.
FileHandle createTemporary(const fs::path& path, mode_t mode, fs::path& temporary) {
    constexpr int attempts = 16;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        temporary = path.parent_path() / temporaryName(path);
        FileHandle file(
            ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode));
        if (file.isValid() || errno != EEXIST) {
            return file;
        }
    }
    return FileHandle{};
}

std::error_code writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t count = ::write(fd, data.data(), data.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return lastError();
        }
        if (count == 0) {
            return std::make_error_code(std::errc::io_error);
        }
        data.remove_prefix(static_cast<std::size_t>(count));
    }
    return {};
}

// Everything up to the rename: the contents, the mode, the flush and the close.
std::error_code fillTemporary(FileHandle file, std::string_view contents, mode_t mode,
                              FilePermissions permissions) {
    if (permissions == FilePermissions::exactly && ::fchmod(file.get(), mode) != 0) {
        return lastError();
    }
    if (std::error_code error = writeAll(file.get(), contents)) {
        return error;
    }
    if (::fsync(file.get()) != 0) {
        return lastError();
    }
    // A failed close can be the first report of a failed write on some file systems.
    if (!file.close()) {
        return lastError();
    }
    return {};
}

// Makes the rename itself survive a crash.
std::error_code flushFolder(const fs::path& folder) {
    const FileHandle handle(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!handle.isValid() || ::fsync(handle.get()) != 0) {
        return lastError();
    }
    return {};
}

} // namespace

std::optional<FileReplaceFailure> replaceFileAtomically(const fs::path& path,
                                                        std::string_view contents, mode_t mode,
                                                        FilePermissions permissions) {
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    fs::path temporary;
    FileHandle file = createTemporary(path, mode, temporary);
    if (!file.isValid()) {
        return FileReplaceFailure{lastError(), folder};
    }
    std::error_code error = fillTemporary(std::move(file), contents, mode, permissions);
    if (!error && ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = lastError();
    }
    if (error) {
        ::unlink(temporary.c_str());
        return FileReplaceFailure{error, path};
    }
    if (std::error_code flushed = flushFolder(folder)) {
        return FileReplaceFailure{flushed, folder};
    }
    return std::nullopt;
}

} // namespace scrivlet
