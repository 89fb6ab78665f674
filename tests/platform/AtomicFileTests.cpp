#include "Platform/system/AtomicFile.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempHome.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

using namespace scrivlet;

namespace fs = std::filesystem;

namespace {

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

mode_t modeOf(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

ino_t inodeOf(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

// Without its capabilities even root meets the permission bits; the child cannot get them
// back, which is why the callers run this in one.
bool dropCapabilities() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] = {};
    return ::syscall(SYS_capset, &header, none) == 0;
}

constexpr int setupFailed = 32;
constexpr int replacedAfterAll = 64;

// A failed replacement, judged in the child where it was made: a bit for each check that
// fails (the error, the path it names, the old file, the folder's listing), 0 when all hold.
int verdictOn(const std::optional<FileReplaceFailure>& failed, std::errc code,
              const fs::path& named, const fs::path& file, const std::string& oldContents) {
    if (!failed) {
        return replacedAfterAll;
    }
    const std::vector<std::string> onlyTheOldFile{file.filename().string()};
    return (failed->code == code ? 0 : 1) | (failed->path == named ? 0 : 2) |
           (readWholeFile(file) == oldContents ? 0 : 4) |
           (namesIn(file.parent_path()) == onlyTheOldFile ? 0 : 8);
}

} // namespace

TEST(AtomicFile, ReplacesTheFileWholeWithTheModeAskedFor) {
    TempHome home;
    const fs::path file = home.makeFile("folder/settings.json", "old");
    const ino_t before = inodeOf(file);
    const mode_t savedMask = ::umask(027);

    EXPECT_FALSE(replaceFileAtomically(file, "new contents\n", 0666));
    EXPECT_EQ(readWholeFile(file), "new contents\n");
    EXPECT_NE(inodeOf(file), before) << "renamed into place, not rewritten";
    EXPECT_EQ(modeOf(file), 0640u) << "the umask applies";

    const fs::path entry = home.path() / "folder/entry.desktop";
    EXPECT_FALSE(replaceFileAtomically(entry, "", 0644, FilePermissions::exactly));
    EXPECT_EQ(readWholeFile(entry), "");
    EXPECT_EQ(modeOf(entry), 0644u) << "the umask is overruled";

    ::umask(savedMask);
    EXPECT_EQ(namesIn(file.parent_path()),
              (std::vector<std::string>{"entry.desktop", "settings.json"}));
}

TEST(AtomicFile, AFolderInTheTargetsPlaceStaysAndNoTemporaryIsLeft) {
    TempHome home;
    const fs::path target = home.path() / "folder/target";
    fs::create_directories(target / "inside");

    const auto failed = replaceFileAtomically(target, "contents", 0600);
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->code, std::errc::is_a_directory);
    EXPECT_EQ(failed->path, target);
    EXPECT_TRUE(fs::is_directory(target / "inside"));
    EXPECT_EQ(namesIn(target.parent_path()), std::vector<std::string>{"target"});

    const auto missing = replaceFileAtomically(home.path() / "absent/file", "contents", 0600);
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->code, std::errc::no_such_file_or_directory);
    EXPECT_EQ(missing->path, home.path() / "absent");
}

TEST(AtomicFile, AFolderThatCannotBeWrittenNamesTheFolderAndKeepsTheOldFile) {
    TempHome home;
    const fs::path file = home.makeFile("locked/defaults.json", "old");
    const fs::path folder = file.parent_path();
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);

    const int verdict = waitForChild(runInChild([&] {
        if (::geteuid() == 0 && !dropCapabilities()) {
            return setupFailed;
        }
        return verdictOn(replaceFileAtomically(file, "new", 0600), std::errc::permission_denied,
                         folder, file, "old");
    }));
    ::chmod(folder.c_str(), 0755);
    EXPECT_EQ(verdict, 0);
}

TEST(AtomicFile, AWriteThatFailsPartWayRemovesTheTemporaryAndKeepsTheOldFile) {
    TempHome home;
    const fs::path file = home.makeFile("folder/registry.app", "the old record");

    // A file size limit makes the kernel refuse the write past it (EFBIG once the signal that
    // would otherwise end the process is ignored).
    const int verdict = waitForChild(runInChild([&] {
        const rlimit small{4, 4};
        if (std::signal(SIGXFSZ, SIG_IGN) == SIG_ERR || ::setrlimit(RLIMIT_FSIZE, &small) != 0) {
            return setupFailed;
        }
        return verdictOn(replaceFileAtomically(file, "a record longer than four bytes", 0600),
                         std::errc::file_too_large, file, file, "the old record");
    }));
    EXPECT_EQ(verdict, 0);
}
