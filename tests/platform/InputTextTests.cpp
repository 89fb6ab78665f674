#include "Platform/control/InputText.h"

#include <gtest/gtest.h>
#include <string>

using namespace scrivlet;

namespace {

struct WholeCase {
    std::string text;
    std::optional<long long> expected;
};

TEST(InputTextTest, WholeNumbersUseTheWholeTextAndStayInRange) {
    const WholeCase cases[] = {
        {"0", 0},
        {"7", 7},
        {"99", 99},
        {"100", std::nullopt}, // above the maximum
        {"-1", std::nullopt},  // below the minimum
        {"", std::nullopt},
        {" 1", std::nullopt},
        {"1 ", std::nullopt},
        {"+1", std::nullopt},
        {"1.5", std::nullopt},
        {"1e2", std::nullopt},
        {"0x1", std::nullopt},
        {"abc", std::nullopt},
        {"99999999999999999999999", std::nullopt}, // overflows long long
        {std::string("1\0", 2), std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(parseWholeNumber(text, 0, 99), expected) << "\"" << text << "\"";
    }
}

struct DecimalCase {
    std::string text;
    std::optional<double> expected;
};

TEST(InputTextTest, DecimalsRefuseWhatIsNotAFiniteNumberInRange) {
    const DecimalCase cases[] = {
        {"0", 0.0},
        {"0.25", 0.25},
        {".5", 0.5},
        {"60", 60.0},
        {"-0", 0.0},
        {"60.001", std::nullopt},
        {"-0.5", std::nullopt},
        {"1e1", 10.0},
        {"1e400", std::nullopt},
        {"inf", std::nullopt},
        {"nan", std::nullopt},
        {"", std::nullopt},
        {"1.", 1.0},
        {"1..2", std::nullopt},
        {"2s", std::nullopt},
        {" 2", std::nullopt},
        {"+2", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(parseDecimalNumber(text, 0, 60), expected) << "\"" << text << "\"";
    }
}

struct TextCase {
    std::string text;
    bool typed;
};

TEST(InputTextTest, TypedTextIsWellFormedUtf8WithoutControlCharacters) {
    const TextCase cases[] = {
        {"", true},
        {"Quit Scrivlet", true},
        {"Preferences\u2026", true}, // three-byte sequence
        {"caf\u00e9", true},         // two-byte sequence
        {"\U0001F4DD note", true},   // four-byte sequence
        {"\U0010FFFF", true},        // the last code point
        {std::string("a\0b", 3), false},
        {"tab\there", false},
        {"line\n", false},
        {"bell\x07", false},
        {"del\x7f", false},
        {"\xff", false},             // never a UTF-8 byte
        {"\x80", false},             // continuation byte without a lead
        {"\xc3", false},             // cut short at the end
        {"\xe2\x80", false},         // cut short at the end
        {"\xe2\x80x", false},        // continuation byte missing
        {"\xc0\xaf", false},         // overlong '/'
        {"\xe0\x80\xaf", false},     // overlong '/'
        {"\xed\xa0\x80", false},     // a surrogate
        {"\xf4\x90\x80\x80", false}, // past U+10FFFF
        {"\xf8\x88\x80\x80\x80", false},
    };
    for (const auto& [text, typed] : cases) {
        EXPECT_EQ(isTypedText(text), typed) << testing::PrintToString(text);
    }
}

} // namespace
