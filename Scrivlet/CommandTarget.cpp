#include "Scrivlet/CommandTarget.h"

#include "Platform/system/UserDirectories.h"

#include <deque>
#include <optional>
#include <string>
#include <sys/stat.h>

namespace scrivlet {

namespace fs = std::filesystem;

namespace {

// The kernel gives up after as many links in one lookup (MAXSYMLINKS), and so do we.
constexpr int mostLinksFollowed = 40;

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

struct Resolution {
    fs::path path;
    bool exists = false;
};

// Where an absolute path leads with every symbolic link on it resolved, the last one too,
// also when a link leads to nothing: a link whose target is missing is no file. From the
// first component that is missing (or a loop of links) on, the rest is kept as written.
class LinkResolver {
public:
    explicit LinkResolver(const fs::path& absolute) {
        for (const auto& component : absolute.relative_path()) {
            pending_.push_back(component.string());
        }
    }

    Resolution resolve() {
        while (!pending_.empty()) {
            const std::string name = std::move(pending_.front());
            pending_.pop_front();
            if (name.empty() || name == ".") {
                continue;
            }
            if (name == "..") {
                if (!isFolder_) {
                    return unresolved(resolved_ / name);
                }
                resolved_ = resolved_.parent_path();
                continue;
            }
            if (!step(resolved_ / name)) {
                return unresolved(resolved_ / name);
            }
        }
        return {resolved_, true};
    }

private:
    // Takes one existing component, following it when it is a link. False when the path ends
    // here: nothing is there, or too many links were followed.
    bool step(const fs::path& candidate) {
        struct stat status {};
        if (::lstat(candidate.c_str(), &status) != 0) {
            return false;
        }
        if (!S_ISLNK(status.st_mode)) {
            resolved_ = candidate;
            isFolder_ = S_ISDIR(status.st_mode);
            return true;
        }
        std::error_code error;
        const fs::path target = fs::read_symlink(candidate, error);
        if (error || ++linksFollowed_ > mostLinksFollowed) {
            return false;
        }
        if (target.is_absolute()) {
            resolved_ = "/";
            isFolder_ = true;
        }
        std::deque<std::string> components;
        for (const auto& component : target.relative_path()) {
            components.push_back(component.string());
        }
        pending_.insert(pending_.begin(), components.begin(), components.end());
        return true;
    }

    Resolution unresolved(fs::path path) {
        for (const std::string& name : pending_) {
            path /= name;
        }
        return {standardized(path), false};
    }

    std::deque<std::string> pending_;
    fs::path resolved_ = "/";
    bool isFolder_ = true;
    int linksFollowed_ = 0;
};

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
    const fs::path absolute = standardized(absoluteFromCurrentDirectory(fs::path(path)));
    const Resolution resolution = LinkResolver(absolute).resolve();
    const std::optional<fs::path> home = resolvedHome();
    CommandTarget target;
    target.resolvedPath = resolution.path;
    target.accepted = home && isHomeOrBelow(target.resolvedPath, *home) && resolution.exists;
    return target;
}

} // namespace scrivlet
