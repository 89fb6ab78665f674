#include "Platform/system/FileBeneath.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace scrivlet {

namespace FileBeneath {

namespace {

std::error_code lastError() {
    return {errno, std::generic_category()};
}

class RefusalCategory : public std::error_category {
public:
    const char* name() const noexcept override { return "file beneath"; }
    std::string message(int value) const override {
        switch (static_cast<Refusal>(value)) {
        case Refusal::leavesTheFolder:
            return "the path leads out of its folder";
        case Refusal::notFileOrFolder:
            return "neither a regular file nor a folder";
        }
        return "refused";
    }
};

// Cleared by the first ENOSYS: the kernel predates openat2, or a filter hides it.
std::atomic<bool> kernelLookupAvailable{true};

bool isRegularFileOrFolder(mode_t mode) {
    return S_ISREG(mode) || S_ISDIR(mode);
}

// Only plain names below the folder: an absolute path or ".." would start the lookup over
// elsewhere. "." and the empty names of doubled or trailing slashes stand for nothing.
bool staysBelow(const std::filesystem::path& relative) {
    if (relative.has_root_path()) {
        return false;
    }
    for (const auto& component : relative) {
        if (component == "..") {
            return false;
        }
    }
    return true;
}

// RESOLVE_BENEATH makes openat2 fail with EAGAIN when a rename raced with the lookup; a few
// tries get past a busy folder without spinning on it.
constexpr int kernelLookupAttempts = 8;

// Answers -1 with errno ENOSYS where the kernel has no openat2.
int kernelLookup(int folderFd, const char* relative) {
    open_how how{};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
    int fd = -1;
    for (int attempt = 0; attempt < kernelLookupAttempts; ++attempt) {
        fd = static_cast<int>(::syscall(SYS_openat2, folderFd, relative, &how, sizeof how));
        if (fd >= 0 || errno != EAGAIN) {
            break;
        }
    }
    return fd;
}

// O_NOFOLLOW opens a link itself, and O_DIRECTORY then refuses it as no folder: tell that
// case apart, so that both lookups give the same answer for a link on the way.
std::error_code whyNotAFolder(int folderFd, const char* name, int openError) {
    struct stat status {};
    if (openError == ENOTDIR && ::fstatat(folderFd, name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(status.st_mode)) {
        return std::make_error_code(std::errc::too_many_symbolic_link_levels);
    }
    return {openError, std::generic_category()};
}

FileHandle oneByOneLookup(int folderFd, const std::filesystem::path& relative,
                          std::error_code& error) {
    FileHandle current(::openat(folderFd, ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!current.isValid()) {
        error = lastError();
        return {};
    }
    for (const auto& component : relative) {
        if (component.empty() || component == ".") {
            continue;
        }
        const int next = ::openat(current.get(), component.c_str(),
                                  O_PATH | O_NOFOLLOW | O_DIRECTORY | O_CLOEXEC);
        if (next < 0) {
            error = whyNotAFolder(current.get(), component.c_str(), errno);
            return {};
        }
        current.reset(next);
    }
    return current;
}

} // namespace

const std::error_category& refusalCategory() {
    static const RefusalCategory category;
    return category;
}

std::error_code make_error_code(Refusal refusal) {
    return {static_cast<int>(refusal), refusalCategory()};
}

FileHandle openFolder(int folderFd, const std::filesystem::path& relative, std::error_code& error,
                      Lookup lookup) {
    error.clear();
    if (!staysBelow(relative)) {
        error = Refusal::leavesTheFolder;
        return {};
    }
    if (lookup == Lookup::automatic && kernelLookupAvailable.load(std::memory_order_relaxed)) {
        const char* text = relative.empty() ? "." : relative.c_str();
        const int fd = kernelLookup(folderFd, text);
        if (fd >= 0) {
            return FileHandle(fd);
        }
        if (errno != ENOSYS) {
            error = lastError();
            return {};
        }
        kernelLookupAvailable.store(false, std::memory_order_relaxed);
    }
    return oneByOneLookup(folderFd, relative, error);
}

FileHandle openEntry(int folderFd, const std::string& name, std::error_code& error) {
    error.clear();
    if (name.find('/') != std::string::npos || name == "..") {
        error = Refusal::leavesTheFolder;
        return {};
    }
    const char* entry = name.empty() ? "." : name.c_str();
    // Looked at before it is opened: opening a device can act on it.
    struct stat status {};
    if (::fstatat(folderFd, entry, &status, AT_SYMLINK_NOFOLLOW) != 0) {
        error = lastError();
        return {};
    }
    if (S_ISLNK(status.st_mode)) {
        error = std::make_error_code(std::errc::too_many_symbolic_link_levels);
        return {};
    }
    if (!isRegularFileOrFolder(status.st_mode)) {
        error = Refusal::notFileOrFolder;
        return {};
    }
    // O_NONBLOCK: should a FIFO take the file's place meanwhile, opening it must not wait for
    // a writer. Read access is no loss: reading a user attribute needs it anyway.
    FileHandle file(
        ::openat(folderFd, entry, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file.isValid()) {
        error = lastError();
        return {};
    }
    if (::fstat(file.get(), &status) != 0) {
        error = lastError();
        return {};
    }
    if (!isRegularFileOrFolder(status.st_mode)) {
        error = Refusal::notFileOrFolder;
        return {};
    }
    return file;
}

FileHandle open(int folderFd, const std::filesystem::path& relative, std::error_code& error,
                Lookup lookup) {
    // "a/b/" names the folder b: its last component is the empty one.
    const std::filesystem::path normal = relative.lexically_normal();
    std::filesystem::path folder = normal.parent_path();
    std::string name = normal.filename().string();
    if (name == ".") {
        name.clear();
    }
    if (!staysBelow(relative)) {
        error = Refusal::leavesTheFolder;
        return {};
    }
    if (folder.empty()) {
        return openEntry(folderFd, name, error);
    }
    const FileHandle parent = openFolder(folderFd, folder, error, lookup);
    if (!parent.isValid()) {
        return {};
    }
    return openEntry(parent.get(), name, error);
}

} // namespace FileBeneath

} // namespace scrivlet
