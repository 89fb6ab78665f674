#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/detail/TagList.h"
#include "tests/support/FileFlags.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RawSqlite.h"
#include "tests/support/TempHome.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <nlohmann/json.hpp>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace scrivlet;

namespace fs = std::filesystem;

namespace {

class StoreDamage : public ::testing::Test {
protected:
    TempHome home;
    LogCapture log;
    std::string storePath = home.storePath().string();

    void makeStore(int count) {
        AnnotationStore store(storePath);
        std::vector<Annotation> records;
        for (int i = 0; i < count; ++i) {
            records.push_back(Annotation::forFile("/home/u/file-" + std::to_string(i), Date()));
            records.back().note.assign(200, 'n');
            records.back().tags = {"x"};
        }
        store.saveAll(records);
    }
};

// The loops at launch read every record; one bad record must not cost them all the others.
TEST_F(StoreDamage, FetchAllSkipsADamagedRecordAndLogsItPrivately) {
    makeStore(5);
    runSql(storePath, "UPDATE annotations SET tags = '{not json' WHERE path = '/home/u/file-1';"
                      "UPDATE annotations SET synced_tags = '[7]' WHERE path = '/home/u/file-3'");
    AnnotationStore store(storePath);
    std::vector<std::string> paths;
    for (const Annotation& record : store.fetchAll()) {
        paths.push_back(record.path);
    }
    EXPECT_EQ(paths,
              (std::vector<std::string>{"/home/u/file-0", "/home/u/file-2", "/home/u/file-4"}));
    const auto lines = log.messages("store");
    ASSERT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) {
                                return line.starts_with("Skipped the damaged annotation");
                            }),
              2);
    EXPECT_FALSE(log.contains("/home/u/")) << "the record's path is logged as private";
}

TEST_F(StoreDamage, AStoreCutShortByOneByteStillListsItsReadableRecords) {
    makeStore(200);
    fs::resize_file(storePath, fs::file_size(storePath) - 1);
    AnnotationStore store(storePath); // the open-time check does not notice
    std::vector<Annotation> records;
    ASSERT_NO_THROW(records = store.fetchAll());
    EXPECT_GE(records.size(), 150u);
    EXPECT_LT(records.size(), 200u);
    EXPECT_TRUE(log.contains("Skipped the damaged annotation"));
}

// Refused once, the store must work again as soon as the user makes it writable: nothing of
// the refused attempt may stay behind with the file's read-only mode.
TEST_F(StoreDamage, ARefusedReadOnlyStoreLeavesNothingBehind) {
    makeStore(1);
    // Root ignores permission bits but not the immutable flag.
    const bool immutable = setImmutable(storePath, true);
    if (!immutable) {
        ::chmod(storePath.c_str(), 0444);
    }
    try {
        AnnotationStore store(storePath);
        ADD_FAILURE() << "opened a store it cannot write";
    } catch (const StoreError& error) {
        EXPECT_EQ(error.kind(), StoreError::Kind::readOnly) << error.what();
    }
    EXPECT_FALSE(fs::exists(storePath + "-wal"));
    EXPECT_FALSE(fs::exists(storePath + "-shm"));

    immutable ? void(setImmutable(storePath, false)) : void(::chmod(storePath.c_str(), 0644));
    AnnotationStore store(storePath);
    Annotation record = Annotation::forFile("/home/u/after", Date());
    EXPECT_NO_THROW(store.save(record));
}

// Reading our own lists skips the JSON parser; whatever the text, the answer must be the
// parser's, and text the parser refuses must still be refused.
TEST(TagListDecoding, AgreesWithTheJSONParserOnEveryShape) {
    using scrivcore::detail::decodeTagList;
    using scrivcore::detail::encodeTagList;
    const std::vector<std::vector<std::string>> lists = {{},
                                                         {""},
                                                         {"a"},
                                                         {"a", "b"},
                                                         {"quote\"d", "back\\slash"},
                                                         {"tab\t", "new\nline"},
                                                         {"客户", "Caf\xC3\xA9"},
                                                         {"with,comma", "[bracket]"}};
    for (const auto& list : lists) {
        EXPECT_EQ(decodeTagList(encodeTagList(list)), list);
    }
    const std::vector<std::string> foreign = {"[ \"spaced\" , \"out\" ]", "[\"\\u00e9\"]",
                                              "[\"a\",\"b\"]"};
    for (const std::string& text : foreign) {
        EXPECT_EQ(decodeTagList(text), nlohmann::json::parse(text).get<std::vector<std::string>>())
            << text;
    }
    const std::vector<std::string> refused = {"",
                                              "[",
                                              "]",
                                              "[\"a\",]",
                                              "[,\"a\"]",
                                              "[\"a\"\"b\"]",
                                              "[\"unterminated]",
                                              "[1]",
                                              "{\"a\":1}",
                                              "[\"\xFF\"]",
                                              "[\"raw\x01\"]",
                                              "[\"a\",\"b\"",
                                              "[\"\"\"]"};
    for (const std::string& text : refused) {
        EXPECT_THROW(decodeTagList(text), std::invalid_argument) << text;
    }
}

} // namespace
