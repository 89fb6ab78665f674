// The search language: what it accepts, as the SQL condition it becomes, and where it points
// when it refuses.
#include "Scrivcore/Annotation.h"
#include "Scrivcore/QueryCompiler.h"
#include "Scrivcore/QueryParser.h"

#include <gtest/gtest.h>

using namespace scrivlet;
using namespace scrivlet::query;

namespace {

std::string conditionOf(const std::string& text) {
    const auto root = parseQuery(text);
    return compileQuery(root.get(),
                        [](const std::string& tag) {
                            return std::vector<std::string>{tag, tag + "!"};
                        })
        .condition;
}

TEST(QueryParser, PrecedenceImplicitAndAndKeywordsBecomeTheRightCondition) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"", "1"},
        {"rating>=4", "rating >= ?"},
        {"status:flagged or rating<2 rating>0", "(status = ? OR (rating < ? AND rating > ?))"},
        {"NOT (status!=none Or rating=5)", "NOT ((status != ? OR rating = ?))"},
        {"tag:\"Q3 2026\" and not tag!=x",
         "((path IN (SELECT path FROM annotation_tags WHERE tag IN (?, ?))) AND NOT (NOT (path "
         "IN (SELECT path FROM annotation_tags WHERE tag IN (?, ?)))))"},
        {"modified>2026-11-01T10:30", "modified_at >= ?"},
        {"created:2026-11-01", "(created_at >= ? AND created_at < ?)"},
        {"note:and", "path IN (SELECT path FROM annotation_keys WHERE key IN (SELECT rowid FROM "
                     "annotation_words WHERE annotation_words MATCH ?))"},
    };
    for (const auto& [text, condition] : cases) {
        EXPECT_EQ(conditionOf(text), condition) << text;
    }
}

TEST(QueryParser, RefusalsPointAtTheColumn) {
    const std::vector<std::tuple<std::string, std::size_t, std::string>> cases{
        {"rating>=", 9, "expected a value after 'rating>='"},
        {"rating>=6", 9, "a rating is a whole number from 0 to 5, not '6'"},
        {"status<flagged", 7, "'status' takes ':', '=' or '!=', not '<'"},
        {"status:lost", 8, "unknown status 'lost'"},
        {"colour:red", 1, "unknown field 'colour'"},
        {"note>budget", 5, "'note' takes only ':'"},
        {"(rating:1", 10, "expected ')' to close the '(' at column 1"},
        {"rating:1)", 9, "')' without a '(' before it"},
        {"é or", 5, "expected a search term, found the end of the query"},
        {"tag:\"open", 5, "has no closing"},
        {"modified>2026-02-30", 10, "expected a date"},
        {"rating!4", 7, "expected '!=' but found '!' alone"},
        {std::string("note:a\0b", 8), 7, "cannot hold a NUL"},
        {std::string(100, '('), 65, "nests too deeply"},
    };
    for (const auto& [text, column, message] : cases) {
        try {
            parseQuery(text);
            ADD_FAILURE() << "accepted " << text;
        } catch (const QueryError& error) {
            EXPECT_EQ(error.column(), column) << text;
            EXPECT_NE(std::string(error.what()).find(message), std::string::npos)
                << text << ": " << error.what();
        }
    }
}

// The parser keeps its own list of statuses; it must be the store's.
TEST(QueryParser, KnowsEveryStatusTheStoreKeeps) {
    for (const Annotation::Status status : Annotation::allStatuses) {
        EXPECT_NO_THROW(parseQuery("status:" + std::string(rawValue(status))));
    }
}

// A day is the span from its midnight to the next, even across a change of clocks.
TEST(QueryParser, DatesNameSpansOfLocalTime) {
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    const auto day = parseDate("2026-10-25");
    const auto minute = parseDate("2026-10-25T10:30");
    const auto second = parseDate("2026-10-25 10:30:15");
    unsetenv("TZ");
    tzset();
    ASSERT_TRUE(day && minute && second);
    EXPECT_EQ(day->end - day->begin, std::int64_t{25} * 3600 * 1'000'000);
    EXPECT_EQ(minute->end - minute->begin, 60'000'000);
    EXPECT_EQ(second->begin - minute->begin, 15'000'000);
    for (const char* bad : {"2026-13-01", "26-01-01", "2026-01-01T25:00", "2026-01-01T10",
                            "2026-01-01x", "+026-01-01"}) {
        EXPECT_FALSE(parseDate(bad)) << bad;
    }
}

} // namespace
