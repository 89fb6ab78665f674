// Tags as typed becoming tags as stored, and the key a search compares them by.
#include "Scrivcore/TagText.h"

#include <gtest/gtest.h>

using namespace scrivlet;

namespace {

const std::string composed = "\xC3\xA9";    // é as one code point
const std::string decomposed = "e\xCC\x81"; // e and a combining acute accent

TEST(TagText, StoredTagsAreNFCTrimmedAndDeDuplicatedWithTheirCaseKept) {
    EXPECT_EQ(TagText::normalized(" \t" + decomposed + "t\xC3\xA9 \n"), composed + "t" + composed);
    EXPECT_EQ(TagText::normalized("Q3 2026"), "Q3 2026");
    EXPECT_EQ(TagText::normalized("\xFF bad "), "\xFF bad"); // not UTF-8: trimmed only
    using Tags = std::vector<std::string>;
    EXPECT_EQ(
        TagText::edited({"Draft", decomposed}, {" Draft", composed, "draft", "  ", "new"}, {}),
        (Tags{"Draft", composed, "draft", "new"}));
    EXPECT_EQ(TagText::edited({"a", composed, "b"}, {"b", "c"}, {decomposed + " ", "c"}),
              (Tags{"a", "b"}));
}

TEST(TagText, SearchKeysFoldCaseAndCanonicalForms) {
    EXPECT_EQ(TagText::folded("Q3 2026"), TagText::folded("q3 2026 "));
    EXPECT_EQ(TagText::folded("\xC3\x89t\xC3\xA9"), TagText::folded(decomposed + "T" + decomposed));
    EXPECT_EQ(TagText::folded("STRASSE"), TagText::folded("stra\xC3\x9F"
                                                          "e"));
    EXPECT_NE(TagText::folded("Q3"), TagText::folded("Q3 2026"));
}

} // namespace
