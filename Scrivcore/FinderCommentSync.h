#pragma once

#include "Scrivcore/Export.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace scrivlet {

// Mirrors an annotation's note onto the file as its comment, in the attribute Linux file
// managers read (plain UTF-8; no comment means no attribute). A comment the user wrote is
// never overwritten or removed: next to the comment Scrivcore keeps a marker holding a digest
// of the text it last wrote, and only a comment matching that digest counts as its own. The
// marker is a digest rather than a copy because the whole attribute space of a file is about
// 4 KiB on ext4. None of these throws; failures are logged. Files are reached without
// following links (AnnotatedFileOpener).
namespace FinderCommentSync {

inline constexpr const char* attributeName = "user.xdg.comment";
inline constexpr const char* markerAttributeName = "user.scrivlet.comment-hash";

// Writes `note` as the comment when the file has none or carries the one Scrivcore wrote; an
// empty note clears ours. A comment of the user's own is left in place (logged at info level).
// If the marker cannot follow the comment, the previous comment is put back, so a comment of
// ours never sits on a file unmarked (it would pass for the user's forever after).
SCRIVCORE_API void syncComment(const std::string& note, const std::filesystem::path& fileURL);

// Removes the comment only if it is the one Scrivcore wrote, and removes the marker.
SCRIVCORE_API void clearComment(const std::filesystem::path& fileURL);

// The file's comment; nullopt when it has none (or an empty one) or cannot be read.
SCRIVCORE_API std::optional<std::string> readComment(const std::filesystem::path& fileURL);

// The marker's text for `comment`: 64-bit FNV-1a over its bytes, as 16 lowercase hex digits.
// Stable across runs and machines, unlike std::hash.
SCRIVCORE_API std::string commentDigest(std::string_view comment);

} // namespace FinderCommentSync

} // namespace scrivlet
