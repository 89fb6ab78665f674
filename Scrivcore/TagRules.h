#pragma once

#include "Scrivcore/Export.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scrivlet {

// What a tag becomes before it is stored, whoever writes it (the panel, the command, an
// import, the store's own save), and how tags are compared when searched or completed.
// Tags keep the case they were typed in ("Q3" and "q3" are two stored tags); only their
// Unicode form and surrounding white space are made uniform, so that the same word typed
// twice is one tag.
namespace TagRules {

// Why `typed` cannot be a tag ("is empty", "is not valid UTF-8", "holds a control
// character"), or nothing when it can. A tag is one line of text.
SCRIVCORE_API std::optional<std::string> tagProblem(std::string_view typed);

// The tag as stored: NFC, without leading or trailing ASCII or Unicode white space. Nothing
// when tagProblem has one.
SCRIVCORE_API std::optional<std::string> normalizedTag(std::string_view typed);

// The key two tags match by in a search or a completion: the normalized tag with Unicode
// case folding, so "Q3 Budget", "q3 budget" and "Q3 BUDGET" (and "É" typed either way) are
// one. Never stored.
SCRIVCORE_API std::string folded(std::string_view tag);

// A record's tag list as the store keeps it: each tag normalized, blank ones and repeats
// dropped, in first-seen order. A tag normalizedTag refuses for another reason was written
// by an older writer; it is kept (stray bytes replaced by U+FFFD, as JSON needs) rather than
// lost on the next save.
SCRIVCORE_API std::vector<std::string> storedTags(const std::vector<std::string>& tags);

// `tags` with `tag` added at the end, unless the list holds it already.
SCRIVCORE_API std::vector<std::string> addingTag(std::vector<std::string> tags,
                                                 const std::string& tag);

// `tags` with `added` appended and every tag equal to one of `removed` once normalized taken
// out, as storedTags keeps them.
SCRIVCORE_API std::vector<std::string> edited(const std::vector<std::string>& tags,
                                              const std::vector<std::string>& added,
                                              const std::vector<std::string>& removed);

// The tags of `inUse` that `typed` begins, ignoring case, leaving out those of `excluded`;
// in the order of `inUse`, at most `limit`. Empty for input that is no tag.
SCRIVCORE_API std::vector<std::string> completions(std::string_view typed,
                                                   const std::vector<std::string>& inUse,
                                                   const std::vector<std::string>& excluded,
                                                   std::size_t limit);

} // namespace TagRules

} // namespace scrivlet
