#include "Platform/system/PathLookup.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace scrivlet {

std::pair<int, const char*> PathLookup::split(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash + 1 == path.size()) {
        return {AT_FDCWD, path.c_str()};
    }
    const std::string_view folder(path.data(), std::max<std::size_t>(slash, 1));
    if (folder != folder_ || !folderFd_.isValid()) {
        folderFd_.reset();
        folder_ = folder;
        folderFd_.reset(::open(folder_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    }
    if (!folderFd_.isValid()) {
        return {AT_FDCWD, path.c_str()}; // the whole path gives the reason
    }
    return {folderFd_.get(), path.c_str() + slash + 1};
}

bool PathLookup::exists(const std::string& path) {
    const auto [folder, name] = split(path);
    struct stat info {};
    return ::fstatat(folder, name, &info, 0) == 0;
}

std::optional<FileIdentity> PathLookup::identity(const std::string& path, std::error_code& error) {
    const auto [folder, name] = split(path);
    return identityOf(folder, name, true, error);
}

} // namespace scrivlet
