// Searching the store, and the search index a store gains on its first open by this version.
#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/QueryParser.h"
#include "tests/support/RawSqlite.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>

using namespace scrivlet;

namespace {

Annotation record(const std::string& path, int rating, std::vector<std::string> tags,
                  const std::string& note) {
    Annotation result = Annotation::forFile(path, Date(std::chrono::hours(24 * 365 * 50)));
    result.rating = rating;
    result.tags = std::move(tags);
    result.note = note;
    return result;
}

// Takes away what this version adds to a store.
void storeOfThePreviousRelease(const std::string& path) {
    runSql(path, "DROP TABLE search_index_state; DROP TABLE annotation_tags; DROP TABLE "
                 "annotation_keys; DROP TABLE annotation_words; DROP INDEX annotations_status; "
                 "DROP INDEX annotations_rating; DROP INDEX annotations_modified; DROP INDEX "
                 "annotations_created; DROP TRIGGER annotations_search_insert; DROP TRIGGER "
                 "annotations_search_update; DROP TRIGGER annotations_search_delete");
}

std::vector<std::string> find(AnnotationStore& store, const std::string& text,
                              std::optional<std::string> under = std::nullopt) {
    const auto root = query::parseQuery(text);
    return store.findPaths({root.get(), std::move(under)});
}

class StoreSearch : public ::testing::Test {
protected:
    void SetUp() override {
        AnnotationStore store(path);
        std::vector<Annotation> records{
            record("/home/u/a", 4, {"Q3 2026", "Été"}, "Budget for the next quarter"),
            record("/home/u/a b/c", 2, {"q3 2026"}, "nothing here"),
            record("/home/u/ab", 5, {}, "budgets"),
        };
        store.saveAll(records);
    }

    TempHome home;
    std::string path = home.storePath().string();
};

// Tags match by NFC case folding; notes by words, accents and case aside; "under" by whole
// folder names.
TEST_F(StoreSearch, TagsNotesAndFoldersMatchAsDocumented) {
    AnnotationStore store(path);
    using Paths = std::vector<std::string>;
    EXPECT_EQ(find(store, "tag:\"Q3 2026\""), (Paths{"/home/u/a", "/home/u/a b/c"}));
    EXPECT_EQ(find(store, "tag:\"e\xCC\x81t\xC3\xA9\""), Paths{"/home/u/a"}); // É typed apart
    EXPECT_EQ(find(store, "tag:Q3"), Paths{});
    EXPECT_EQ(find(store, "BUDGET"), Paths{"/home/u/a"});
    EXPECT_EQ(find(store, "note:budget*"), (Paths{"/home/u/a", "/home/u/ab"}));
    EXPECT_EQ(find(store, "note:\"next quarter\" or note:\"a\\\"b OR c\""), Paths{"/home/u/a"});
    EXPECT_EQ(find(store, "", "/home/u/a"), (Paths{"/home/u/a"}));
    EXPECT_EQ(find(store, "", "/home/u/a b"), (Paths{"/home/u/a b/c"}));
    EXPECT_EQ(store.countMatching({nullptr, "/"}), 3);
    EXPECT_EQ(store.tagCounts(), (std::vector<std::pair<std::string, std::int64_t>>{
                                     {"Q3 2026", 1}, {"q3 2026", 1}, {"Été", 1}}));
}

// Every way a record changes, by this version or by an older one that only knows the records
// table (plain SQL here), reaches the index.
TEST_F(StoreSearch, TheIndexFollowsEveryWriter) {
    {
        AnnotationStore store(path);
        Annotation changed = *store.fetch("/home/u/a");
        changed.tags = {"new"};
        changed.note = "renamed words";
        store.save(changed);
        store.updatePath("/home/u/a", "/home/u/moved");
        store.deleteByPath("/home/u/ab");
    }
    runSql(path, "INSERT INTO annotations (id, path, file_name, tags, note, rating, created_at, "
                 "modified_at) VALUES ('x', '/home/u/old', 'old', '[\"legacy\"]', 'older words', "
                 "3, 0, 0); UPDATE annotations SET tags = 'not json' WHERE path = '/home/u/a b/c'");
    AnnotationStore store(path);
    using Paths = std::vector<std::string>;
    EXPECT_EQ(find(store, "tag:new words"), Paths{"/home/u/moved"});
    EXPECT_EQ(find(store, "budget*"), Paths{});
    EXPECT_EQ(find(store, "tag:legacy older"), Paths{"/home/u/old"});
    EXPECT_EQ(find(store, "tag:\"q3 2026\""), Paths{});
    EXPECT_EQ(querySqlText(path, "SELECT count(*) FROM annotation_keys"), "3");
}

// A store of the release before this one: the records table alone. The index is added and
// filled on the first open; the records and the format version stay as they were, so that
// release still opens the store afterwards.
TEST(SearchIndexMigration, AddsAndFillsTheIndexOnceLeavingTheRecordsAsTheyWere) {
    TempHome home;
    const std::string path = home.storePath().string();
    {
        AnnotationStore store(path);
        std::vector<Annotation> records{record("/home/u/a", 4, {"x"}, "alpha words")};
        store.saveAll(records);
    }
    storeOfThePreviousRelease(path);
    const std::string recordsBefore = querySqlText(path, "SELECT group_concat(path || note || "
                                                         "tags) FROM annotations");
    AnnotationStore store(path);
    EXPECT_EQ(find(store, "tag:X alpha rating:4"), std::vector<std::string>{"/home/u/a"});
    EXPECT_EQ(querySqlText(path, "PRAGMA user_version"), "1");
    EXPECT_EQ(querySqlText(path, "SELECT group_concat(path || note || tags) FROM annotations"),
              recordsBefore);
    EXPECT_EQ(querySqlText(path, "SELECT count(*) FROM search_index_state"), "1");
    AnnotationStore again(path);
    EXPECT_EQ(querySqlText(path, "SELECT count(*) FROM search_index_state"), "1");
}

// A statement that fails part-way (here: a table in the way of an index the step creates
// after its tables) leaves nothing of the step behind, as a kill part-way would; the store
// still opens and saves, and the next open, with the obstacle gone, adds the index.
TEST(SearchIndexMigration, AStepThatFailsPartWayLeavesTheStoreAsItWas) {
    TempHome home;
    const std::string path = home.storePath().string();
    const std::string schemaObjects = "SELECT group_concat(name) FROM (SELECT name FROM "
                                      "sqlite_schema ORDER BY name)";
    {
        AnnotationStore store(path);
        std::vector<Annotation> records{record("/home/u/a", 4, {"x"}, "alpha")};
        store.saveAll(records);
    }
    storeOfThePreviousRelease(path);
    runSql(path, "CREATE TABLE annotations_created (x)");
    const std::string before = querySqlText(path, schemaObjects);
    {
        AnnotationStore store(path);
        EXPECT_EQ(querySqlText(path, schemaObjects), before);
        Annotation added = record("/home/u/b", 1, {}, "");
        EXPECT_NO_THROW(store.save(added));
        EXPECT_THROW(find(store, "rating:1"), StoreError);
    }
    runSql(path, "DROP TABLE annotations_created");
    AnnotationStore store(path);
    EXPECT_EQ(find(store, "rating:1"), std::vector<std::string>{"/home/u/b"});
    EXPECT_EQ(find(store, "tag:x"), std::vector<std::string>{"/home/u/a"});
}

// The records table dropped and made again takes its triggers with it: the next open builds
// the index anew rather than trust a marker that outlived them.
TEST(SearchIndexMigration, ARebuiltRecordsTableGetsAFreshIndex) {
    TempHome home;
    const std::string path = home.storePath().string();
    {
        AnnotationStore store(path);
        std::vector<Annotation> records{record("/home/u/a", 4, {"x"}, "alpha")};
        store.saveAll(records);
    }
    runSql(path, "DROP TABLE annotations; PRAGMA user_version = 0;");
    AnnotationStore store(path);
    Annotation added = record("/home/u/b", 1, {"y"}, "beta");
    store.save(added);
    EXPECT_EQ(find(store, "tag:y beta rating:1"), std::vector<std::string>{"/home/u/b"});
    EXPECT_EQ(find(store, "tag:x"), std::vector<std::string>{});
}

} // namespace
