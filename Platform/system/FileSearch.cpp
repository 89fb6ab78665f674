#include "Platform/system/FileSearch.h"

#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

namespace scrivlet {

namespace FileSearch {

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

bool isDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

std::string child(const std::string& folder, const char* name) {
    std::string path = folder;
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    return path += name;
}

// One walk in progress: the folders still to visit and the budget left.
class Walker {
public:
    Walker(const std::unordered_set<std::uint64_t>& wanted, const WalkLimits& limits)
        : wanted_(wanted), limits_(limits), started_(std::chrono::steady_clock::now()) {}

    WalkResult run(const std::filesystem::path& root) {
        struct stat info {};
        if (::lstat(root.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
            return std::move(result_);
        }
        device_ = info.st_dev;
        pending_.push_back(root.string());
        while (!pending_.empty() && result_.stoppedBecause.empty()) {
            const std::string folder = std::move(pending_.back());
            pending_.pop_back();
            visit(folder);
        }
        return std::move(result_);
    }

private:
    void visit(const std::string& folder) {
        const DirHandle dir(::opendir(folder.c_str()));
        if (!dir) {
            return;
        }
        while (const dirent* entry = ::readdir(dir.get())) {
            if (isDotOrDotDot(entry->d_name)) {
                continue;
            }
            if (!withinBudget()) {
                return;
            }
            if (wanted_.contains(entry->d_ino)) {
                result_.found.emplace(entry->d_ino, child(folder, entry->d_name));
            }
            if (isFolderOnSameDevice(::dirfd(dir.get()), *entry)) {
                pending_.push_back(child(folder, entry->d_name));
            }
        }
    }

    // Symbolic links are never folders here (lstat semantics), and a mount point shows a
    // different device: neither is entered.
    bool isFolderOnSameDevice(int dirFd, const dirent& entry) const {
        if (entry.d_type != DT_DIR && entry.d_type != DT_UNKNOWN) {
            return false;
        }
        struct stat info {};
        if (::fstatat(dirFd, entry.d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            return false;
        }
        return S_ISDIR(info.st_mode) && info.st_dev == device_;
    }

    bool withinBudget() {
        if (++result_.entriesVisited > limits_.maxEntries) {
            result_.stoppedBecause =
                "the search stopped after " + std::to_string(limits_.maxEntries) + " entries";
            return false;
        }
        // Reading the clock for every entry would cost more than the entry itself.
        if (result_.entriesVisited % 1024 == 0 &&
            std::chrono::steady_clock::now() - started_ > limits_.maxDuration) {
            result_.stoppedBecause =
                "the search stopped after " + std::to_string(limits_.maxDuration.count()) + " ms";
            return false;
        }
        return true;
    }

    const std::unordered_set<std::uint64_t>& wanted_;
    const WalkLimits& limits_;
    const std::chrono::steady_clock::time_point started_;
    dev_t device_ = 0;
    std::vector<std::string> pending_;
    WalkResult result_;
};

} // namespace

std::vector<Entry> listFolder(const std::filesystem::path& folder) {
    std::vector<Entry> entries;
    const DirHandle dir(::opendir(folder.c_str()));
    if (!dir) {
        return entries;
    }
    while (const dirent* entry = ::readdir(dir.get())) {
        if (!isDotOrDotDot(entry->d_name)) {
            entries.push_back({entry->d_ino, entry->d_name});
        }
    }
    return entries;
}

WalkResult walk(const std::filesystem::path& root, const std::unordered_set<std::uint64_t>& wanted,
                const WalkLimits& limits) {
    return Walker(wanted, limits).run(root);
}

} // namespace FileSearch

} // namespace scrivlet
