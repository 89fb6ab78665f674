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
using namespace std::string_literals;

namespace fs = std::filesystem;

namespace {

struct ScriptRun {
    int status = -1;
    std::string output;
};

// Runs the script as a user would, through its own interpreter line. `fakeTools`, when given,
// comes first on PATH so that a test can put failing stand-ins in place of the tools it uses.
ScriptRun runScript(const std::vector<std::string>& arguments, const fs::path& fakeTools = {}) {
    std::string command;
    if (!fakeTools.empty()) {
        command = "PATH='" + fakeTools.string() + "':\"$PATH\" ";
    }
    command += "'" SCRIVLET_UNINSTALL_SCRIPT "'";
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

// The path is checked before anything is removed: a refused one leaves the login item, the
// URL handler and every registration in place, and a link is refused even when it leads to
// the bundle (moving it would leave the app behind, following it would trash a place the
// user did not name).
TEST_F(UninstallScript, ARefusedBundleLeavesEverythingInPlace) {
    const fs::path mimeapps = home.path() / ".config/mimeapps.list";
    const std::string mimeappsBefore = readWholeFile(mimeapps);
    const fs::path foreign = home.path() / "Applications/Other.app";
    home.makeFile("Applications/Other.app/Contents/Info.json", R"({"CFBundleIdentifier": "x"})");
    const fs::path plainFile = home.makeFile("Applications/Plain.app", "not a folder");
    const fs::path link = home.path() / "Desktop/Scrivlet.app";
    const fs::path dangling = home.path() / "Desktop/Gone.app";
    fs::create_directories(link.parent_path());
    fs::create_directory_symlink(bundle, link);
    fs::create_directory_symlink(home.path() / "Applications/Gone.app", dangling);
    const pid_t ended = runInChild([] { return 0; });
    waitForChild(ended);
    const struct {
        const char* name;
        std::vector<std::string> arguments;
        fs::path named;
    } cases[] = {
        {"another app's bundle", {foreign.string()}, foreign},
        {"another app's bundle, from the app",
         {"--self", std::to_string(ended), foreign.string()},
         foreign},
        {"a plain file", {plainFile.string()}, plainFile},
        {"a link to the bundle", {link.string()}, link},
        {"a dangling link", {dangling.string()}, dangling},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        const ScriptRun run = runScript(row.arguments);
        EXPECT_EQ(run.status, 1) << run.output;
        EXPECT_NE(run.output.find("Left " + row.named.string() + " alone: "), std::string::npos)
            << run.output;
        EXPECT_NE(run.output.find("Nothing was removed."), std::string::npos) << run.output;
        for (const fs::path& path : removed) {
            EXPECT_TRUE(fs::exists(path)) << path;
        }
        EXPECT_EQ(readWholeFile(mimeapps), mimeappsBefore);
        EXPECT_TRUE(fs::exists(fs::symlink_status(row.named)));
        EXPECT_TRUE(fs::exists(bundle / "Contents/Info.json"));
        EXPECT_FALSE(fs::exists(home.path() / ".local/share/Trash"));
    }
}

// "Moved ... to the Trash" is said only of a bundle that has left its place and arrived in
// the trash. A tool that fails, or claims a move that did not happen, ends in a failure line
// and status 1, with the bundle still in its place and no trash entry without its item.
TEST_F(UninstallScript, ATrashStepThatFailsIsNeverReportedAsDone) {
    const fs::path tools = home.path() / "stand-ins";
    const fs::path trash = home.path() / ".local/share/Trash";
    // The mv stand-ins act only on the move into the trash: mv -T -- BUNDLE TARGET.
    const std::string intoTrash = "#!/bin/sh\ncase \"$4\" in */Trash/files/*) ";
    const std::string otherMoves = " ;; esac\nexec /bin/mv \"$@\"\n";
    const struct {
        const char* name;
        const char* tool;
        std::string script;
    } cases[] = {
        {"awk fails", "awk", "#!/bin/sh\nexit 1\n"},
        {"awk answers nothing", "awk", "#!/bin/sh\ncat >/dev/null\n"},
        {"mv fails", "mv", intoTrash + "exit 1" + otherMoves},
        {"mv claims a move it did not make", "mv", intoTrash + "exit 0" + otherMoves},
        {"mv copies and keeps the bundle", "mv",
         intoTrash + "cp -a \"$3\" \"$4\"; exit 0" + otherMoves},
    };
    auto expectNothingClaimed = [&](const ScriptRun& run) {
        EXPECT_EQ(run.status, 1) << run.output;
        EXPECT_EQ(run.output.find("Moved"), std::string::npos) << run.output;
        EXPECT_NE(run.output.find("Could not move " + bundle.string() + " to the Trash"),
                  std::string::npos)
            << run.output;
        EXPECT_TRUE(fs::exists(bundle / "Contents/Info.json"));
        if (fs::is_directory(fs::symlink_status(trash / "info"))) {
            for (const auto& info : fs::directory_iterator(trash / "info")) {
                EXPECT_TRUE(fs::exists(trash / "files" / info.path().stem())) << info.path();
            }
        }
    };
    // Only the named tool stands in; sleep does too, so that the retries need not wait here.
    auto useStandIn = [&](const std::string& tool, const std::string& script) {
        fs::remove_all(tools);
        for (const auto& [name, contents] :
             {std::pair{std::string("sleep"), "#!/bin/sh\n"s}, std::pair{tool, script}}) {
            fs::permissions(home.makeFile("stand-ins/" + name, contents), fs::perms::owner_all);
        }
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        useStandIn(row.tool, row.script);
        expectNothingClaimed(runScript({bundle.string()}, tools));
    }
    {
        SCOPED_TRACE("an info folder that takes no new file");
        fs::remove_all(trash);
        fs::create_directories(trash / "files");
        fs::create_directory_symlink("/proc", trash / "info");
        useStandIn("sleep", "#!/bin/sh\n");
        expectNothingClaimed(runScript({bundle.string()}, tools));
    }
    fs::remove_all(trash);
    const ScriptRun real = runScript({bundle.string()});
    EXPECT_EQ(real.status, 0) << real.output;
    EXPECT_EQ(real.output, "Moved " + bundle.string() + " to the Trash\n");
}

// A bundle the package manager installed is left to it: the per-user parts still go, the
// bundle stays, and the script fails naming every package that owns it in the removal command.
TEST_F(UninstallScript, APackagedBundleStaysAndTheScriptNamesThePackageCommand) {
    const std::string path = bundle.string();
    fs::permissions(home.makeFile("stand-ins/dpkg-query",
                                  "#!/bin/sh\n[ \"$1 $3\" = '-S " + path + "' ] || exit 1\n" +
                                      "echo 'diversion by other from: " + path + "'\n" +
                                      "echo 'scrivlet, scrivlet-dolphin: " + path + "'\n"),
                    fs::perms::owner_all);
    const ScriptRun run = runScript({path}, home.path() / "stand-ins");
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("installed it (package scrivlet scrivlet-dolphin). Remove it with: "
                              "sudo apt remove scrivlet scrivlet-dolphin\n"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(run.output.find("Moved"), std::string::npos) << run.output;
    EXPECT_TRUE(fs::exists(bundle / "Contents/MacOS/Scrivlet"));
    EXPECT_FALSE(fs::exists(home.path() / ".local/share/Trash/files"));
    for (const fs::path& removedPath : removed) {
        EXPECT_FALSE(fs::exists(removedPath)) << removedPath;
    }
    for (const auto& [keptPath, contents] : kept) {
        EXPECT_EQ(readWholeFile(keptPath), contents) << keptPath;
    }
}

} // namespace
