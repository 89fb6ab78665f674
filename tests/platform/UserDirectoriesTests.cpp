#include "Platform/system/FileManager.h"
#include "Platform/system/UserDirectories.h"
#include "tests/support/OtherUser.h"
#include "tests/support/TempHome.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <variant>

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

mode_t modeOf(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// Whatever others could have put there, the runtime folder and the app's folders in it are
// refused: the folder that holds them must be the user's and closed to others' writes, and
// each of the app's folders the user's own, private and no link.
TEST(UserDirectories, PrivateFoldersRefuseWhatOthersCouldHavePlantedIn) {
    struct Case {
        const char* name;
        std::function<void(const fs::path& run)> spoil; // run: XDG_RUNTIME_DIR
        const char* fault;                              // empty: accepted
        const char* folder = "";                        // the folder the fault names, below run
    };
    const Case cases[] = {
        {"a fresh runtime folder", [](const fs::path&) {}, ""},
        {"readable by others, as many are", [](const fs::path& run) { ::chmod(run.c_str(), 0755); },
         ""},
        {"XDG_RUNTIME_DIR shared with everyone",
         [](const fs::path& run) { ::chmod(run.c_str(), 01777); },
         "can be written by other users (mode 1777)"},
        {"XDG_RUNTIME_DIR writable by the group",
         [](const fs::path& run) { ::chmod(run.c_str(), 0770); },
         "can be written by other users (mode 0770)"},
        {"XDG_RUNTIME_DIR of another user",
         [](const fs::path& run) { ::chown(run.c_str(), otherUser, otherUser); },
         "belongs to another user (uid 65534)"},
        {"the app's folder made by another user",
         [](const fs::path& run) {
             fs::create_directory(run / "scrivlet");
             ::chmod((run / "scrivlet").c_str(), 0700);
             ::chown((run / "scrivlet").c_str(), otherUser, otherUser);
         },
         "belongs to another user (uid 65534)", "scrivlet"},
        {"the app's folder readable by others",
         [](const fs::path& run) {
             fs::create_directory(run / "scrivlet");
             ::chmod((run / "scrivlet").c_str(), 0755);
         },
         "is open to other users (mode 0755, not 0700)", "scrivlet"},
        {"a folder below it writable by the group",
         [](const fs::path& run) {
             fs::create_directories(run / "scrivlet/applications");
             ::chmod((run / "scrivlet").c_str(), 0700);
             ::chmod((run / "scrivlet/applications").c_str(), 0770);
         },
         "is open to other users (mode 0770, not 0700)", "scrivlet/applications"},
        {"a link in the app's place, to a private folder",
         [](const fs::path& run) {
             fs::create_directory(run / "elsewhere");
             ::chmod((run / "elsewhere").c_str(), 0700);
             fs::create_directory_symlink(run / "elsewhere", run / "scrivlet");
         },
         "is a symbolic link", "scrivlet"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempHome home;
        const fs::path run = home.path() / "run";
        c.spoil(run);
        const fs::path registry = UserDirectories::runtimeDirectory() / "applications";
        const bool madeBySpoiler = fs::exists(registry);
        const auto checked = UserDirectories::checkPrivateDirectory(registry);
        const auto ensured = UserDirectories::ensurePrivateDirectory(registry);
        if (std::string(c.fault).empty()) {
            EXPECT_FALSE(ensured) << ensured->localizedDescription;
            EXPECT_EQ(modeOf(registry), 0700u);
            EXPECT_EQ(modeOf(registry.parent_path()), 0700u);
            EXPECT_FALSE(UserDirectories::checkPrivateDirectory(registry));
            continue;
        }
        ASSERT_TRUE(ensured);
        EXPECT_EQ(ensured->code, UserDirectories::folderNotPrivate());
        const fs::path named = std::string(c.folder).empty() ? run : run / c.folder;
        EXPECT_EQ(ensured->localizedDescription, "The folder " + named.string() + " " + c.fault);
        ASSERT_TRUE(checked);
        EXPECT_EQ(checked->code, UserDirectories::folderNotPrivate());
        EXPECT_EQ(fs::exists(registry), madeBySpoiler) << "nothing is made below a refused folder";
    }
}

TEST(UserDirectories, APrivateFolderOutsideTheRuntimeFolderAnswersForItselfAndItsHolder) {
    TempHome home;
    const fs::path folder = home.path() / "elsewhere/private";
    const auto missing = UserDirectories::checkPrivateDirectory(folder);
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->code, std::errc::no_such_file_or_directory);
    EXPECT_FALSE(UserDirectories::ensurePrivateDirectory(folder));
    EXPECT_EQ(modeOf(folder), 0700u);
    ::chmod(folder.parent_path().c_str(), 0777);
    const auto shared = UserDirectories::checkPrivateDirectory(folder);
    ASSERT_TRUE(shared);
    EXPECT_EQ(shared->code, UserDirectories::folderNotPrivate());
}

// Any one permission bit for the group or for others makes a folder of the app's not private,
// and the refusal names the folder and its mode; the holder above only has to be closed to
// others' writes, and may be a link to such a folder (as XDG_RUNTIME_DIR sometimes is).
TEST(UserDirectories, EachBitForOthersIsRefusedAndOnlyTheHoldersWritesCount) {
    for (const mode_t mode : {0710, 0720, 0740, 0701, 0702, 0704}) {
        char octal[8];
        std::snprintf(octal, sizeof octal, "%04o", static_cast<unsigned>(mode));
        SCOPED_TRACE(octal);
        TempHome home;
        const fs::path own = UserDirectories::runtimeDirectory();
        ASSERT_FALSE(UserDirectories::ensurePrivateDirectory(own));
        ::chmod(own.c_str(), mode);
        const auto refused = UserDirectories::checkPrivateDirectory(own / "tmp/");
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->code, UserDirectories::folderNotPrivate());
        EXPECT_EQ(refused->localizedDescription, "The folder " + own.string() +
                                                     " is open to other users (mode " + octal +
                                                     ", not 0700)");
    }
    for (const mode_t mode : {0705, 0750, 0711}) {
        TempHome home;
        const fs::path run = home.path() / "run";
        ::chmod(run.c_str(), mode);
        EXPECT_FALSE(UserDirectories::ensurePrivateDirectory(UserDirectories::runtimeDirectory()))
            << std::oct << mode;
    }
    TempHome home;
    const fs::path real = home.path() / "real-run";
    fs::create_directory(real);
    ::chmod(real.c_str(), 0700);
    fs::create_directory_symlink(real, home.path() / "linked-run");
    ::setenv("XDG_RUNTIME_DIR", (home.path() / "linked-run").c_str(), 1);
    const auto linked =
        UserDirectories::ensurePrivateDirectory(UserDirectories::runtimeDirectory());
    EXPECT_FALSE(linked) << linked->localizedDescription;
    EXPECT_EQ(modeOf(real / "scrivlet"), 0700u);
}

// The app's temporary folder (where the uninstaller is staged) is made private, and one that
// others could reach is refused in words that say so; one that cannot be made says why.
TEST(UserDirectories, TheTemporaryFolderIsPrivateOrRefused) {
    TempHome home;
    const FileManager fileManager;
    const fs::path expected = UserDirectories::runtimeDirectory() / "tmp";
    const PathOrError made = fileManager.temporaryDirectory();
    ASSERT_TRUE(std::holds_alternative<fs::path>(made));
    EXPECT_EQ(std::get<fs::path>(made), expected);
    EXPECT_EQ(modeOf(expected), 0700u);

    ::chmod(expected.c_str(), 0755);
    const PathOrError open = fileManager.temporaryDirectory();
    ASSERT_TRUE(std::holds_alternative<PlatformError>(open));
    EXPECT_EQ(std::get<PlatformError>(open).code, std::errc::permission_denied);
    EXPECT_EQ(std::get<PlatformError>(open).localizedDescription,
              "The temporary folder " + expected.string() +
                  " is not a private folder of this user");
    EXPECT_EQ(modeOf(expected), 0755u) << "a refused folder is left as it is";

    fs::remove(expected);
    std::ofstream(expected) << "a file in its place";
    const PathOrError blocked = fileManager.temporaryDirectory();
    ASSERT_TRUE(std::holds_alternative<PlatformError>(blocked));
    EXPECT_EQ(std::get<PlatformError>(blocked).code, std::errc::not_a_directory);
    EXPECT_TRUE(std::get<PlatformError>(blocked).localizedDescription.starts_with(
        "Cannot create the temporary folder"))
        << std::get<PlatformError>(blocked).localizedDescription;
}

} // namespace
