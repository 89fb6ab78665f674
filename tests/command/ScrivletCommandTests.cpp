// The scrivlet command as a user runs it: the built program in a temporary home, its output
// and exit status.
#include "Platform/system/ExtendedAttributes.h"
#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/BadgeXattr.h"
#include "Scrivcore/FinderCommentSync.h"
#include "Scrivcore/FinderTagSync.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FileFlags.h"
#include "tests/support/TempHome.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace scrivlet;
namespace fs = std::filesystem;
namespace xattr = ExtendedAttributes;

namespace {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

// Runs the program in the home's Documents folder, so relative paths name files there.
class CommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        documents = home.path() / "Documents";
        fs::create_directories(documents);
        report = home.makeFile("Documents/report.txt", "r");
        budget = home.makeFile("Documents/budget.ods", "b");
    }

    Outcome run(const std::string& arguments, const std::string& input = "",
                int storeWaitMilliseconds = 50) {
        const fs::path in = home.path() / "stdin";
        const fs::path out = home.path() / "stdout";
        const fs::path err = home.path() / "stderr";
        std::FILE* file = std::fopen(in.c_str(), "w");
        std::fputs(input.c_str(), file);
        std::fclose(file);
        const std::string line =
            "cd " + shellQuoted(documents.string()) +
            " && TZ=UTC SCRIVLET_STORE_WAIT=" + std::to_string(storeWaitMilliseconds) +
            " " SCRIVLET_COMMAND " " + arguments + " <" + in.string() + " >" + out.string() +
            " 2>" + err.string();
        const int status = std::system(line.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readWholeFile(out),
                readWholeFile(err)};
    }

    std::optional<Annotation> stored(const fs::path& file) {
        AnnotationStore store(home.storePath().string());
        return store.fetch(file.string());
    }

    TempHome home;
    fs::path documents;
    fs::path report;
    fs::path budget;
};

struct Invocation {
    const char* arguments;
    int status;
    const char* out; // the whole standard output
    const char* err; // a part of standard error ("" when it must be empty)
};

// Each runs after the same two records were set up.
TEST_F(CommandTest, EveryVerbAndEachRefusal) {
    ASSERT_EQ(run("set report.txt --rating 4 --status flagged --tag 'Q3 2026' --note "
                  "'Budget review'")
                  .status,
              0);
    ASSERT_EQ(run("set budget.ods --rating 2 --tag ' q3 2026 ' --tag draft").status, 0);
    const std::string r = report.string();
    const std::string b = budget.string();
    const std::vector<Invocation> table{
        {"find status:flagged", 0, "", ""},
        {"find 'rating>=2' --count", 0, "2\n", ""},
        {"find 'tag:\"Q3 2026\"'", 0, "", ""},
        {"find note:budget or tag:draft --count", 0, "2\n", ""},
        {"find 'not (rating>3)'", 0, "", ""},
        {"find 'modified>2000-01-01 created<2000-01-01' --count", 0, "0\n", ""},
        {"find --under ..", 0, "", ""},
        {"tags", 0, "1\tQ3 2026\n1\tdraft\n1\tq3 2026\n", ""},
        {"show nowhere.txt", 1, "", "nowhere.txt: no such file"},
        {"show --json budget.ods nowhere.txt", 1, "", "no such file"},
        {"set nowhere.txt --rating 3", 1, "", "nowhere.txt: no such file; nothing was written"},
        {"set report.txt --rating 6", 2, "", "a rating is a whole number from 0 to 5, not '6'"},
        {"set report.txt --status lost", 2, "", "unknown status 'lost'"},
        {"set report.txt", 2, "", "nothing to set"},
        {"set report.txt --note a --note-file -", 2, "", "give the note once"},
        // A tag the panel would refuse is refused before anything is written.
        {"set report.txt --rating 1 --tag ''", 2, "", "--tag \"\": the tag is empty"},
        {"set report.txt --rating 1 --tag \"$(printf 'a\\001b')\"", 2, "",
         "--tag \"a\\u0001b\": the tag holds a control character; nothing was written"},
        {"set report.txt --rating 1 --tag \"$(printf 'bad\\377')\"", 2, "",
         "the tag is not valid UTF-8"},
        {"set report.txt --rating 1 --untag ' '", 2, "", "the tag is empty"},
        {"find 'rating>='", 2, "",
         "bad query at column 9: expected a value after 'rating>='\n  rating>=\n          ^\n"},
        {"find 'tag:a or (status:none'", 2, "", "bad query at column 22: expected ')'"},
        {"export --format xml", 2, "", "the formats are jsonl and csv"},
        {"frobnicate", 2, "", "unknown verb 'frobnicate'"},
        {"rm nowhere.txt", 1, "", "nowhere.txt: has no annotation"},
        {"import missing.jsonl", 1, "", "cannot read missing.jsonl"},
    };
    for (const Invocation& invocation : table) {
        SCOPED_TRACE(invocation.arguments);
        const Outcome outcome = run(invocation.arguments);
        EXPECT_EQ(outcome.status, invocation.status);
        if (*invocation.out != '\0') {
            EXPECT_EQ(outcome.out, invocation.out);
        }
        if (*invocation.err == '\0') {
            EXPECT_EQ(outcome.err, "");
        } else {
            EXPECT_NE(outcome.err.find(invocation.err), std::string::npos) << outcome.err;
        }
    }
    // The outputs that hold paths of the temporary home.
    EXPECT_EQ(run("find status:flagged").out, r + "\n");
    EXPECT_EQ(run("find 'tag:\"Q3 2026\"'").out, b + "\n" + r + "\n");
    EXPECT_EQ(run("find 'not (rating>3)'").out, b + "\n");
    EXPECT_EQ(run("find -0 'rating<5'").out, b + '\0' + r + '\0');
    EXPECT_EQ(run("find --under " + shellQuoted(home.path() / "Doc")).out, "");
    EXPECT_EQ(run("show --json budget.ods")
                  .out.rfind("{\"path\":\"" + b +
                                 "\",\"rating\":2,\"status\":\"none\","
                                 "\"tags\":[\"q3 2026\",\"draft\"],",
                             0),
              0U);
    EXPECT_EQ(run("show --json " + shellQuoted(home.makeFile("Documents/plain.txt"))).out,
              "null\n");
    // Nothing of the refused calls reached the store.
    EXPECT_EQ(stored(report)->rating, 4);
    EXPECT_EQ(stored(report)->status, Annotation::Status::flagged);
    EXPECT_FALSE(stored(documents / "nowhere.txt"));
}

TEST_F(CommandTest, AnImportLineWithATagThePanelWouldRefuseIsSkipped) {
    const std::string r = report.string();
    const Outcome outcome = run("import -", "{\"path\":\"" + r + "\",\"tags\":[\"a\\u0001\"]}\n" +
                                                "{\"path\":\"" + r + "\",\"tags\":[\" ok \"]}\n");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find("line 1: the tag \"a\\u0001\" holds a control character; skipped"),
              std::string::npos)
        << outcome.err;
    EXPECT_EQ(stored(report)->tags, std::vector<std::string>{"ok"});
}

TEST_F(CommandTest, EveryVerbHasHelp) {
    for (const char* verb : {"show", "set", "rm", "find", "tags", "export", "import"}) {
        const Outcome outcome = run(std::string(verb) + " --help");
        EXPECT_EQ(outcome.status, 0) << verb;
        EXPECT_EQ(outcome.out.find(std::string("usage: scrivlet ") + verb), 0U) << verb;
    }
    EXPECT_EQ(run("").status, 2);
}

// The file ends as after a save in the panel: badge, comment and tags on it, the user's own
// tag kept; rm takes away exactly what was written.
TEST_F(CommandTest, SetAndRemoveWriteTheFileAttributesAsTheAppDoes) {
    ASSERT_FALSE(xattr::set(report, FinderTagSync::attributeName, "mine"));
    ASSERT_EQ(run("set report.txt --status flagged --tag ours --note 'a note'").status, 0);
    EXPECT_EQ(BadgeXattr::badgeValue(report), "flagged");
    EXPECT_EQ(FinderCommentSync::readComment(report), "a note");
    EXPECT_EQ(FinderTagSync::readTags(report), (std::vector<std::string>{"mine", "ours"}));
    EXPECT_TRUE(stored(report)->bookmarkData);

    ASSERT_EQ(run("set report.txt --untag ours --status approved").status, 0);
    EXPECT_EQ(BadgeXattr::badgeValue(report), "annotated");
    EXPECT_EQ(FinderTagSync::readTags(report), std::vector<std::string>{"mine"});

    ASSERT_EQ(run("rm report.txt").status, 0);
    EXPECT_FALSE(stored(report));
    EXPECT_EQ(BadgeXattr::badgeValue(report), std::nullopt);
    EXPECT_EQ(FinderCommentSync::readComment(report), std::nullopt);
    EXPECT_EQ(FinderTagSync::readTags(report), std::vector<std::string>{"mine"});
}

TEST_F(CommandTest, ExportThenImportIntoAnEmptyStoreGivesTheSameRecords) {
    ASSERT_EQ(run("set report.txt --rating 5 --status needs-work --tag 'Q3 2026' --tag é "
                  "--note-file -",
                  "line one\n\"quoted\", line two\n")
                  .status,
              0);
    ASSERT_EQ(run("set budget.ods --rating 1 --tag draft").status, 0);
    const std::string before = run("export").out;
    const std::vector<std::string> tagsBefore = FinderTagSync::readTags(report);
    fs::remove(home.storePath());
    fs::remove(home.storePath().string() + "-wal");
    fs::remove(home.storePath().string() + "-shm");

    const fs::path exported = home.path() / "export.jsonl";
    { std::ofstream(exported) << before; }
    const Outcome dry = run("import --dry-run " + shellQuoted(exported));
    EXPECT_EQ(dry.out, "would create " + budget.string() + "\nwould create " + report.string() +
                           "\nwould import: 2 new, 0 changed, 0 unchanged, 0 skipped\n");
    EXPECT_EQ(run("export").out, "");
    const Outcome imported = run("import -", before);
    EXPECT_EQ(imported.status, 0) << imported.err;
    EXPECT_EQ(run("export").out, before);
    EXPECT_EQ(FinderTagSync::readTags(report), tagsBefore);
    EXPECT_EQ(FinderCommentSync::readComment(report), "line one\n\"quoted\", line two\n");
    EXPECT_EQ(run("import -", before).out, "imported: 0 new, 0 changed, 2 unchanged, 0 skipped\n");
    const std::string csv = run("export --format csv 'rating:5'").out;
    EXPECT_NE(csv.find("\"[\"\"Q3 2026\"\",\"\"é\"\"]\",\"line one\n\"\"quoted\"\", line two\n\""),
              std::string::npos)
        << csv;
}

TEST_F(CommandTest, BadImportLinesAreReportedAndSkipped) {
    const std::string lines = "{\"path\":\"report.txt\",\"rating\":3}\n"
                              "not json\n"
                              "{\"path\":\"budget.ods\",\"rating\":7}\n"
                              "{\"path\":\"gone.txt\",\"rating\":1}\n"
                              "[1]\n"
                              "{\"path\":\"budget.ods\",\"status\":\"flagged\",\"tags\":\"x\"}\n";
    const Outcome outcome = run("import -", lines);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, "imported: 1 new, 0 changed, 0 unchanged, 5 skipped\n");
    EXPECT_EQ(outcome.err, "scrivlet: line 2: not JSON; skipped\n"
                           "scrivlet: line 3: \"rating\" must be a whole number from 0 to 5; "
                           "skipped\n"
                           "scrivlet: line 4: gone.txt: no such file; skipped\n"
                           "scrivlet: line 5: not a JSON object; skipped\n"
                           "scrivlet: line 6: \"tags\" must be a list of texts; skipped\n");
    EXPECT_EQ(stored(report)->rating, 3);
    EXPECT_FALSE(stored(budget));
}

TEST_F(CommandTest, AReadOnlyStoreIsReadButNotWritten) {
    ASSERT_EQ(run("set report.txt --rating 2").status, 0);
    // Root ignores permission bits but not the immutable flag.
    const bool immutable = setImmutable(home.storePath(), true);
    if (!immutable) {
        ASSERT_EQ(::chmod(home.storePath().c_str(), 0444), 0);
    }
    const Outcome write = run("set report.txt --rating 3");
    EXPECT_EQ(write.status, 1);
    EXPECT_NE(write.err.find("is read-only"), std::string::npos) << write.err;
    const Outcome read = run("find 'rating:2'");
    EXPECT_EQ(read.status, 0) << read.err;
    EXPECT_EQ(read.out, report.string() + "\n");
    immutable ? void(setImmutable(home.storePath(), false))
              : void(::chmod(home.storePath().c_str(), 0644));
    EXPECT_EQ(stored(report)->rating, 2);
}

// Another writer holds the store: the tool waits its while, then says so and writes nothing;
// reading is not held up.
TEST_F(CommandTest, ALockedStoreIsReportedAndLeftAlone) {
    ASSERT_EQ(run("set report.txt --rating 2").status, 0);
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(home.storePath().c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    const Outcome write = run("set report.txt --rating 3");
    const Outcome read = run("find 'rating:2' --count");
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_EQ(write.status, 1);
    EXPECT_NE(write.err.find("database is locked"), std::string::npos) << write.err;
    EXPECT_EQ(read.out, "1\n");
    EXPECT_EQ(stored(report)->rating, 2);
}

// A second writer that holds the store for a moment delays the tool; it does not fail it.
TEST_F(CommandTest, AWriterThatLetsGoInTimeIsWaitedFor) {
    ASSERT_EQ(run("set report.txt --rating 2").status, 0);
    int locked[2];
    ASSERT_EQ(::pipe(locked), 0);
    const pid_t holder = runInChild([&] {
        sqlite3* other = nullptr;
        sqlite3_open(home.storePath().c_str(), &other);
        const bool holds =
            sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
        const char told = holds ? 'y' : 'n';
        if (::write(locked[1], &told, 1) != 1) {
            return 1;
        }
        ::usleep(300'000);
        sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(other);
        return 0;
    });
    char told = 0;
    ASSERT_EQ(::read(locked[0], &told, 1), 1);
    ASSERT_EQ(told, 'y');
    ::close(locked[0]);
    ::close(locked[1]);
    const Outcome write = run("set report.txt --rating 3", "", 5000);
    EXPECT_EQ(waitForChild(holder), 0);
    EXPECT_EQ(write.status, 0) << write.err;
    EXPECT_EQ(stored(report)->rating, 3);
}

} // namespace
