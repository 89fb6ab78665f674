#pragma once

#include "Scrivcore/Export.h"

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace scrivlet {

namespace query {

// What a search may ask of a record.
enum class Field { status, rating, tag, note, modified, created };
// ':' is the field's natural match: equality, or for notes "holds these words".
enum class Comparison { matches, equal, notEqual, less, lessOrEqual, greater, greaterOrEqual };

struct Term {
    Field field = Field::note;
    Comparison comparison = Comparison::matches;
    std::string value;
    std::size_t column = 1; // of the field, counted in characters from 1
};

struct Node {
    enum class Kind { term, allOf, anyOf, negation };
    Kind kind = Kind::term;
    Term term;                                   // kind term
    std::vector<std::unique_ptr<Node>> operands; // allOf, anyOf: two or more; negation: one
};

// A query the parser refused, with the column (in characters, from 1) where it went wrong.
class SCRIVCORE_API QueryError : public std::runtime_error {
public:
    QueryError(std::size_t column, const std::string& message)
        : std::runtime_error(message), column_(column) {}
    std::size_t column() const { return column_; }

private:
    std::size_t column_;
};

} // namespace query

} // namespace scrivlet
