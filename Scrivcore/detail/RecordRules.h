#pragma once

#include "Scrivcore/Annotation.h"

#include <optional>
#include <string>
#include <string_view>

namespace scrivlet {

namespace scrivcore::detail {

// What a record must satisfy to be stored. Saving and re-keying check paths by the same
// rule, so that a re-keyed record can always be saved again.
//
// The problems are phrased without the path itself: callers log these texts as public, and
// a user's file path is private.

// Why `path` cannot be a record's key ("is not absolute", ...), or nothing when it can.
std::optional<std::string> pathProblem(std::string_view path);

// Throws StoreError (invalid record) when `record` cannot be stored as it is.
void validateRecord(const Annotation& record);

// `text` with every byte that does not belong to a valid UTF-8 sequence replaced by U+FFFD.
// Tag lists are stored as JSON text, which can only hold valid UTF-8.
std::string replacingInvalidUTF8(std::string_view text);

} // namespace scrivcore::detail

} // namespace scrivlet
