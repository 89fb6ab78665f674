#pragma once

#include "Scrivcore/Export.h"

#include <string>
#include <string_view>
#include <vector>

namespace scrivlet {

// How a tag typed by the user becomes a stored tag, and how tags are compared when searched.
namespace TagText {

// NFC, with white space trimmed at both ends; case is kept. Text that is not valid UTF-8
// comes back trimmed but otherwise as it was.
SCRIVCORE_API std::string normalized(std::string_view tag);

// The key two tags match by in a search: NFC with Unicode case folding, so "Q3 Budget",
// "q3 budget" and "Q3 BUDGET" (and "É" typed either way) are one. Not stored anywhere.
SCRIVCORE_API std::string folded(std::string_view tag);

// `tags` with `added` appended (normalized, empty ones dropped, no duplicates) and every tag
// whose normalized text equals one of `removed` taken out, in their first-seen order.
SCRIVCORE_API std::vector<std::string> edited(const std::vector<std::string>& tags,
                                              const std::vector<std::string>& added,
                                              const std::vector<std::string>& removed);

} // namespace TagText

} // namespace scrivlet
