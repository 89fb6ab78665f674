#pragma once

#include "Scrivcore/AnnotatedFileOpener.h"
#include "Scrivcore/Export.h"

#include <filesystem>
#include <optional>
#include <string>

namespace scrivlet {

// The small attribute the file-manager extension reads to draw a badge without opening the
// store. None of these throws: a file that cannot carry the badge only loses the badge, and
// the failure is logged. Files are reached without following links (AnnotatedFileOpener).
namespace BadgeXattr {

inline constexpr const char* attributeName = "user.scrivlet.badge";
inline constexpr const char* annotatedValue = "annotated";
inline constexpr const char* flaggedValue = "flagged";

// Runs for every record at each launch, so it only writes when the value is not right yet.
SCRIVCORE_API void markAnnotated(const std::filesystem::path& fileURL, bool flagged);
// The same for the launch sync, which visits every record: `files` keeps the last folder
// open, and a file that is not there is passed over without a word.
SCRIVCORE_API void markAnnotatedIfPresent(const std::filesystem::path& fileURL, bool flagged,
                                          AnnotatedFileOpener& files);

// A file that has no badge is left alone without a word.
SCRIVCORE_API void clearAnnotated(const std::filesystem::path& fileURL);

// "annotated", "flagged", or nullopt when the file carries no badge or cannot be read.
SCRIVCORE_API std::optional<std::string> badgeValue(const std::filesystem::path& fileURL);

} // namespace BadgeXattr

} // namespace scrivlet
