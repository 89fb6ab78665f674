#pragma once

#include "Scrivcore/Export.h"

#include <string>
#include <string_view>
#include <vector>

namespace scrivlet {

namespace scrivcore::detail {

// Tag lists are stored as JSON arrays of strings, readable with the sqlite3 shell.
SCRIVCORE_API std::string encodeTagList(const std::vector<std::string>& tags);
// Throws std::invalid_argument when the text is not an array of strings.
SCRIVCORE_API std::vector<std::string> decodeTagList(std::string_view text);
// Whether decodeTagList accepts `text`, found without building the list or a JSON tree.
SCRIVCORE_API bool isTagList(std::string_view text);

} // namespace scrivcore::detail

} // namespace scrivlet
