#pragma once

#include "Scrivcore/Export.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scrivlet {

// What a tag typed by a user becomes before it is stored, and which tags in use complete
// what they are typing. Tags keep the case they were typed in ("Q3" and "q3" are two tags);
// only their Unicode form and surrounding white space are made uniform, so that the same
// word typed twice is one tag.
namespace TagRules {

// The tag as stored: NFC, without leading or trailing white space. Nothing for text that
// holds no tag: empty or only white space, invalid UTF-8, or a control character (a tag is
// one line of text).
SCRIVCORE_API std::optional<std::string> normalizedTag(std::string_view typed);

// `tags` with `tag` added at the end, unless the list holds it already.
SCRIVCORE_API std::vector<std::string> addingTag(std::vector<std::string> tags,
                                                 const std::string& tag);

// The tags of `inUse` that `typed` begins, ignoring case, leaving out those of `excluded`;
// in the order of `inUse`, at most `limit`. Empty for empty input.
SCRIVCORE_API std::vector<std::string> completions(std::string_view typed,
                                                   const std::vector<std::string>& inUse,
                                                   const std::vector<std::string>& excluded,
                                                   std::size_t limit);

} // namespace TagRules

} // namespace scrivlet
