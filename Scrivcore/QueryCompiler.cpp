#include "Scrivcore/QueryCompiler.h"

#include <charconv>
#include <ctime>

namespace scrivlet {

namespace query {

namespace {

constexpr std::int64_t microsPerSecond = 1'000'000;

bool readNumber(std::string_view text, std::size_t at, std::size_t digits, int& out) {
    if (at + digits > text.size()) {
        return false;
    }
    const char* begin = text.data() + at;
    const auto [end, error] = std::from_chars(begin, begin + digits, out);
    return error == std::errc() && end == begin + digits && begin[0] != '+' && begin[0] != '-';
}

// Local time to seconds since the epoch; none when the fields name no such moment (Feb 30).
std::optional<std::int64_t> localSeconds(std::tm fields) {
    const std::tm wanted = fields;
    fields.tm_isdst = -1;
    const std::time_t seconds = std::mktime(&fields);
    if (seconds == static_cast<std::time_t>(-1) || fields.tm_mday != wanted.tm_mday ||
        fields.tm_mon != wanted.tm_mon || fields.tm_year != wanted.tm_year) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(seconds);
}

class Compiler {
public:
    explicit Compiler(const TagResolver& storedTagsFor) : storedTagsFor_(storedTagsFor) {}

    CompiledQuery run(const Node* root) {
        if (root != nullptr) {
            emit(*root);
        } else {
            out_.condition = "1";
        }
        return std::move(out_);
    }

private:
    void emit(const Node& node) {
        switch (node.kind) {
        case Node::Kind::term:
            emitTerm(node.term);
            return;
        case Node::Kind::negation:
            out_.condition += "NOT (";
            emit(*node.operands.front());
            out_.condition += ")";
            return;
        case Node::Kind::allOf:
        case Node::Kind::anyOf:
            out_.condition += "(";
            for (std::size_t i = 0; i < node.operands.size(); ++i) {
                if (i > 0) {
                    out_.condition += node.kind == Node::Kind::allOf ? " AND " : " OR ";
                }
                emit(*node.operands[i]);
            }
            out_.condition += ")";
            return;
        }
    }

    void value(std::int64_t number) { out_.values.push_back({false, number, {}}); }
    void value(std::string text) { out_.values.push_back({true, 0, std::move(text)}); }

    void emitTerm(const Term& term) {
        switch (term.field) {
        case Field::status:
            out_.condition +=
                term.comparison == Comparison::notEqual ? "status != ?" : "status = ?";
            value(term.value);
            return;
        case Field::rating:
            out_.condition += std::string("rating ") + sqlOperator(term.comparison) + " ?";
            value(std::int64_t{std::stoi(term.value)});
            return;
        case Field::tag:
            emitTag(term);
            return;
        case Field::note:
            out_.condition += "path IN (SELECT path FROM annotation_keys WHERE key IN "
                              "(SELECT rowid FROM annotation_words WHERE annotation_words "
                              "MATCH ?))";
            value(ftsPhrase(term.value));
            return;
        case Field::modified:
        case Field::created:
            emitDate(term.field == Field::modified ? "modified_at" : "created_at", term);
            return;
        }
    }

    static const char* sqlOperator(Comparison comparison) {
        switch (comparison) {
        case Comparison::notEqual:
            return "!=";
        case Comparison::less:
            return "<";
        case Comparison::lessOrEqual:
            return "<=";
        case Comparison::greater:
            return ">";
        case Comparison::greaterOrEqual:
            return ">=";
        case Comparison::matches:
        case Comparison::equal:
            break;
        }
        return "=";
    }

    // Tags are kept as typed (case and all); which stored spellings match is found here, so
    // the lookup itself stays an exact one over the tag index.
    void emitTag(const Term& term) {
        const std::vector<std::string> matching = storedTagsFor_(term.value);
        if (term.comparison == Comparison::notEqual) {
            out_.condition += "NOT ";
        }
        out_.condition += "(path IN (SELECT path FROM annotation_tags WHERE tag IN (";
        for (std::size_t i = 0; i < matching.size(); ++i) {
            out_.condition += i == 0 ? "?" : ", ?";
            value(matching[i]);
        }
        out_.condition += ")))";
    }

    // The user's words as one phrase of the full-text syntax, so none of its operators apply;
    // a trailing '*' asks for words that begin so.
    static std::string ftsPhrase(const std::string& words) {
        const bool prefix = words.size() > 1 && words.back() == '*';
        const std::string_view text(words.data(), words.size() - (prefix ? 1 : 0));
        std::string phrase = "\"";
        for (const char c : text) {
            phrase += c == '"' ? std::string("\"\"") : std::string(1, c);
        }
        phrase += "\"";
        return prefix ? phrase + "*" : phrase;
    }

    void emitDate(const std::string& column, const Term& term) {
        const DateSpan span = *parseDate(term.value);
        auto compare = [&](const char* op, std::int64_t at) {
            out_.condition += column + " " + op + " ?";
            value(at);
        };
        switch (term.comparison) {
        case Comparison::matches:
        case Comparison::equal:
            out_.condition += "(";
            compare(">=", span.begin);
            out_.condition += " AND ";
            compare("<", span.end);
            out_.condition += ")";
            return;
        case Comparison::notEqual:
            out_.condition += "(";
            compare("<", span.begin);
            out_.condition += " OR ";
            compare(">=", span.end);
            out_.condition += ")";
            return;
        case Comparison::less:
            compare("<", span.begin);
            return;
        case Comparison::lessOrEqual:
            compare("<", span.end);
            return;
        case Comparison::greater:
            compare(">=", span.end);
            return;
        case Comparison::greaterOrEqual:
            compare(">=", span.begin);
            return;
        }
    }

    const TagResolver& storedTagsFor_;
    CompiledQuery out_;
};

} // namespace

std::optional<DateSpan> parseDate(std::string_view text) {
    std::tm fields{};
    int year = 0;
    int month = 0;
    int day = 0;
    if (!readNumber(text, 0, 4, year) || text.size() < 10 || text[4] != '-' || text[7] != '-' ||
        !readNumber(text, 5, 2, month) || !readNumber(text, 8, 2, day) || month < 1 || month > 12 ||
        day < 1 || year < 1000) {
        return std::nullopt;
    }
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    std::int64_t length = 0; // in seconds; a whole day is found through the calendar
    if (text.size() > 10) {
        int hour = 0;
        int minute = 0;
        int second = 0;
        const bool withSeconds = text.size() == 19;
        if ((text[10] != 'T' && text[10] != ' ') || (text.size() != 16 && !withSeconds) ||
            !readNumber(text, 11, 2, hour) || text[13] != ':' || !readNumber(text, 14, 2, minute) ||
            (withSeconds && (text[16] != ':' || !readNumber(text, 17, 2, second))) || hour > 23 ||
            minute > 59 || second > 59) {
            return std::nullopt;
        }
        fields.tm_hour = hour;
        fields.tm_min = minute;
        fields.tm_sec = second;
        length = withSeconds ? 1 : 60;
    }
    const std::optional<std::int64_t> begin = localSeconds(fields);
    if (!begin) {
        return std::nullopt;
    }
    std::int64_t end = *begin + length;
    if (length == 0) {
        // The next midnight, which is not always 24 hours on: clocks change.
        std::tm next{};
        next.tm_year = fields.tm_year;
        next.tm_mon = fields.tm_mon;
        next.tm_mday = fields.tm_mday + 1;
        next.tm_isdst = -1;
        end = static_cast<std::int64_t>(std::mktime(&next));
    }
    return DateSpan{*begin * microsPerSecond, end * microsPerSecond};
}

CompiledQuery compileQuery(const Node* root, const TagResolver& storedTagsFor) {
    return Compiler(storedTagsFor).run(root);
}

} // namespace query

} // namespace scrivlet
