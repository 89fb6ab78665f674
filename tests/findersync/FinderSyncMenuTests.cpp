#include "tests/findersync/ExtensionFixture.h"
#include "tests/support/RawSqlite.h"

#include <uriparser/Uri.h>

namespace scrivlet {

namespace {

std::vector<std::string> titles(const Menu& menu) {
    std::vector<std::string> result;
    for (const auto& item : menu.items()) {
        result.push_back(item->title());
    }
    return result;
}

// The "path" item of a command URL, decoded as the app reads it back ("+" stays a plus).
std::optional<std::string> pathItem(const URL& url) {
    const std::string query = url.query().value_or("");
    UriQueryListA* items = nullptr;
    int count = 0;
    if (uriDissectQueryMallocExA(&items, &count, query.data(), query.data() + query.size(),
                                 URI_FALSE, URI_BR_DONT_TOUCH) != URI_SUCCESS) {
        return std::nullopt;
    }
    std::optional<std::string> value;
    for (UriQueryListA* item = items; item != nullptr; item = item->next) {
        if (std::string(item->key) == "path" && item->value != nullptr) {
            value = item->value;
        }
    }
    uriFreeQueryListA(items);
    return value;
}

TEST_F(ExtensionTest, MenuFollowsTheSelectionAndTheStore) {
    const std::string annotated = annotate("annotated");
    const std::string plain = session.home().makeFile("Documents/plain").string();
    startExtension();
    struct Case {
        std::vector<URL> selection;
        std::vector<std::string> items;
    };
    const std::vector<Case> cases{
        {{}, {}},
        {{URL::fileURL(plain)}, {"Annotate This File\u2026"}},
        {{URL::fileURL(annotated)}, {"Edit Annotation\u2026", "Remove Annotation"}},
        {{URL::fileURL(annotated), URL::fileURL(plain), URL::fileURL("/x")},
         {"Annotate 3 Files\u2026"}},
    };
    for (const Case& c : cases) {
        select(c.selection);
        const auto menu = extension->menuForMenuKind(FinderSyncMenuKind::contextualMenuForItems);
        EXPECT_EQ(menu->title(), "Scrivlet");
        EXPECT_EQ(titles(*menu), c.items);
        for (const auto& item : menu->items()) {
            EXPECT_EQ(item->keyEquivalent(), "");
            EXPECT_EQ(item->target().get(), extension.get());
            EXPECT_TRUE(menu->isEnabled(*item));
        }
    }
    session.simulatedDesktop().setFinderSyncSelection(std::nullopt);
    session.simulatedDesktop().finder().quit(); // no answer at all
    EXPECT_TRUE(
        extension->menuForMenuKind(FinderSyncMenuKind::contextualMenuForItems)->items().empty());
}

TEST_F(ExtensionTest, WithoutAStoreASingleFileIsOnlyOfferedAnnotate) {
    const std::string path = session.home().makeFile("Documents/a").string();
    startExtension();
    select({URL::fileURL(path)});
    const auto menu = extension->menuForMenuKind(FinderSyncMenuKind::contextualMenuForItems);
    EXPECT_EQ(titles(*menu), std::vector<std::string>{"Annotate This File\u2026"});
}

// A look-up that fails (here the records' table is gone for a moment, as while another
// program rebuilds the file) is no annotation: the one item offered is "Annotate", which
// sends that file, and nothing is logged. The next menu asks the store again.
TEST_F(ExtensionTest, ALookUpThatFailsOffersAnnotateAndTheNextMenuAsksAgain) {
    const std::string annotated = annotate("annotated");
    startExtension();
    select({URL::fileURL(annotated)});
    session.log().clear();
    runSql(session.home().storePath(), "ALTER TABLE annotations RENAME TO elsewhere");

    const auto menu = extension->menuForMenuKind(FinderSyncMenuKind::contextualMenuForItems);
    EXPECT_EQ(titles(*menu), std::vector<std::string>{"Annotate This File\u2026"});
    ASSERT_TRUE(menu->performActionForItem(*menu->items().at(0)));
    runUntilIdle();
    ASSERT_EQ(recorder.received.size(), 1u);
    EXPECT_EQ(recorder.received[0].host(), "annotate");
    EXPECT_EQ(pathItem(recorder.received[0]), annotated);
    EXPECT_TRUE(session.log().records().empty());
    EXPECT_TRUE(nsLogLines().empty());

    runSql(session.home().storePath(), "ALTER TABLE elsewhere RENAME TO annotations");
    EXPECT_EQ(titles(*extension->menuForMenuKind(FinderSyncMenuKind::contextualMenuForItems)),
              (std::vector<std::string>{"Edit Annotation\u2026", "Remove Annotation"}));
}

TEST_F(ExtensionTest, AnnotatingSeveralFilesSendsOneURLEachInSelectionOrder) {
    startExtension();
    select({URL::fileURL("/c"), URL::fileURL("/a"), URL::fileURL("/b")});
    const auto menu = extension->menuForMenuKind(FinderSyncMenuKind::contextualMenuForItems);
    ASSERT_TRUE(menu->performActionForItem(*menu->items().at(0)));
    runUntilIdle();
    std::vector<std::string> sent;
    for (const URL& url : recorder.received) {
        sent.push_back(url.absoluteString());
    }
    EXPECT_EQ(sent, (std::vector<std::string>{"scrivlet://annotate?path=%2Fc",
                                              "scrivlet://annotate?path=%2Fa",
                                              "scrivlet://annotate?path=%2Fb"}));
}

TEST_F(ExtensionTest, EditAndRemoveSendTheFirstSelectedFileOnly) {
    startExtension();
    select({URL::fileURL("/first"), URL::fileURL("/second")});
    extension->performSelector("removeAnnotation:", nullptr);
    extension->performSelector("editAnnotation:", nullptr);
    select({});
    extension->performSelector("removeAnnotation:", nullptr);
    extension->performSelector("createAnnotation:", nullptr);
    runUntilIdle();
    ASSERT_EQ(recorder.received.size(), 2u);
    EXPECT_EQ(recorder.received[0].absoluteString(), "scrivlet://remove?path=%2Ffirst");
    EXPECT_EQ(recorder.received[1].absoluteString(), "scrivlet://annotate?path=%2Ffirst");
}

TEST_F(ExtensionTest, AFileWithoutAUsablePathIsSkippedAndTheOthersAreSent) {
    startExtension();
    select({URL::fileURL("/a"), *URL::fromString("https://example.org/b"),
            *URL::fromString("file:///c%00/../etc"), URL::fileURL("/d")});
    extension->createAnnotation(nullptr);
    EXPECT_FALSE(extension->openCommand("annotate", std::string("/e\0f", 4)));
    runUntilIdle();
    ASSERT_EQ(recorder.received.size(), 2u);
    EXPECT_EQ(pathItem(recorder.received[0]), "/a");
    EXPECT_EQ(pathItem(recorder.received[1]), "/d");
}

TEST_F(ExtensionTest, UnusualPathsReachTheAppByteForByte) {
    startExtension();
    const std::vector<std::string> paths{"/Users/me/two words.txt",
                                         "/a#b",
                                         "/100% sure",
                                         "/c++/x+y",
                                         "/what?",
                                         "/this&that",
                                         "/k=v",
                                         "/line\nbreak",
                                         "/caf\u00e9/\u65e5\u672c",
                                         "/tab\there",
                                         "/back\\slash",
                                         "/%2F",
                                         "/\xff\xfe raw bytes"};
    for (const std::string& path : paths) {
        ASSERT_TRUE(extension->openCommand("annotate", path));
    }
    runUntilIdle();
    ASSERT_EQ(recorder.received.size(), paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const URL& url = recorder.received[i];
        EXPECT_EQ(url.scheme(), "scrivlet");
        EXPECT_EQ(url.host(), "annotate");
        EXPECT_EQ(url.path(), "");
        EXPECT_EQ(pathItem(url), paths[i]) << url.absoluteString();
        // Nothing that a reader could take for a separator stays unescaped.
        EXPECT_EQ(url.query()->substr(5).find_first_of("#&+=? \n/"), std::string::npos)
            << url.absoluteString();
    }
}

} // namespace

} // namespace scrivlet
