#pragma once

#include "Scrivcore/Export.h"
#include "Scrivcore/QueryAST.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scrivlet {

namespace query {

// A date of a query names a span of local time: a whole day ("2026-11-01"), a minute
// ("2026-11-01T09:30", a space may take the place of the T) or a second ("…T09:30:15").
// Microseconds since the epoch, `end` excluded.
struct DateSpan {
    std::int64_t begin = 0;
    std::int64_t end = 0;
};
SCRIVCORE_API std::optional<DateSpan> parseDate(std::string_view text);

// A query as SQL over the records table: a condition with a "?" for every value, the values
// in the same order. No text of the query is ever spliced into the SQL.
struct CompiledQuery {
    // A number, or (isText) a text.
    struct Value {
        bool isText = false;
        std::int64_t number = 0;
        std::string text;
    };
    std::string condition;
    std::vector<Value> values;
};

// Given a tag as the query names it, the stored tags that it matches.
using TagResolver = std::function<std::vector<std::string>(const std::string& foldedTag)>;

// Compares against dates as "modified < 2026-11-01" means "before that day began", and
// "modified > 2026-11-01" "after it ended". A null query matches everything.
SCRIVCORE_API CompiledQuery compileQuery(const Node* root, const TagResolver& storedTagsFor);

} // namespace query

} // namespace scrivlet
