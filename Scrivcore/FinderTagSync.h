#pragma once

#include "Scrivcore/Export.h"

#include <filesystem>
#include <string>
#include <vector>

namespace scrivlet {

// Mirrors an annotation's tags onto the file, in the attribute Linux file managers read, next
// to whatever tags the user gave the file there. The attribute is a plain list joined by ","
// with no escaping, so a tag holding a comma (or an empty tag) cannot be written: it stays in
// the store only. Tags are compared and written in Unicode NFC, so "é" typed as one code
// point and as "e" plus an accent are one tag. None of these throws; failures are logged.
// Files are reached without following links (AnnotatedFileOpener).
namespace FinderTagSync {

inline constexpr const char* attributeName = "user.xdg.tags";

// Makes the file carry the writable tags of `tags`: removes the tags of `previouslySynced`
// that are no longer wanted, adds the wanted ones it lacks, and never removes or duplicates a
// tag the user set. Returns the tags Scrivcore now owns on the file, in NFC, for the record's
// synced tags: previously synced tags still wanted plus the ones it added (a tag the user
// already had stays the user's). When the file cannot be read or written it is left as it
// was and `previouslySynced` comes back, since that is still what the file carries.
SCRIVCORE_API std::vector<std::string> syncTags(const std::vector<std::string>& tags,
                                                const std::vector<std::string>& previouslySynced,
                                                const std::filesystem::path& fileURL);

// Removes exactly `syncedTags`, keeps the user's, and drops the attribute if nothing is left.
SCRIVCORE_API void clearSyncedTags(const std::vector<std::string>& syncedTags,
                                   const std::filesystem::path& fileURL);

// The tags on the file as stored there; empty when it has none or cannot be read.
SCRIVCORE_API std::vector<std::string> readTags(const std::filesystem::path& fileURL);

} // namespace FinderTagSync

} // namespace scrivlet
