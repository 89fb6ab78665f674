// The uninstall script, run for real in a temporary home laid out as after an install and
// some use: it removes what belongs to the app and keeps the user's data byte for byte.
#include "tests/support/ChildProcess.h"
#include "tests/support/TempHome.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <sys/wait.h>
#include <sys/xattr.h>

using namespace scrivlet;

namespace fs = std::filesystem;

namespace {

struct ScriptRun {
    int status = -1;
    std::string output;
};

ScriptRun runScript(const std::vector<std::string>& arguments) {
    std::string command = "sh '" SCRIVLET_UNINSTALL_SCRIPT "'";
    for (const std::string& argument : arguments) {
        command += " '" + argument + "'"; // test paths hold no quote
    }
    command += " 2>&1";
    ScriptRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    std::array<char, 4096> buffer{};
    while (pipe != nullptr && std::fgets(buffer.data(), buffer.size(), pipe) != nullptr) {
        run.output += buffer.data();
    }
    if (pipe != nullptr) {
        const int status = ::pclose(pipe);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return run;
}

std::optional<std::string> attribute(const fs::path& file, const char* name) {
    std::array<char, 1024> value{};
    const ssize_t size = ::getxattr(file.c_str(), name, value.data(), value.size());
    return size < 0 ? std::nullopt : std::optional<std::string>(std::string(value.data(), size));
}

class UninstallScript : public ::testing::Test {
protected:
    TempHome home;
    fs::path bundle = home.path() / "Applications/Scrivlet.app";
    std::vector<fs::path> removed;
    std::map<fs::path, std::string> kept;
    fs::path annotated = home.path() / "Documents/report.txt";
    bool attributesWork = false;

    void SetUp() override {
        home.makeFile("Applications/Scrivlet.app/Contents/Info.json",
                      R"({"CFBundleIdentifier": "com.scrivlet.Scrivlet"})");
        home.makeFile("Applications/Scrivlet.app/Contents/MacOS/Scrivlet", "binary");
        for (const char* relative : {".config/autostart/com.scrivlet.Scrivlet.desktop",
                                     ".local/share/applications/com.scrivlet.Scrivlet.desktop",
                                     ".local/share/scrivlet/extensions/"
                                     "com.scrivlet.Scrivlet.FinderSync.json",
                                     ".config/scrivlet/com.scrivlet.Scrivlet.json",
                                     ".config/plasma-workspace/env/scrivlet-file-manager.sh",
                                     ".cache/com.scrivlet.Scrivlet/badges/annotated.png"}) {
            removed.push_back(home.makeFile(relative, "ours"));
        }
        // The user's data: the store and its companions, the badge queue, other handlers and
        // other apps' autostart entries, and an annotated file with its attributes.
        for (const char* relative : {".local/share/com.scrivlet.shared/annotations.sqlite",
                                     ".local/share/com.scrivlet.shared/annotations.sqlite-wal",
                                     ".local/share/com.scrivlet.shared/badge-queue",
                                     ".config/autostart/other.desktop", "Documents/report.txt"}) {
            kept[home.makeFile(relative, std::string("data of ") + relative + '\0' + "\xff")] = "";
        }
        for (auto& [path, contents] : kept) {
            contents = readWholeFile(path);
        }
        home.makeFile(".config/mimeapps.list",
                      "[Default Applications]\nx-scheme-handler/scrivlet=com.scrivlet.Scrivlet."
                      "desktop\ntext/plain=editor.desktop\n");
        attributesWork = ::setxattr(annotated.c_str(), "user.xdg.tags", "red,work", 8, 0) == 0 &&
                         ::setxattr(annotated.c_str(), "user.xdg.comment", "note", 4, 0) == 0;
    }
};

TEST_F(UninstallScript, RemovesTheAppsPartsKeepsTheUsersDataAndASecondRunIsANoOp) {
    const pid_t ended = runInChild([] { return 0; });
    waitForChild(ended);
    const ScriptRun first = runScript({"--self", std::to_string(ended), bundle.string()});
    EXPECT_EQ(first.status, 0) << first.output;
    for (const fs::path& path : removed) {
        EXPECT_FALSE(fs::exists(path)) << path;
    }
    EXPECT_FALSE(fs::exists(bundle));
    EXPECT_TRUE(fs::exists(home.path() / ".local/share/Trash/files/Scrivlet.app/Contents"));
    EXPECT_TRUE(readWholeFile(home.path() / ".local/share/Trash/info/Scrivlet.app.trashinfo")
                    .starts_with("[Trash Info]\nPath=" + bundle.string() + "\nDeletionDate="));
    EXPECT_EQ(readWholeFile(home.path() / ".config/mimeapps.list"),
              "[Default Applications]\ntext/plain=editor.desktop\n");
    for (const auto& [path, contents] : kept) {
        EXPECT_EQ(readWholeFile(path), contents) << path;
    }
    if (attributesWork) {
        EXPECT_EQ(attribute(annotated, "user.xdg.tags"), "red,work");
        EXPECT_EQ(attribute(annotated, "user.xdg.comment"), "note");
    }
    EXPECT_NE(first.output.find("Removed the login item"), std::string::npos) << first.output;
    EXPECT_NE(first.output.find("Moved " + bundle.string() + " to the Trash"), std::string::npos);

    const ScriptRun second = runScript({bundle.string()});
    EXPECT_EQ(second.status, 0) << second.output;
    EXPECT_EQ(second.output, "Nothing to remove: Scrivlet is already uninstalled\n");
}

TEST_F(UninstallScript, RefusesWhatIsNotAScrivletBundle) {
    const ScriptRun wrongArguments = runScript({"--self", "not-a-pid", bundle.string()});
    EXPECT_EQ(wrongArguments.status, 2);
    const fs::path other = home.path() / "Applications/Other.app";
    home.makeFile("Applications/Other.app/Contents/Info.json", R"({"CFBundleIdentifier": "x"})");
    const ScriptRun foreign = runScript({other.string()});
    EXPECT_EQ(foreign.status, 1) << foreign.output;
    EXPECT_TRUE(fs::exists(other));
    EXPECT_TRUE(fs::exists(bundle)) << "only the named bundle is looked at";
}

} // namespace
