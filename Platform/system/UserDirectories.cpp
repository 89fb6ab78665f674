#include "Platform/system/UserDirectories.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
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

} // namespace UserDirectories

} // namespace scrivlet
