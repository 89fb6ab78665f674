#include "Platform/system/UserDirectories.h"
#include "tests/support/TempHome.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace scrivlet;

namespace fs = std::filesystem;

namespace {

TEST(UserDirectories, FollowXdgVariablesAndIgnoreRelativeOnes) {
    TempHome home;
    EXPECT_EQ(UserDirectories::home(), home.path());
    EXPECT_EQ(UserDirectories::groupContainer(), home.path() / ".local/share/com.scrivlet.shared");
    EXPECT_EQ(UserDirectories::runtimeDirectory(), home.path() / "run/scrivlet");

    ::setenv("XDG_DATA_HOME", "relative/data", 1);
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(UserDirectories::dataHome(), home.path() / ".local/share");
    EXPECT_EQ(UserDirectories::runtimeDirectory(), home.path() / ".local/state/scrivlet/run");

    ::setenv("SCRIVLET_CONTAINER", (home.path() / "box").c_str(), 1);
    EXPECT_EQ(UserDirectories::groupContainer(), home.path() / "box");
}

TEST(UserDirectories, EnsureDirectoryCreatesPrivateFoldersAndReportsBlockers) {
    TempHome home;
    const fs::path nested = home.path() / "a/b/c";
    EXPECT_FALSE(UserDirectories::ensureDirectory(nested));
    struct stat info {};
    ASSERT_EQ(::stat(nested.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_FALSE(UserDirectories::ensureDirectory(nested)); // again: nothing to do

    const fs::path file = home.makeFile("plain", "x");
    EXPECT_TRUE(UserDirectories::ensureDirectory(file / "below"));
    EXPECT_TRUE(UserDirectories::ensureDirectory(file));
}

} // namespace
