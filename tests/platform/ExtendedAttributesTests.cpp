#include "Platform/system/ExtendedAttributes.h"
#include "tests/support/TempHome.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

using namespace scrivlet;

namespace fs = std::filesystem;
namespace xattr = ExtendedAttributes;

namespace {

TEST(ExtendedAttributes, RoundTripThroughSymlinkReachesTheTarget) {
    TempHome home;
    const fs::path file = home.makeFile("doc.txt", "text");
    const fs::path link = home.path() / "link.txt";
    fs::create_symlink(file, link);

    ASSERT_FALSE(xattr::set(link, "user.a", "one"));
    ASSERT_FALSE(xattr::set(file, "user.empty", ""));
    std::error_code error;
    EXPECT_EQ(xattr::get(file, "user.a", error), "one");
    EXPECT_EQ(xattr::get(link, "user.empty", error), ""); // empty is not absent
    EXPECT_EQ(xattr::get(file, "user.absent", error), std::nullopt);
    EXPECT_FALSE(error);
    EXPECT_THAT(xattr::list(link, error), ::testing::IsSupersetOf({"user.a", "user.empty"}));

    EXPECT_FALSE(xattr::remove(link, "user.a"));
    EXPECT_FALSE(xattr::remove(link, "user.a")) << "removing an absent attribute succeeds";
    EXPECT_EQ(xattr::get(file, "user.a", error), std::nullopt);
}

// A descriptor reaches the file it was opened for, never what a link later put at its path
// points to.
TEST(ExtendedAttributes, ADescriptorReachesTheFileItWasOpenedFor) {
    TempHome home;
    const fs::path file = home.makeFile("doc.txt", "text");
    const fs::path elsewhere = home.makeFile("elsewhere.txt", "other");
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const fs::path moved = home.path() / "moved.txt";
    fs::rename(file, moved);
    fs::create_symlink(elsewhere, file);

    std::error_code error;
    ASSERT_FALSE(xattr::set(fd, "user.a", "one"));
    EXPECT_EQ(xattr::get(fd, "user.a", error), "one");
    EXPECT_EQ(xattr::get(fd, "user.absent", error), std::nullopt);
    EXPECT_FALSE(error);
    EXPECT_THAT(xattr::list(fd, error), ::testing::Contains("user.a"));
    EXPECT_EQ(xattr::get(moved, "user.a", error), "one");
    EXPECT_EQ(xattr::get(elsewhere, "user.a", error), std::nullopt);
    EXPECT_FALSE(xattr::remove(fd, "user.a"));
    EXPECT_FALSE(xattr::remove(fd, "user.a")) << "removing an absent attribute succeeds";
    EXPECT_EQ(xattr::get(moved, "user.a", error), std::nullopt);
    ::close(fd);
}

// Reading an entry of an open folder opens nothing, and a link in the entry's place is read
// as itself: it has no attributes, whatever its target has.
TEST(ExtendedAttributes, AnEntryOfAFolderIsReadWithoutFollowingALink) {
    TempHome home;
    const fs::path file = home.makeFile("folder/doc.txt", "text");
    fs::create_symlink(file, home.path() / "folder/link.txt");
    ASSERT_FALSE(xattr::set(file, "user.a", "one"));
    ASSERT_FALSE(xattr::set(home.path() / "folder", "user.b", "two"));
    const int folder = ::open((home.path() / "folder").c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    std::error_code error;
    const auto value = xattr::getAt(folder, "doc.txt", "user.a", error);
    if (error == std::errc::function_not_supported) {
        ::close(folder);
        GTEST_SKIP() << "the kernel has no getxattrat (Linux 6.13)";
    }
    EXPECT_EQ(value, "one");
    EXPECT_EQ(xattr::getAt(folder, "link.txt", "user.a", error), std::nullopt);
    EXPECT_FALSE(error);
    EXPECT_EQ(xattr::getAt(folder, "", "user.b", error), "two") << "the folder itself";
    EXPECT_EQ(xattr::getAt(folder, "missing.txt", "user.a", error), std::nullopt);
    EXPECT_EQ(error, std::errc::no_such_file_or_directory);
    ::close(folder);
}

TEST(ExtendedAttributes, ReadSurvivesTheValueChangingSizeUnderIt) {
    TempHome home;
    const fs::path file = home.makeFile("doc.txt");
    const std::string small(8, 's'), large(2000, 'L');
    ASSERT_FALSE(xattr::set(file, "user.v", small));
    std::jthread writer([&](std::stop_token stop) {
        for (bool big = true; !stop.stop_requested(); big = !big) {
            xattr::set(file, "user.v", big ? large : small);
        }
    });
    for (int i = 0; i < 5000; ++i) {
        std::error_code error;
        const auto value = xattr::get(file, "user.v", error);
        ASSERT_FALSE(error) << error.message();
        ASSERT_TRUE(value == small || value == large);
    }
}

} // namespace
