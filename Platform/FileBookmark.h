#pragma once

#include "Platform/Export.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace scrivlet {

// A file bookmark: enough to find a file again after it was moved or renamed. Our own
// versioned blob: the path at creation plus the file's identity (device, inode and, where
// the file system keeps it, birth time).
namespace FileBookmark {

inline constexpr std::uint8_t currentVersion = 1;

struct SCRIVLET_PLATFORM_API Contents {
    std::string path;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t birthTimeSeconds = 0; // 0 when the file system does not record it
    std::uint32_t birthTimeNanoseconds = 0;
};

// Bookmark data for the file at `file`; nothing (and `error` set) when it cannot be read.
SCRIVLET_PLATFORM_API std::optional<std::vector<std::uint8_t>>
create(const std::filesystem::path& file, std::error_code& error);

// The contents of bookmark data; nothing for data that is not a bookmark of a known version.
SCRIVLET_PLATFORM_API std::optional<Contents> decode(const std::vector<std::uint8_t>& data);

} // namespace FileBookmark

} // namespace scrivlet
