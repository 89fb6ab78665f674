#include "Scrivlet/CommandTarget.h"

#include "Platform/system/UserDirectories.h"

#include <optional>
#include <string>
#include <sys/stat.h>

namespace scrivlet {

namespace fs = std::filesystem;

namespace {

fs::path absoluteFromCurrentDirectory(const fs::path& path) {
    if (path.is_absolute()) {
        return path;
    }
    std::error_code error;
    const fs::path current = fs::current_path(error);
    return error ? path : current / path;
}

// Lexical: "." and ".." segments go, and so does a trailing slash ("/" itself stays).
fs::path standardized(const fs::path& path) {
    std::string text = path.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    return text;
}

// Every link of the part of the path that exists; the rest is kept as written.
fs::path resolvingSymbolicLinks(const fs::path& path) {
    std::error_code error;
    fs::path resolved = fs::weakly_canonical(path, error);
    return error || resolved.empty() ? path : standardized(resolved);
}

std::optional<fs::path> resolvedHome() {
    std::error_code error;
    fs::path home = fs::canonical(UserDirectories::home(), error);
    return error ? std::nullopt : std::optional(home);
}

bool isHomeOrBelow(const fs::path& path, const fs::path& home) {
    const std::string& text = path.native();
    std::string prefix = home.native();
    if (text == prefix) {
        return true;
    }
    if (!prefix.ends_with('/')) {
        prefix += '/';
    }
    return text.starts_with(prefix);
}

// Looks at the resolved path itself: were it a link by now, that would not count.
bool existsWithoutFollowing(const fs::path& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

std::string withVisibleNUL(std::string_view text) {
    std::string shown;
    for (const char c : text) {
        shown += c == '\0' ? std::string("%00") : std::string(1, c);
    }
    return shown;
}

} // namespace

CommandTarget checkCommandTarget(std::string_view path) {
    if (path.find('\0') != std::string_view::npos) {
        // The system would read such a path only up to the NUL: a different file.
        return {standardized(absoluteFromCurrentDirectory(withVisibleNUL(path))), false};
    }
    CommandTarget target;
    target.resolvedPath =
        resolvingSymbolicLinks(standardized(absoluteFromCurrentDirectory(fs::path(path))));
    const std::optional<fs::path> home = resolvedHome();
    target.accepted = home && isHomeOrBelow(target.resolvedPath, *home) &&
                      existsWithoutFollowing(target.resolvedPath);
    return target;
}

} // namespace scrivlet
