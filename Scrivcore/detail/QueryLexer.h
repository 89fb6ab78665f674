#pragma once

#include "Scrivcore/QueryAST.h"

#include <string>
#include <string_view>
#include <vector>

namespace scrivlet {

namespace query {

struct Token {
    enum class Kind { word, quoted, comparison, openParen, closeParen, end };
    Kind kind = Kind::end;
    std::string text;       // a word or a quoted string's contents, or the operator
    std::size_t column = 1; // in characters, from 1
};

// Splits a query into words, "quoted strings" (with \" and \\ inside), comparison operators
// (: = != < <= > >=) and parentheses. Throws QueryError for an unfinished string or a
// character that starts nothing.
std::vector<Token> tokenize(std::string_view text);

} // namespace query

} // namespace scrivlet
