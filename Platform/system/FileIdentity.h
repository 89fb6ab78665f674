#pragma once

#include "Platform/base/Export.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <system_error>

namespace scrivlet {

// What tells one file from another independently of its name: the device and inode, and the
// birth time where the file system records one. Inode numbers are handed out again after a
// file is deleted; the birth time is what tells the newcomer from the file we knew.
struct SCRIVLET_PLATFORM_API FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool hasBirthTime = false;
    std::int64_t birthTimeSeconds = 0;
    std::uint32_t birthTimeNanoseconds = 0;

    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// How a file found now compares with an identity recorded earlier.
enum class IdentityMatch {
    different,
    same,
    // Device and inode agree but no birth time could be compared (one side lacks it), so a
    // recycled inode cannot be ruled out.
    sameInodeOnly,
};

SCRIVLET_PLATFORM_API IdentityMatch compareIdentity(const FileIdentity& recorded,
                                                    const FileIdentity& current);

// The identity of the file at `path`, one statx call. `followLinks` false describes a
// symbolic link itself rather than its target.
SCRIVLET_PLATFORM_API std::optional<FileIdentity>
identityOf(const std::filesystem::path& path, bool followLinks, std::error_code& error);

// The same for `name` inside the folder open as `folderFd`: only the last component is looked
// up, which is what makes checking many files of one folder cheap.
SCRIVLET_PLATFORM_API std::optional<FileIdentity>
identityOf(int folderFd, const char* name, bool followLinks, std::error_code& error);

} // namespace scrivlet
