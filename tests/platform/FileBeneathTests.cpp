// What may be opened below a folder: plain names down to a regular file or a folder, never a
// symbolic link at any step, never a way out, never a FIFO or a device. Both lookups (the
// kernel's openat2 and the walk one component at a time used where it is missing) must give
// the same answers, so every table runs through both, and once more in a process where
// openat2 fails with ENOSYS, as on a kernel before 5.6.
#include "Platform/system/FileBeneath.h"
#include "tests/support/TempHome.h"
#include "tests/support/WithoutSystemCall.h"

#include <algorithm>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace scrivlet;

namespace fs = std::filesystem;
using Lookup = FileBeneath::Lookup;

namespace {

struct Row {
    std::string name;
    fs::path relative;
    std::error_code expected; // none: opened, and it is `opens`
    fs::path opens = {};
};

std::error_code code(std::errc value) {
    return std::make_error_code(value);
}

class FileBeneathTest : public ::testing::Test {
protected:
    TempHome home;
    const fs::path base = home.path() / "base";
    const fs::path secret = home.makeFile("outside/secret.txt", "s");

    FileHandle baseFolder() const {
        return FileHandle(::open(base.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    }

    void SetUp() override {
        home.makeFile("base/a/b/file.txt", "f");
        fs::create_directory_symlink(base / "a/b", base / "a/folder-link");
        fs::create_directory_symlink(secret.parent_path(), base / "a/out");
        fs::create_symlink(base / "a/b/file.txt", base / "a/file-link");
        fs::create_symlink(base / "a/missing.txt", base / "a/dangling");
        fs::create_symlink("loop-2", base / "loop-1");
        fs::create_symlink("loop-1", base / "loop-2");
        ASSERT_EQ(::mkfifo((base / "fifo").c_str(), 0600), 0);
    }

    std::vector<Row> rows() const {
        const auto loop = code(std::errc::too_many_symbolic_link_levels);
        const auto out = make_error_code(FileBeneath::Refusal::leavesTheFolder);
        return {
            {"a file", "a/b/file.txt", {}, base / "a/b/file.txt"},
            {"a folder", "a/b", {}, base / "a/b"},
            {"a folder written with a trailing slash", "a/b/", {}, base / "a/b"},
            {"the folder itself", "", {}, base},
            {"dots that stay", "./a/./b/file.txt", {}, base / "a/b/file.txt"},
            {"a link to a folder inside, on the way", "a/folder-link/file.txt", loop},
            {"a link to a folder outside, on the way", "a/out/secret.txt", loop},
            {"a link to a folder, last", "a/out", loop},
            {"a link to a file, last", "a/file-link", loop},
            {"a dangling link", "a/dangling", loop},
            {"a loop of links", "loop-1/x", loop},
            {"dot-dot climbing out", "../outside/secret.txt", out},
            {"dot-dot that would come back", "a/../a/b/file.txt", out},
            {"an absolute path", secret, out},
            {"a FIFO", "fifo", make_error_code(FileBeneath::Refusal::notFileOrFolder)},
            {"a missing file", "a/b/missing.txt", code(std::errc::no_such_file_or_directory)},
            {"a missing folder", "a/missing/file.txt", code(std::errc::no_such_file_or_directory)},
            {"a file taken for a folder", "a/b/file.txt/x", code(std::errc::not_a_directory)},
        };
    }

    // The table through one lookup; returns the number of rows answered wrongly.
    int runTable(Lookup lookup, bool reportFailures) const {
        const FileHandle folder = baseFolder();
        int wrong = 0;
        for (const Row& row : rows()) {
            std::error_code error;
            const FileHandle file = FileBeneath::open(folder.get(), row.relative, error, lookup);
            bool right = error == row.expected && file.isValid() == !row.expected;
            if (right && file.isValid()) {
                struct stat opened {
                }, expected{};
                right = ::fstat(file.get(), &opened) == 0 &&
                        ::stat(row.opens.c_str(), &expected) == 0 &&
                        opened.st_ino == expected.st_ino && opened.st_dev == expected.st_dev;
            }
            if (!right) {
                ++wrong;
                if (reportFailures) {
                    ADD_FAILURE() << row.name << ": got \"" << error.message() << "\", expected \""
                                  << (row.expected ? row.expected.message() : "opened") << "\"";
                }
            }
        }
        return wrong;
    }
};

TEST_F(FileBeneathTest, OpensPlainNamesOnlyWithEitherLookup) {
    for (const Lookup lookup : {Lookup::automatic, Lookup::oneByOne}) {
        SCOPED_TRACE(lookup == Lookup::automatic ? "automatic" : "one by one");
        runTable(lookup, true);
    }
}

// The kernel is made to answer openat2 as one before 5.6 does: the automatic lookup must fall
// back to the walk.
TEST_F(FileBeneathTest, WithoutOpenat2TheWalkGivesTheSameAnswers) {
    const auto wrong = runWithoutSystemCall(
        SYS_openat2, [&] { return std::min(runTable(Lookup::automatic, false), 99); });
    if (!wrong) {
        GTEST_SKIP() << "cannot take openat2 away here (seccomp)";
    }
    EXPECT_EQ(*wrong, 0) << "rows answered wrongly without openat2";
}

// A link put in the place of any one component of the path, to an identical tree outside:
// the lookup refuses it whichever component it is.
TEST_F(FileBeneathTest, ALinkSwappedInAtAnyComponentIsRefused) {
    const fs::path path = "p1/p2/p3/file.txt";
    home.makeFile("base/" + path.string(), "inside");
    home.makeFile("outside/" + path.string(), "outside");
    const FileHandle folder = baseFolder();
    fs::path prefix;
    for (const auto& component : path) {
        prefix /= component;
        SCOPED_TRACE(prefix.string());
        const fs::path inside = base / prefix;
        const fs::path aside = inside.string() + ".aside";
        fs::rename(inside, aside);
        fs::create_symlink(secret.parent_path() / prefix, inside);
        for (const Lookup lookup : {Lookup::automatic, Lookup::oneByOne}) {
            std::error_code error;
            EXPECT_FALSE(FileBeneath::open(folder.get(), path, error, lookup).isValid());
            EXPECT_EQ(error, std::errc::too_many_symbolic_link_levels);
        }
        fs::remove(inside);
        fs::rename(aside, inside);
    }
    std::error_code error;
    EXPECT_TRUE(FileBeneath::open(folder.get(), path, error).isValid()) << error.message();
}

TEST_F(FileBeneathTest, AFolderToLookFromIsAnOpenPathDescriptor) {
    std::error_code error;
    const FileHandle folder = FileBeneath::openFolder(baseFolder().get(), "a/b", error);
    ASSERT_TRUE(folder.isValid()) << error.message();
    EXPECT_NE(::fcntl(folder.get(), F_GETFL) & O_PATH, 0);
    EXPECT_TRUE(FileBeneath::openEntry(folder.get(), "file.txt", error).isValid());
    EXPECT_FALSE(FileBeneath::openEntry(folder.get(), "../b/file.txt", error).isValid());
    EXPECT_EQ(error, FileBeneath::Refusal::leavesTheFolder);
    EXPECT_FALSE(FileBeneath::openFolder(baseFolder().get(), "a/b/file.txt", error).isValid());
    EXPECT_EQ(error, std::errc::not_a_directory);
}

} // namespace
