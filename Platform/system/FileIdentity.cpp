#include "Platform/system/FileIdentity.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace scrivlet {

IdentityMatch compareIdentity(const FileIdentity& recorded, const FileIdentity& current) {
    if (recorded.device != current.device || recorded.inode != current.inode) {
        return IdentityMatch::different;
    }
    if (!recorded.hasBirthTime || !current.hasBirthTime) {
        return IdentityMatch::sameInodeOnly;
    }
    const bool sameBirth = recorded.birthTimeSeconds == current.birthTimeSeconds &&
                           recorded.birthTimeNanoseconds == current.birthTimeNanoseconds;
    return sameBirth ? IdentityMatch::same : IdentityMatch::different;
}

std::optional<FileIdentity> identityOf(const std::filesystem::path& path, bool followLinks,
                                       std::error_code& error) {
    return identityOf(AT_FDCWD, path.c_str(), followLinks, error);
}

std::optional<FileIdentity> identityOf(int folderFd, const char* name, bool followLinks,
                                       std::error_code& error) {
    struct statx info {};
    const int flags = AT_STATX_SYNC_AS_STAT | (followLinks ? 0 : AT_SYMLINK_NOFOLLOW);
    if (::statx(folderFd, name, flags, STATX_INO | STATX_BTIME, &info) != 0) {
        error = {errno, std::generic_category()};
        return std::nullopt;
    }
    error.clear();
    FileIdentity identity;
    identity.device = (std::uint64_t{info.stx_dev_major} << 32) | info.stx_dev_minor;
    identity.inode = info.stx_ino;
    // The kernel leaves the field out of the mask where the file system keeps no birth time.
    identity.hasBirthTime = (info.stx_mask & STATX_BTIME) != 0;
    if (identity.hasBirthTime) {
        identity.birthTimeSeconds = info.stx_btime.tv_sec;
        identity.birthTimeNanoseconds = info.stx_btime.tv_nsec;
    }
    return identity;
}

} // namespace scrivlet
