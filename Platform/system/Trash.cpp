#include "Platform/system/Trash.h"

#include "Platform/base/FileHandle.h"
#include "Platform/system/UserDirectories.h"

#include <cctype>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace scrivlet::Trash {

namespace fs = std::filesystem;

namespace {

struct Place {
    fs::path trash;    // holds files/ and info/
    fs::path pathBase; // info Path is relative to this ("" for absolute paths)
};

std::error_code lastError() {
    return {errno, std::generic_category()};
}

PlatformError failure(const fs::path& item, const std::string& why, std::error_code code) {
    return {code, "Could not move " + item.string() + " to the Trash: " + why};
}

// Percent-encoding of the Path key: everything but unreserved characters and '/'.
std::string encodedPath(const std::string& path) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) != 0 || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 0xf];
        }
    }
    return out;
}

std::string deletionDate() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

// A trash folder (or its files/ and info/) that is ours: a real folder owned by the user.
bool isOwnFolder(const fs::path& folder) {
    struct stat info {};
    return ::lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == ::getuid();
}

std::error_code prepare(const fs::path& trash) {
    for (const fs::path& folder : {trash / "files", trash / "info"}) {
        if (std::error_code code = UserDirectories::ensureDirectory(folder)) {
            return code;
        }
        if (!isOwnFolder(trash) || !isOwnFolder(folder)) {
            return std::make_error_code(std::errc::permission_denied);
        }
    }
    return {};
}

dev_t deviceOf(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_dev : static_cast<dev_t>(-1);
}

// The mount point of `item`'s file system: the highest folder above it on the same device.
fs::path topDirectoryOf(const fs::path& item) {
    const dev_t device = deviceOf(item);
    fs::path top = item.parent_path();
    while (top.has_relative_path() && deviceOf(top.parent_path()) == device) {
        top = top.parent_path();
    }
    return top;
}

fs::path topDirectoryTrash(const fs::path& top) {
    const fs::path shared = top / ".Trash";
    struct stat info {};
    // An administrator's shared trash counts only as a real, sticky folder.
    if (::lstat(shared.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
        (info.st_mode & S_ISVTX) != 0) {
        return shared / std::to_string(::getuid());
    }
    return top / (".Trash-" + std::to_string(::getuid()));
}

std::optional<PlatformError> choosePlace(const fs::path& item, Place& place) {
    const fs::path homeTrash = UserDirectories::dataHome() / "Trash";
    if (std::error_code code = prepare(homeTrash)) {
        return failure(item, homeTrash.string() + ": " + code.message(), code);
    }
    if (deviceOf(homeTrash / "files") == deviceOf(item)) {
        place = {homeTrash, {}};
        return std::nullopt;
    }
    const fs::path top = topDirectoryOf(item);
    const fs::path trash = topDirectoryTrash(top);
    if (std::error_code code = prepare(trash)) {
        return failure(
            item, "its disk has no usable trash (" + trash.string() + ": " + code.message() + ")",
            code);
    }
    place = {trash, top};
    return std::nullopt;
}

bool writeAll(int fd, const std::string& text) {
    return ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

} // namespace

std::optional<PlatformError> moveToTrash(const fs::path& path) {
    std::error_code absoluteError;
    const fs::path item = fs::absolute(path, absoluteError).lexically_normal();
    struct stat info {};
    if (absoluteError || !item.has_relative_path() || ::lstat(item.c_str(), &info) != 0) {
        const std::error_code code = absoluteError ? absoluteError : lastError();
        return failure(path, code ? code.message() : "it cannot be trashed", code);
    }
    Place place;
    if (auto error = choosePlace(item, place)) {
        return error;
    }
    const std::string recorded =
        place.pathBase.empty() ? item.string() : item.lexically_relative(place.pathBase).string();
    const std::string contents =
        "[Trash Info]\nPath=" + encodedPath(recorded) + "\nDeletionDate=" + deletionDate() + "\n";
    const std::string base = item.filename().string();
    for (int attempt = 1; attempt < 10000; ++attempt) {
        const std::string name = attempt == 1 ? base : base + "." + std::to_string(attempt);
        const fs::path infoFile = place.trash / "info" / (name + ".trashinfo");
        const fs::path target = place.trash / "files" / name;
        // The info file is written first: creating it exclusively reserves the name.
        FileHandle fd(::open(infoFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (!fd.isValid() && errno == EEXIST) {
            continue;
        }
        if (!fd.isValid()) {
            const std::error_code code = lastError();
            return failure(item, infoFile.string() + ": " + code.message(), code);
        }
        struct stat existing {};
        if (::lstat(target.c_str(), &existing) == 0) { // left without its info file
            fd.reset();
            ::unlink(infoFile.c_str());
            continue;
        }
        const bool written = writeAll(fd.get(), contents) && ::fsync(fd.get()) == 0;
        std::error_code code = written ? std::error_code{} : lastError();
        fd.reset();
        if (written && ::rename(item.c_str(), target.c_str()) != 0) {
            code = lastError();
        }
        if (code) {
            ::unlink(infoFile.c_str());
            return failure(item, code.message(), code);
        }
        return std::nullopt;
    }
    return failure(item, "no free name in the trash", std::make_error_code(std::errc::file_exists));
}

} // namespace scrivlet::Trash
