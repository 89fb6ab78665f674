#include "Scrivcore/AnnotationStore.h"
#include "tests/support/RawSqlite.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

namespace scrivlet {

namespace {

using Access = AnnotationStore::Access;

Annotation record(const std::string& path, Annotation::Status status) {
    Annotation annotation = Annotation::forFile(path, Date());
    annotation.status = status;
    return annotation;
}

TEST(ReadOnlyStore, TheEngineRefusesEveryWriteAndTheFileStaysAsItWas) {
    TempHome home;
    AnnotationStore writer(home.storePath().string());
    Annotation kept = record("/kept", Annotation::Status::none);
    writer.save(kept);
    AnnotationStore reader(home.storePath().string(), Access::readOnly);
    Annotation added = record("/added", Annotation::Status::flagged);
    const auto refusedAsReadOnly = [](const auto& write) {
        try {
            write();
        } catch (const StoreError& error) {
            return error.kind() == StoreError::Kind::readOnly;
        }
        return false;
    };
    EXPECT_TRUE(refusedAsReadOnly([&] { reader.save(added); }));
    EXPECT_TRUE(refusedAsReadOnly([&] { reader.deleteByPath("/kept"); }));
    EXPECT_TRUE(refusedAsReadOnly([&] { reader.updatePath("/kept", "/moved"); }));
    EXPECT_EQ(querySqlText(home.storePath(), "SELECT group_concat(path) FROM annotations"),
              "/kept");
}

TEST(ReadOnlyStore, ReaderSeesTheLatestCommitAndNeitherSideWaitsForTheOther) {
    TempHome home;
    AnnotationStore writer(home.storePath().string());
    AnnotationStore reader(home.storePath().string(), Access::readOnly);
    EXPECT_EQ(reader.fetchStatus("/a"), std::nullopt);
    Annotation a = record("/a", Annotation::Status::reviewed);
    writer.save(a);
    EXPECT_EQ(reader.fetchStatus("/a"), Annotation::Status::reviewed);
    a.status = Annotation::Status::flagged;
    writer.save(a);
    EXPECT_EQ(reader.fetchStatus("/a"), Annotation::Status::flagged);

    // A writer in the middle of a transaction blocks neither the reader's open nor its reads.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(home.storePath().c_str(), &other), SQLITE_OK);
    ASSERT_EQ(
        sqlite3_exec(other, "BEGIN IMMEDIATE; DELETE FROM annotations;", nullptr, nullptr, nullptr),
        SQLITE_OK);
    AnnotationStore second(home.storePath().string(), Access::readOnly);
    EXPECT_EQ(second.fetchStatus("/a"), Annotation::Status::flagged);
    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_EQ(second.fetchStatus("/a"), std::nullopt);
}

TEST(ReadOnlyStore, OpeningChecksOnlyWhatAReaderNeedsAndCreatesNothing) {
    TempHome home;
    const std::string path = home.storePath().string();
    EXPECT_THROW(AnnotationStore(path, Access::readOnly), StoreError);
    EXPECT_FALSE(std::filesystem::exists(path));

    home.makeFile("not-a-store", "plain text, not a database at all, long enough to matter");
    EXPECT_THROW(AnnotationStore((home.path() / "not-a-store").string(), Access::readOnly),
                 StoreError);

    runSql(home.path() / "other.sqlite", "CREATE TABLE t (x)");
    EXPECT_THROW(AnnotationStore((home.path() / "other.sqlite").string(), Access::readOnly),
                 StoreError);

    { AnnotationStore writer(path); }
    runSql(path, "PRAGMA user_version=99");
    try {
        AnnotationStore reader(path, Access::readOnly);
        ADD_FAILURE() << "a newer store was opened";
    } catch (const StoreError& error) {
        EXPECT_EQ(error.kind(), StoreError::Kind::newerVersion);
    }
}

TEST(ReadOnlyStore, StatusAloneAnswersAsTheWholeRecordDoes) {
    TempHome home;
    AnnotationStore writer(home.storePath().string());
    for (const Annotation::Status status : Annotation::allStatuses) {
        Annotation a = record("/s" + std::string(rawValue(status)), status);
        writer.save(a);
    }
    Annotation damaged = record("/damaged", Annotation::Status::none);
    writer.save(damaged);
    AnnotationStore reader(home.storePath().string(), Access::readOnly);
    const std::vector<std::string> damages{"'[1]'",       "'{}'",   "'[\"a\"'", "'[\"a\"] x'",
                                           "'[[\"a\"]]'", "'null'", "''"};
    std::vector<std::pair<std::string, std::string>> changes;
    for (const std::string& value : damages) {
        changes.emplace_back("tags", value);
        changes.emplace_back("synced_tags", value);
    }
    changes.emplace_back("tags", "'[\"fine\", \"\\u00e9\"]'");
    for (const auto& [column, value] : changes) {
        runSql(home.storePath(), "UPDATE annotations SET tags = '[]', synced_tags = '[]'");
        runSql(home.storePath(),
               "UPDATE annotations SET " + column + " = " + value + " WHERE path = '/damaged'");
        for (const Annotation& full : [&] {
                 std::vector<Annotation> all;
                 for (const auto& path : {"/snone", "/sflagged", "/sneeds-work"}) {
                     all.push_back(*reader.fetch(path));
                 }
                 return all;
             }()) {
            EXPECT_EQ(reader.fetchStatus(full.path), full.status);
        }
        bool fullThrows = false;
        bool statusThrows = false;
        try {
            reader.fetch("/damaged");
        } catch (const StoreError&) {
            fullThrows = true;
        }
        try {
            reader.fetchStatus("/damaged");
        } catch (const StoreError&) {
            statusThrows = true;
        }
        EXPECT_EQ(statusThrows, fullThrows) << column << " = " << value;
    }
}

std::string badgeIndexCount(const TempHome& home) {
    return querySqlText(home.storePath(), "SELECT count(*) FROM sqlite_schema WHERE type = "
                                          "'index' AND name = 'annotations_badge'");
}

// Badges are answered from an index of their own. A store an older writer left without it
// gets it at the next writing open, and a reader of such a store still answers.
TEST(ReadOnlyStore, BadgeIndexIsAddedWhereMissingAndNotNeededToAnswer) {
    TempHome home;
    { AnnotationStore create(home.storePath().string()); }
    EXPECT_EQ(badgeIndexCount(home), "1");
    {
        AnnotationStore writer(home.storePath().string());
        Annotation flagged = record("/flagged", Annotation::Status::flagged);
        writer.save(flagged);
    }
    runSql(home.storePath(), "DROP INDEX annotations_badge");
    {
        AnnotationStore reader(home.storePath().string(), Access::readOnly);
        EXPECT_EQ(reader.fetchStatus("/flagged"), Annotation::Status::flagged);
        EXPECT_EQ(reader.fetchStatus("/absent"), std::nullopt);
    }
    { AnnotationStore reopened(home.storePath().string()); }
    EXPECT_EQ(badgeIndexCount(home), "1");
    AnnotationStore reader(home.storePath().string(), Access::readOnly);
    EXPECT_EQ(reader.fetchStatus("/flagged"), Annotation::Status::flagged);
}

} // namespace

} // namespace scrivlet
