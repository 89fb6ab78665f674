#pragma once

#include "Platform/base/Export.h"
#include "Platform/base/PlatformError.h"
#include "Platform/system/FileIdentity.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <vector>

namespace scrivlet {

// A file bookmark: enough to find a file again after it was moved or renamed. Our own
// versioned blob: the path at creation plus the file's identity (device, inode and, where
// the file system keeps it, birth time). FileBookmarkResolver turns one back into a path.
namespace FileBookmark {

inline constexpr std::uint8_t currentVersion = 1;

struct SCRIVLET_PLATFORM_API Contents {
    std::string path;
    FileIdentity identity;
};

// Bookmark data for the file at `file` (symbolic links followed: a bookmark names the file
// the user sees); nothing, and `error` set, when the file cannot be reached.
SCRIVLET_PLATFORM_API std::optional<std::vector<std::uint8_t>>
create(const std::filesystem::path& file, std::error_code& error);

// The bytes of a bookmark of `contents`, as create() writes them.
SCRIVLET_PLATFORM_API std::vector<std::uint8_t> encode(const Contents& contents);

// The contents of bookmark data. Data that is damaged or of another version gives nothing
// and an error whose description says which.
SCRIVLET_PLATFORM_API std::optional<Contents> decode(std::span<const std::uint8_t> data,
                                                     PlatformError& error);

} // namespace FileBookmark

} // namespace scrivlet
