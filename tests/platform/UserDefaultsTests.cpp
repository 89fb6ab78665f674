#include "Platform/system/UserDefaults.h"
#include "tests/support/TempHome.h"

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace scrivlet;

namespace fs = std::filesystem;

namespace {

// Runs `change` in a process of its own, with defaults objects of its own, as another program
// (or `defaults write` from a terminal) would change the file; answers whether it succeeded.
bool inAnotherProcess(const std::function<bool()>& change) {
    const pid_t child = ::fork();
    if (child == 0) {
        std::_Exit(change() ? 0 : 1);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

// What another process sets, changes or removes applies at this process's next read, even a
// change to a value of the same length made at once; and a value this process sets keeps
// what the other one set meanwhile.
TEST(UserDefaults, ChangesByAnotherProcessApplyAtTheNextRead) {
    TempHome home;
    const fs::path file = home.path() / ".config/scrivlet/test.json";
    UserDefaults mine(file);
    EXPECT_EQ(mine.stringForKey("mode"), std::nullopt);

    ASSERT_TRUE(inAnotherProcess([&] { return UserDefaults(file).setString("mode", "flip"); }));
    EXPECT_EQ(mine.stringForKey("mode"), "flip");
    // The file's clock ticks coarsely (a few milliseconds): a change of the same length in the
    // same tick leaves size and time as they were.
    const auto stamp = fs::last_write_time(file);
    ASSERT_TRUE(inAnotherProcess([&] {
        const bool set = UserDefaults(file).setString("mode", "hide");
        fs::last_write_time(file, stamp);
        return set;
    }));
    EXPECT_EQ(mine.stringForKey("mode"), "hide") << "same length, in the same tick";

    ASSERT_TRUE(inAnotherProcess([&] { return UserDefaults(file).setString("other", "x"); }));
    ASSERT_TRUE(mine.setString("mine", "y"));
    EXPECT_EQ(UserDefaults(file).stringForKey("other"), "x");
    EXPECT_EQ(UserDefaults(file).stringForKey("mode"), "hide");

    ASSERT_TRUE(inAnotherProcess([&] { return UserDefaults(file).removeObjectForKey("mode"); }));
    EXPECT_EQ(mine.stringForKey("mode"), std::nullopt);
    ASSERT_TRUE(inAnotherProcess([&] { return fs::remove(file); }));
    EXPECT_EQ(mine.stringForKey("mine"), std::nullopt);
}

} // namespace
