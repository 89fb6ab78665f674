#pragma once

#include <cstddef>
#include <string>

namespace scrivlet::bench {

// The badge benchmarks' store: records spread over 97 folders, a fifth of them flagged.
std::string badgePathOf(std::size_t index);
// Fills the store at the default path with `count` such records, with tags and a note.
void fillBadgeStore(std::size_t count);

// The app's process: for every byte read from `requests` it flips the status of the record
// at `path` and announces it, as a panel edit does, and writes the steady clock's count on
// `saved` when the save was committed (the clock is the same in both processes).
[[noreturn]] void runBadgeWriter(int requests, int saved, const std::string& path);

} // namespace scrivlet::bench
