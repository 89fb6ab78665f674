#include "Scrivcore/QueryParser.h"

#include "Scrivcore/QueryCompiler.h"
#include "Scrivcore/detail/QueryLexer.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <utility>

namespace scrivlet {

namespace query {

namespace {

// Deeper nesting than any person writes; the limit keeps a hostile query off the stack's end.
constexpr int deepestNesting = 64;

constexpr std::array<std::pair<std::string_view, Field>, 6> fields{{
    {"status", Field::status},
    {"rating", Field::rating},
    {"tag", Field::tag},
    {"note", Field::note},
    {"modified", Field::modified},
    {"created", Field::created},
}};

// The statuses of the store's records (Annotation::Status); the query tests hold the two lists
// together.
constexpr std::array<std::string_view, 5> statuses{"none", "reviewed", "flagged", "approved",
                                                   "needs-work"};

std::string lowered(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

bool isKeyword(const Token& token, std::string_view keyword) {
    return token.kind == Token::Kind::word && lowered(token.text) == keyword;
}

Comparison comparisonOf(std::string_view text) {
    if (text == "=") {
        return Comparison::equal;
    }
    if (text == "!=") {
        return Comparison::notEqual;
    }
    if (text == "<") {
        return Comparison::less;
    }
    if (text == "<=") {
        return Comparison::lessOrEqual;
    }
    if (text == ">") {
        return Comparison::greater;
    }
    if (text == ">=") {
        return Comparison::greaterOrEqual;
    }
    return Comparison::matches;
}

bool isOrdering(Comparison comparison) {
    return comparison != Comparison::matches && comparison != Comparison::equal &&
           comparison != Comparison::notEqual;
}

std::string describe(const Token& token) {
    switch (token.kind) {
    case Token::Kind::end:
        return "the end of the query";
    case Token::Kind::quoted:
        return "\"" + token.text + "\"";
    default:
        return "'" + token.text + "'";
    }
}

void checkComparison(Field field, Comparison comparison, const Token& at) {
    const std::string name(fieldName(field));
    if (field == Field::note && comparison != Comparison::matches) {
        throw QueryError(at.column, "'" + name + "' takes only ':'");
    }
    if ((field == Field::status || field == Field::tag) && isOrdering(comparison)) {
        throw QueryError(at.column, "'" + name + "' takes ':', '=' or '!=', not '" + at.text + "'");
    }
}

void checkValue(const Term& term, const Token& at) {
    switch (term.field) {
    case Field::status:
        if (std::find(statuses.begin(), statuses.end(), term.value) == statuses.end()) {
            throw QueryError(at.column, "unknown status " + describe(at) +
                                            "; the statuses are none, reviewed, flagged, "
                                            "approved and needs-work");
        }
        return;
    case Field::rating: {
        int rating = -1;
        const char* end = term.value.data() + term.value.size();
        const auto [stop, error] = std::from_chars(term.value.data(), end, rating);
        if (error != std::errc() || stop != end || rating < 0 || rating > 5) {
            throw QueryError(at.column,
                             "a rating is a whole number from 0 to 5, not " + describe(at));
        }
        return;
    }
    case Field::modified:
    case Field::created:
        if (!parseDate(term.value)) {
            throw QueryError(at.column, "expected a date as YYYY-MM-DD or YYYY-MM-DDTHH:MM[:SS], "
                                        "not " +
                                            describe(at));
        }
        return;
    case Field::tag:
    case Field::note:
        if (term.value.empty()) {
            throw QueryError(at.column, "expected a value after '" +
                                            std::string(fieldName(term.field)) + ":'");
        }
        return;
    }
}

class Parser {
public:
    explicit Parser(std::string_view text) : tokens_(tokenize(text)) {}

    std::unique_ptr<Node> run() {
        if (peek().kind == Token::Kind::end) {
            return nullptr;
        }
        auto root = anyOf();
        if (peek().kind == Token::Kind::closeParen) {
            throw QueryError(peek().column, "')' without a '(' before it");
        }
        if (peek().kind != Token::Kind::end) {
            throw QueryError(peek().column,
                             "expected 'and', 'or' or the end, found " + describe(peek()));
        }
        return root;
    }

private:
    const Token& peek() const { return tokens_[position_]; }
    const Token& take() { return tokens_[position_++]; }

    static std::unique_ptr<Node> join(Node::Kind kind, std::vector<std::unique_ptr<Node>> parts) {
        if (parts.size() == 1) {
            return std::move(parts.front());
        }
        auto node = std::make_unique<Node>();
        node->kind = kind;
        node->operands = std::move(parts);
        return node;
    }

    std::unique_ptr<Node> anyOf() {
        std::vector<std::unique_ptr<Node>> parts;
        parts.push_back(allOf());
        while (isKeyword(peek(), "or")) {
            take();
            parts.push_back(allOf());
        }
        return join(Node::Kind::anyOf, std::move(parts));
    }

    bool startsOperand(const Token& token) const {
        return token.kind == Token::Kind::openParen || token.kind == Token::Kind::quoted ||
               (token.kind == Token::Kind::word && !isKeyword(token, "or"));
    }

    std::unique_ptr<Node> allOf() {
        std::vector<std::unique_ptr<Node>> parts;
        parts.push_back(unary());
        while (isKeyword(peek(), "and") || startsOperand(peek())) {
            if (isKeyword(peek(), "and")) {
                take();
            }
            parts.push_back(unary());
        }
        return join(Node::Kind::allOf, std::move(parts));
    }

    std::unique_ptr<Node> unary() {
        const Token& token = peek();
        if (isKeyword(token, "not")) {
            take();
            auto node = std::make_unique<Node>();
            node->kind = Node::Kind::negation;
            node->operands.push_back(nested(token, [this] { return unary(); }));
            return node;
        }
        if (token.kind == Token::Kind::openParen) {
            take();
            auto inner = nested(token, [this] { return anyOf(); });
            if (peek().kind != Token::Kind::closeParen) {
                throw QueryError(peek().column, "expected ')' to close the '(' at column " +
                                                    std::to_string(token.column) + ", found " +
                                                    describe(peek()));
            }
            take();
            return inner;
        }
        return term();
    }

    template <typename Parse> std::unique_ptr<Node> nested(const Token& at, Parse parse) {
        if (++depth_ > deepestNesting) {
            throw QueryError(at.column, "the query nests too deeply");
        }
        auto node = parse();
        --depth_;
        return node;
    }

    std::unique_ptr<Node> term() {
        const Token& first = take();
        const bool keyword = isKeyword(first, "and") || isKeyword(first, "or");
        if (first.kind == Token::Kind::quoted || (first.kind == Token::Kind::word && !keyword &&
                                                  peek().kind != Token::Kind::comparison)) {
            return noteWords(first);
        }
        if (first.kind != Token::Kind::word || keyword) {
            throw QueryError(first.column, "expected a search term, found " + describe(first));
        }
        return fieldTerm(first);
    }

    std::unique_ptr<Node> noteWords(const Token& words) {
        auto node = std::make_unique<Node>();
        node->term = {Field::note, Comparison::matches, words.text, words.column};
        checkValue(node->term, words);
        return node;
    }

    std::unique_ptr<Node> fieldTerm(const Token& name) {
        const auto known = std::find_if(fields.begin(), fields.end(), [&](const auto& f) {
            return f.first == lowered(name.text);
        });
        if (known == fields.end()) {
            throw QueryError(name.column, "unknown field '" + name.text +
                                              "'; the fields are status, rating, tag, note, "
                                              "modified and created");
        }
        const Token& op = take();
        const Comparison comparison = comparisonOf(op.text);
        checkComparison(known->second, comparison, op);
        const Token& value = peek();
        if (value.kind != Token::Kind::word && value.kind != Token::Kind::quoted) {
            throw QueryError(value.column, "expected a value after '" + name.text + op.text + "'");
        }
        take();
        auto node = std::make_unique<Node>();
        node->term = {known->second, comparison, value.text, name.column};
        checkValue(node->term, value);
        return node;
    }

    std::vector<Token> tokens_;
    std::size_t position_ = 0;
    int depth_ = 0;
};

} // namespace

std::string_view fieldName(Field field) {
    for (const auto& [name, value] : fields) {
        if (value == field) {
            return name;
        }
    }
    return "note";
}

std::unique_ptr<Node> parseQuery(std::string_view text) {
    return Parser(text).run();
}

} // namespace query

} // namespace scrivlet
