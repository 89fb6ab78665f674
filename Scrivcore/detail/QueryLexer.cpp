#include "Scrivcore/detail/QueryLexer.h"

namespace scrivlet {

namespace query {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isOperatorStart(char c) {
    return c == ':' || c == '=' || c == '!' || c == '<' || c == '>';
}

bool endsWord(char c) {
    return isSpace(c) || isOperatorStart(c) || c == '(' || c == ')' || c == '"';
}

class Lexer {
public:
    explicit Lexer(std::string_view text) : text_(text) {}

    std::vector<Token> run() {
        std::vector<Token> tokens;
        while (true) {
            while (at_ < text_.size() && isSpace(text_[at_])) {
                advance();
            }
            if (at_ >= text_.size()) {
                tokens.push_back({Token::Kind::end, "", column_});
                return tokens;
            }
            tokens.push_back(next());
        }
    }

private:
    Token next() {
        const std::size_t column = column_;
        const char c = text_[at_];
        // The full-text engine reads its query up to the first NUL: what follows would vanish.
        if (const std::size_t nul = text_.find('\0', at_); nul != std::string_view::npos) {
            skipTo(nul);
            throw QueryError(column_, "a query cannot hold a NUL character");
        }
        if (c == '(' || c == ')') {
            advance();
            return {c == '(' ? Token::Kind::openParen : Token::Kind::closeParen, std::string(1, c),
                    column};
        }
        if (c == '"') {
            return quoted(column);
        }
        if (isOperatorStart(c)) {
            return comparison(column);
        }
        const std::size_t start = at_;
        while (at_ < text_.size() && (!endsWord(text_[at_]) || isTimeColon(start))) {
            advance();
        }
        return {Token::Kind::word, std::string(text_.substr(start, at_ - start)), column};
    }

    // "10:30" inside a date stays one word; a field name never ends in a digit.
    bool isTimeColon(std::size_t start) const {
        auto digit = [&](std::size_t i) { return text_[i] >= '0' && text_[i] <= '9'; };
        return text_[at_] == ':' && at_ > start && at_ + 1 < text_.size() && digit(at_ - 1) &&
               digit(at_ + 1);
    }

    Token comparison(std::size_t column) {
        const char c = text_[at_];
        advance();
        const bool withEquals = at_ < text_.size() && text_[at_] == '=';
        if (c == '!' && !withEquals) {
            throw QueryError(column, "expected '!=' but found '!' alone");
        }
        if (withEquals && c != ':' && c != '=') {
            advance();
            return {Token::Kind::comparison, std::string(1, c) + "=", column};
        }
        return {Token::Kind::comparison, std::string(1, c), column};
    }

    Token quoted(std::size_t column) {
        advance(); // the opening quote
        std::string contents;
        while (at_ < text_.size()) {
            char c = text_[at_];
            if (c == '"') {
                advance();
                return {Token::Kind::quoted, contents, column};
            }
            if (c == '\\' && at_ + 1 < text_.size() &&
                (text_[at_ + 1] == '"' || text_[at_ + 1] == '\\')) {
                advance();
                c = text_[at_];
            }
            contents += c;
            advance();
        }
        throw QueryError(column, "the quoted text that starts here has no closing '\"'");
    }

    void skipTo(std::size_t position) {
        while (at_ < position) {
            advance();
        }
    }

    // Columns count characters, not bytes: a continuation byte of UTF-8 starts none, so the
    // column of a byte is one more than the number of characters begun before it.
    void advance() {
        if ((static_cast<unsigned char>(text_[at_]) & 0xC0) != 0x80) {
            ++column_;
        }
        ++at_;
    }

    std::string_view text_;
    std::size_t at_ = 0;
    std::size_t column_ = 1;
};

} // namespace

std::vector<Token> tokenize(std::string_view text) {
    return Lexer(text).run();
}

} // namespace query

} // namespace scrivlet
