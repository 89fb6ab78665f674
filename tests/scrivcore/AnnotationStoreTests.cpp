#include "Scrivcore/AnnotationStore.h"
#include "tests/support/RawSqlite.h"
#include "tests/support/TempHome.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <thread>

using namespace scrivlet;

namespace fs = std::filesystem;

namespace {

Date at(std::int64_t seconds) {
    return Date(std::chrono::seconds(seconds));
}

Annotation sampleRecord(const std::string& path) {
    Annotation record = Annotation::forFile(path, at(1'700'000'000));
    record.note = "Line one\nline \"two\" — ünïcödé";
    record.tags = {"draft", "客户", "with,comma", ""};
    record.rating = 4;
    record.status = Annotation::Status::needsWork;
    record.syncedTags = {"draft"};
    record.bookmarkData = std::vector<std::uint8_t>{0, 1, 2, 255};
    record.modifiedAt = at(1'700'000'100) + std::chrono::microseconds(123456);
    return record;
}

class AnnotationStoreTest : public ::testing::Test {
protected:
    TempHome home;
    std::string storePath = home.storePath().string();
};

TEST(AnnotationStatus, RawValuesKeepTheirOrder) {
    std::vector<std::string> raw;
    for (auto status : Annotation::allStatuses) {
        raw.emplace_back(rawValue(status));
        EXPECT_EQ(statusFromRawValue(rawValue(status)), status);
    }
    EXPECT_EQ(raw,
              (std::vector<std::string>{"none", "reviewed", "flagged", "approved", "needs-work"}));
    EXPECT_FALSE(statusFromRawValue("needsWork"));
    EXPECT_FALSE(statusFromRawValue("Flagged"));
}

TEST(AnnotationNames, FileNameAndExtensionOfPaths) {
    EXPECT_EQ(fileNameOfPath("/Users/a/Report.Final.PDF"), "Report.Final.PDF");
    EXPECT_EQ(fileExtensionOfName("Report.Final.PDF"), "pdf");
    EXPECT_EQ(fileNameOfPath("/Users/a/folder/"), "folder");
    EXPECT_EQ(fileNameOfPath("/"), "/");
    EXPECT_EQ(fileExtensionOfName(".bashrc"), "");
    EXPECT_EQ(fileExtensionOfName("trailing."), "");
}

TEST_F(AnnotationStoreTest, DefaultPathLiesInTheSharedContainer) {
    EXPECT_EQ(AnnotationStore::defaultPath(), storePath);
    ::setenv("SCRIVLET_CONTAINER", (home.path() / "elsewhere").c_str(), 1);
    EXPECT_EQ(AnnotationStore::defaultPath(),
              (home.path() / "elsewhere/annotations.sqlite").string());
    ::unsetenv("SCRIVLET_CONTAINER");
}

TEST_F(AnnotationStoreTest, SavedRecordsComeBackFieldForField) {
    AnnotationStore store(storePath);
    Annotation record = sampleRecord("/home/u/Report.pdf");
    store.save(record);
    EXPECT_FALSE(record.id.empty());
    EXPECT_EQ(store.fetch("/home/u/Report.pdf"), record);
    EXPECT_TRUE(store.hasAnnotation("/home/u/Report.pdf"));
    EXPECT_FALSE(store.hasAnnotation("/home/u/report.pdf"));
    EXPECT_FALSE(store.fetch("/home/u/Other.pdf"));

    AnnotationStore reopened(storePath);
    EXPECT_EQ(reopened.fetch("/home/u/Report.pdf"), record);
}

TEST_F(AnnotationStoreTest, SavingAnExistingPathUpdatesItAndKeepsItsIdentity) {
    AnnotationStore store(storePath);
    Annotation first = sampleRecord("/home/u/a.txt");
    store.save(first);
    Annotation second = Annotation::forFile("/home/u/a.txt", at(1'800'000'000));
    second.rating = 1;
    second.bookmarkData.reset();
    store.save(second);
    EXPECT_EQ(second.id, first.id);
    const auto stored = store.fetch("/home/u/a.txt");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->rating, 1);
    EXPECT_FALSE(stored->bookmarkData);
    EXPECT_EQ(store.fetchAll().size(), 1u);
}

TEST_F(AnnotationStoreTest, FetchAllIsOrderedByPath) {
    AnnotationStore store(storePath);
    EXPECT_TRUE(store.fetchAll().empty());
    for (const char* path : {"/b", "/a/z", "/c", "/a"}) {
        Annotation record = Annotation::forFile(path, at(0));
        store.save(record);
    }
    std::vector<std::string> paths;
    for (const auto& record : store.fetchAll()) {
        paths.push_back(record.path);
    }
    EXPECT_EQ(paths, (std::vector<std::string>{"/a", "/a/z", "/b", "/c"}));
}

TEST_F(AnnotationStoreTest, DeletingRemovesOnlyThatPath) {
    AnnotationStore store(storePath);
    Annotation a = sampleRecord("/x/a"), b = sampleRecord("/x/b");
    store.save(a);
    store.save(b);
    store.deleteByPath("/x/a");
    store.deleteByPath("/x/never-annotated");
    EXPECT_FALSE(store.hasAnnotation("/x/a"));
    EXPECT_TRUE(store.hasAnnotation("/x/b"));
}

TEST_F(AnnotationStoreTest, UpdatePathReKeysAndRenames) {
    AnnotationStore store(storePath);
    Annotation record = sampleRecord("/home/u/old.txt");
    store.save(record);
    store.updatePath("/home/u/old.txt", "/home/u/moved/New.MD");
    EXPECT_FALSE(store.hasAnnotation("/home/u/old.txt"));
    const auto moved = store.fetch("/home/u/moved/New.MD");
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved->id, record.id);
    EXPECT_EQ(moved->fileName, "New.MD");
    EXPECT_EQ(moved->fileExtension, "md");
    EXPECT_EQ(moved->note, record.note);
}

TEST_F(AnnotationStoreTest, UpdatePathNeverOverwritesAnotherRecord) {
    AnnotationStore store(storePath);
    Annotation a = sampleRecord("/home/u/a"), b = sampleRecord("/home/u/b");
    b.note = "b's note";
    store.save(a);
    store.save(b);
    try {
        store.updatePath("/home/u/a", "/home/u/b");
        FAIL() << "re-keying onto an annotated path must fail";
    } catch (const StoreError& error) {
        EXPECT_EQ(error.kind(), StoreError::Kind::duplicatePath);
        // Callers log the text as public; the user's file paths are private.
        EXPECT_EQ(std::string(error.what()).find("/home/u/"), std::string::npos) << error.what();
    }
    EXPECT_EQ(store.fetch("/home/u/a"), a);
    EXPECT_EQ(store.fetch("/home/u/b"), b);

    EXPECT_THROW(
        {
            try {
                store.updatePath("/home/u/none", "/home/u/c");
            } catch (const StoreError& error) {
                EXPECT_EQ(error.kind(), StoreError::Kind::missingRecord);
                throw;
            }
        },
        StoreError);
    EXPECT_THROW(store.updatePath("/home/u/a", "relative"), StoreError);
    // The store is still usable after the failed transactions.
    store.updatePath("/home/u/a", "/home/u/c");
    EXPECT_TRUE(store.hasAnnotation("/home/u/c"));
}

TEST_F(AnnotationStoreTest, InvalidRecordsAreRefusedWithAReason) {
    AnnotationStore store(storePath);
    Annotation relative = Annotation::forFile("notes.txt", at(0));
    Annotation tooManyStars = Annotation::forFile("/home/u/x", at(0));
    tooManyStars.rating = 6;
    for (Annotation* record : {&relative, &tooManyStars}) {
        try {
            store.save(*record);
            FAIL() << "saved an invalid record";
        } catch (const StoreError& error) {
            EXPECT_EQ(error.kind(), StoreError::Kind::invalidRecord);
            EXPECT_FALSE(error.canSucceedLater());
            EXPECT_NE(std::string(error.what()).find("cannot be saved"), std::string::npos);
            EXPECT_EQ(std::string(error.what()).find(record->path), std::string::npos);
        }
    }
    EXPECT_TRUE(store.fetchAll().empty());
}

// A destination that saving refuses would leave a record that can never be saved again.
TEST_F(AnnotationStoreTest, ReKeyingRefusesEveryPathThatSavingRefuses) {
    AnnotationStore store(storePath);
    Annotation record = sampleRecord("/home/u/a");
    store.save(record);
    for (const std::string& bad :
         {std::string(), std::string("relative/b"), std::string("/home/u/nul\0byte", 16)}) {
        Annotation probe = sampleRecord(bad);
        EXPECT_THROW(store.save(probe), StoreError);
        try {
            store.updatePath("/home/u/a", bad);
            FAIL() << "re-keyed onto a path the store cannot save";
        } catch (const StoreError& error) {
            EXPECT_EQ(error.kind(), StoreError::Kind::invalidRecord) << error.what();
        }
    }
    ASSERT_EQ(store.fetchAll().size(), 1u);
    Annotation again = *store.fetch("/home/u/a");
    EXPECT_NO_THROW(store.save(again));
}

// The record on return is what was stored, also for tags that are not valid UTF-8.
TEST_F(AnnotationStoreTest, TagsWithStrayBytesComeBackAsStored) {
    AnnotationStore store(storePath);
    Annotation record = sampleRecord("/home/u/tagged");
    record.tags = {"ok", "bad\xFF", "\xC3(", "cut\xE2\x82"};
    record.syncedTags = {"\xFE"};
    store.save(record);
    EXPECT_EQ(store.fetch("/home/u/tagged"), record);
    EXPECT_EQ(record.tags,
              (std::vector<std::string>{"ok", "bad\uFFFD", "\uFFFD(", "cut\uFFFD\uFFFD"}));
    EXPECT_EQ(record.syncedTags, std::vector<std::string>{"\uFFFD"});
}

TEST_F(AnnotationStoreTest, NewStoreUsesWriteAheadLoggingAndAVersion) {
    { AnnotationStore store(storePath); }
    EXPECT_EQ(querySqlText(storePath, "PRAGMA journal_mode"), "wal");
    EXPECT_EQ(querySqlText(storePath, "PRAGMA user_version"), "1");
}

// Every file the store must refuse, and the proof that refusing it changed nothing.
TEST_F(AnnotationStoreTest, WithoutABusyTimeoutALockedStoreFailsAtOnce) {
    AnnotationStore store(storePath);
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(storePath.c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);

    store.setBusyTimeout(std::chrono::milliseconds(0));
    Annotation record = sampleRecord("/home/user/locked.txt");
    const auto started = std::chrono::steady_clock::now();
    try {
        store.save(record);
        ADD_FAILURE() << "saved past another writer's lock";
    } catch (const StoreError& error) {
        EXPECT_EQ(error.kind(), StoreError::Kind::busy);
    }
    // The usual wait is seconds.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));

    sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
    store.save(record);
    EXPECT_TRUE(store.hasAnnotation("/home/user/locked.txt"));
}

// Another writer's lock is waited out: by default and for as long as set; past the set wait
// the operation gives up with a busy error naming the store, and nothing of it was saved.
TEST_F(AnnotationStoreTest, ALockIsWaitedForThenGivenUpOnWithABusyError) {
    AnnotationStore store(storePath);
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(storePath.c_str(), &holder), SQLITE_OK);
    // The lock outlasts the operation's first attempt by far; only a wait lets it through.
    auto holdFor = [&](std::chrono::milliseconds hold) {
        EXPECT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
        return std::thread([holder, hold] {
            std::this_thread::sleep_for(hold);
            sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
        });
    };
    Annotation waited = sampleRecord("/home/user/waited.txt");
    std::thread release = holdFor(std::chrono::milliseconds(300));
    EXPECT_NO_THROW(store.save(waited)) << "the usual wait";
    release.join();

    store.setBusyTimeout(std::chrono::milliseconds(0));
    store.setBusyTimeout(std::chrono::seconds(3));
    Annotation set = sampleRecord("/home/user/set.txt");
    release = holdFor(std::chrono::milliseconds(300));
    EXPECT_NO_THROW(store.save(set)) << "a wait that was set";
    release.join();

    store.setBusyTimeout(std::chrono::milliseconds(50));
    Annotation refused = sampleRecord("/home/user/refused.txt");
    release = holdFor(std::chrono::seconds(2));
    try {
        store.save(refused);
        ADD_FAILURE() << "saved past another writer's lock";
    } catch (const StoreError& error) {
        EXPECT_EQ(error.kind(), StoreError::Kind::busy);
        EXPECT_NE(std::string(error.what()).find(storePath), std::string::npos) << error.what();
    }
    release.join();
    sqlite3_close(holder);
    EXPECT_TRUE(store.hasAnnotation("/home/user/waited.txt"));
    EXPECT_TRUE(store.hasAnnotation("/home/user/set.txt"));
    EXPECT_FALSE(store.hasAnnotation("/home/user/refused.txt"));
}

class UnopenableStoreTest : public AnnotationStoreTest {
protected:
    void expectRefusedUnchanged(StoreError::Kind expectedKind) {
        const std::string before = readWholeFile(storePath);
        try {
            AnnotationStore store(storePath);
            FAIL() << "opened a store that should have been refused";
        } catch (const StoreError& error) {
            EXPECT_EQ(error.kind(), expectedKind) << error.what();
            EXPECT_NE(std::string(error.what()).find(storePath), std::string::npos) << error.what();
        }
        EXPECT_EQ(readWholeFile(storePath), before);
        EXPECT_FALSE(fs::exists(storePath + "-wal"));
    }

    void makeStoreWithRecords(int count) {
        AnnotationStore store(storePath);
        for (int i = 0; i < count; ++i) {
            Annotation record = sampleRecord("/home/u/file-" + std::to_string(i));
            record.note.assign(200, 'n');
            store.save(record);
        }
    }
};

TEST_F(UnopenableStoreTest, TextFileIsNotADatabase) {
    home.makeFile(".local/share/com.scrivlet.shared/annotations.sqlite",
                  std::string("these are my notes, not a database\n") + std::string(5000, 'x'));
    expectRefusedUnchanged(StoreError::Kind::notADatabase);
}

TEST_F(UnopenableStoreTest, DamagedPagesAreDetected) {
    makeStoreWithRecords(200);
    {
        std::fstream file(storePath, std::ios::in | std::ios::out | std::ios::binary);
        // Page 5 is a leaf of the table; overwrite its header and cell pointers.
        file.seekp(4096 * 4);
        const std::string garbage(600, '\x5a');
        file.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
    }
    expectRefusedUnchanged(StoreError::Kind::corrupt);
}

TEST_F(UnopenableStoreTest, TruncatedFileIsDetected) {
    makeStoreWithRecords(200);
    fs::resize_file(storePath, fs::file_size(storePath) / 2);
    const std::string before = readWholeFile(storePath);
    EXPECT_THROW(AnnotationStore store(storePath), StoreError);
    EXPECT_EQ(readWholeFile(storePath), before);
}

TEST_F(UnopenableStoreTest, AnotherProgramsDatabaseIsLeftAlone) {
    fs::create_directories(fs::path(storePath).parent_path());
    runSql(storePath, "CREATE TABLE recipes (name TEXT); INSERT INTO recipes VALUES ('soup');");
    expectRefusedUnchanged(StoreError::Kind::notADatabase);
}

TEST_F(UnopenableStoreTest, NewerFormatIsNotDowngraded) {
    makeStoreWithRecords(1);
    runSql(storePath, "PRAGMA journal_mode=DELETE; PRAGMA user_version=99;");
    expectRefusedUnchanged(StoreError::Kind::newerVersion);
}

TEST_F(AnnotationStoreTest, FolderInPlaceOfTheFileIsRefused) {
    fs::create_directories(storePath);
    fs::path inside = fs::path(storePath) / "keep.txt";
    std::ofstream(inside) << "mine";
    try {
        AnnotationStore store(storePath);
        FAIL();
    } catch (const StoreError& error) {
        EXPECT_EQ(error.kind(), StoreError::Kind::cannotOpen);
        EXPECT_NE(std::string(error.what()).find("folder"), std::string::npos);
    }
    EXPECT_EQ(readWholeFile(inside), "mine");
}

TEST_F(AnnotationStoreTest, UnusableContainerIsReported) {
    const fs::path blocker = home.makeFile("not-a-folder", "x");
    try {
        AnnotationStore store((blocker / "annotations.sqlite").string());
        FAIL();
    } catch (const StoreError& error) {
        EXPECT_EQ(error.kind(), StoreError::Kind::cannotOpen);
        EXPECT_NE(std::string(error.what()).find("not-a-folder"), std::string::npos);
    }
    EXPECT_THROW(AnnotationStore store(""), StoreError);
}

TEST_F(AnnotationStoreTest, DamagedRecordIsReportedNotGuessed) {
    {
        AnnotationStore store(storePath);
        Annotation a = sampleRecord("/a");
        store.save(a);
    }
    runSql(storePath, "UPDATE annotations SET tags = '{not json' WHERE path = '/a'");
    AnnotationStore store(storePath);
    try {
        store.fetch("/a");
        FAIL();
    } catch (const StoreError& error) {
        EXPECT_EQ(error.kind(), StoreError::Kind::corrupt);
        EXPECT_NE(std::string(error.what()).find("damaged"), std::string::npos);
    }
    // The other operations still work around the damaged record.
    EXPECT_TRUE(store.hasAnnotation("/a"));
    store.deleteByPath("/a");
    EXPECT_FALSE(store.fetch("/a"));
}

} // namespace
