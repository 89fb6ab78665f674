#include "Platform/system/UserDirectories.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace scrivlet {

namespace fs = std::filesystem;

namespace {

// An XDG variable counts only when it holds an absolute path.
fs::path absoluteFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/') {
        return {};
    }
    return fs::path(value);
}

fs::path xdgOr(const char* name, const fs::path& fallbackBelowHome) {
    fs::path fromEnvironment = absoluteFromEnvironment(name);
    return fromEnvironment.empty() ? UserDirectories::home() / fallbackBelowHome : fromEnvironment;
}

class FolderCategory final : public std::error_category {
public:
    const char* name() const noexcept override { return "scrivlet.folder"; }
    std::string message(int) const override {
        return "the runtime folder (XDG_RUNTIME_DIR) is not private to this user";
    }
};

std::error_code lastError() {
    return {errno, std::generic_category()};
}

std::string modeText(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

PlatformError refusal(const fs::path& folder, const std::string& fault) {
    return {UserDirectories::folderNotPrivate(), "The folder " + folder.string() + " " + fault};
}

PlatformError unusable(const char* what, const fs::path& folder, std::error_code code) {
    return {code, what + folder.string() + ": " + code.message()};
}

// The folders that must be private for `directory` to be: from the runtime directory down to
// it when it lies there (a loose one on the way would let others swap what lies below), else
// the folder alone.
std::vector<fs::path> privateChain(const fs::path& directory) {
    fs::path target = directory.lexically_normal();
    if (!target.has_filename() && target.has_relative_path()) {
        target = target.parent_path(); // "a/b/" is the folder "a/b"
    }
    const fs::path runtime = UserDirectories::runtimeDirectory().lexically_normal();
    const fs::path relative = target.lexically_relative(runtime);
    if (relative.empty() || *relative.begin() == "..") {
        return {target};
    }
    std::vector<fs::path> chain{runtime};
    for (const fs::path& part : relative) {
        if (part != ".") {
            chain.push_back(chain.back() / part);
        }
    }
    return chain;
}

// The folder that holds the private ones: whoever can write to it can rename them away and put
// folders of their own in their place. XDG_RUNTIME_DIR may itself be a link, so it is followed.
std::optional<PlatformError> checkHolder(const fs::path& folder) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) {
        return unusable("Cannot use the folder ", folder, lastError());
    }
    if (!S_ISDIR(info.st_mode)) {
        return unusable("Cannot use the folder ", folder,
                        std::make_error_code(std::errc::not_a_directory));
    }
    if (info.st_uid != ::getuid()) {
        return refusal(folder, "belongs to another user (uid " + std::to_string(info.st_uid) + ")");
    }
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return refusal(folder,
                       "can be written by other users (mode " + modeText(info.st_mode) + ")");
    }
    return std::nullopt;
}

// One of the user's private folders: its own folder, the user's, closed to everyone else.
std::optional<PlatformError> checkOwnFolder(const fs::path& folder) {
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0) {
        return unusable("Cannot use the folder ", folder, lastError());
    }
    if (S_ISLNK(info.st_mode)) {
        return refusal(folder, "is a symbolic link");
    }
    if (!S_ISDIR(info.st_mode)) {
        return unusable("Cannot use the folder ", folder,
                        std::make_error_code(std::errc::not_a_directory));
    }
    if (info.st_uid != ::getuid()) {
        return refusal(folder, "belongs to another user (uid " + std::to_string(info.st_uid) + ")");
    }
    if ((info.st_mode & 077) != 0) {
        return refusal(folder,
                       "is open to other users (mode " + modeText(info.st_mode) + ", not 0700)");
    }
    return std::nullopt;
}

std::optional<PlatformError> walkPrivateChain(const fs::path& directory, bool create) {
    const std::vector<fs::path> chain = privateChain(directory);
    const fs::path holder = chain.front().parent_path();
    if (create) {
        if (const std::error_code code = UserDirectories::ensureDirectory(holder)) {
            return unusable("Cannot create the folder ", holder, code);
        }
    }
    if (auto problem = checkHolder(holder)) {
        return problem;
    }
    for (const fs::path& folder : chain) {
        if (create && ::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            return unusable("Cannot create the folder ", folder, lastError());
        }
        if (auto problem = checkOwnFolder(folder)) {
            return problem;
        }
    }
    return std::nullopt;
}

} // namespace

namespace UserDirectories {

fs::path home() {
    if (fs::path fromEnvironment = absoluteFromEnvironment("HOME"); !fromEnvironment.empty()) {
        return fromEnvironment;
    }
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* result = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result &&
        result->pw_dir) {
        return fs::path(result->pw_dir);
    }
    return fs::path("/");
}

fs::path dataHome() {
    return xdgOr("XDG_DATA_HOME", ".local/share");
}
fs::path configHome() {
    return xdgOr("XDG_CONFIG_HOME", ".config");
}
fs::path stateHome() {
    return xdgOr("XDG_STATE_HOME", ".local/state");
}

fs::path runtimeDirectory() {
    if (fs::path runtime = absoluteFromEnvironment("XDG_RUNTIME_DIR"); !runtime.empty()) {
        return runtime / "scrivlet";
    }
    return stateHome() / "scrivlet" / "run";
}

fs::path groupContainer() {
    if (fs::path overridden = absoluteFromEnvironment(containerOverrideVariable);
        !overridden.empty()) {
        return overridden;
    }
    return dataHome() / groupContainerName;
}

std::error_code ensureDirectory(const fs::path& directory) {
    std::error_code error;
    if (fs::is_directory(directory, error)) {
        return {};
    }
    const fs::path parent = directory.parent_path();
    if (!parent.empty() && parent != directory) {
        if (std::error_code parentError = ensureDirectory(parent)) {
            return parentError;
        }
    }
    if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
        return {errno, std::generic_category()};
    }
    if (!fs::is_directory(directory, error)) {
        return error ? error : std::make_error_code(std::errc::not_a_directory);
    }
    return {};
}

std::error_code folderNotPrivate() {
    static const FolderCategory category;
    return {1, category};
}

std::optional<PlatformError> checkPrivateDirectory(const fs::path& directory) {
    return walkPrivateChain(directory, false);
}

std::optional<PlatformError> ensurePrivateDirectory(const fs::path& directory) {
    return walkPrivateChain(directory, true);
}

} // namespace UserDirectories

} // namespace scrivlet
