#pragma once

#include "Platform/base/Export.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace scrivlet {

// Finding files by inode number without a stat per file: the directory entries already carry
// the number. Callers confirm a candidate's full identity themselves (see FileIdentity).
namespace FileSearch {

struct SCRIVLET_PLATFORM_API Entry {
    std::uint64_t inode = 0;
    std::string name;
};

// The entries of one folder ("." and ".." left out); empty when it cannot be read.
SCRIVLET_PLATFORM_API std::vector<Entry> listFolder(const std::filesystem::path& folder);

struct SCRIVLET_PLATFORM_API WalkLimits {
    std::size_t maxEntries = 250'000;
    std::chrono::milliseconds maxDuration{2'000};
};

struct SCRIVLET_PLATFORM_API WalkResult {
    // Paths of the entries whose inode number was wanted, by inode number.
    std::unordered_multimap<std::uint64_t, std::string> found;
    std::size_t entriesVisited = 0;
    // Empty when the whole tree was seen; otherwise why the walk stopped early.
    std::string stoppedBecause;
};

// Visits the tree below `root` looking for entries with one of the `wanted` inode numbers.
// It never follows symbolic links and never enters a folder on another file system than
// `root`, and it stops after `limits.maxEntries` entries or `limits.maxDuration`, whichever
// comes first. Folders it cannot read are passed over.
SCRIVLET_PLATFORM_API WalkResult walk(const std::filesystem::path& root,
                                      const std::unordered_set<std::uint64_t>& wanted,
                                      const WalkLimits& limits);

} // namespace FileSearch

} // namespace scrivlet
