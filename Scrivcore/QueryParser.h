#pragma once

#include "Scrivcore/Export.h"
#include "Scrivcore/QueryAST.h"

#include <memory>
#include <string_view>

namespace scrivlet {

namespace query {

// The search language of the command-line tool:
//
//   status:flagged   rating>=4   tag:"Q3 2026"   note:budget   modified>2026-11-01
//   created<2026-01-01T09:30   (a or b) and not c   budget
//
// Terms next to each other are joined by "and"; "and", "or" and "not" are keywords in any
// case; a word or quoted text alone searches the notes. Values are checked here (a status
// the store knows, a rating from 0 to 5, a date), so every refusal points at its column.
// An empty query answers null: it matches every record. Throws QueryError.
SCRIVCORE_API std::unique_ptr<Node> parseQuery(std::string_view text);

// The field's name as written in queries.
SCRIVCORE_API std::string_view fieldName(Field field);

} // namespace query

} // namespace scrivlet
