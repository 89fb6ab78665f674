#include "Platform/system/LoginItemService.h"
#include "Platform/system/UserDirectories.h"
#include "tests/support/TempHome.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>

using namespace scrivlet;

namespace fs = std::filesystem;

namespace {

constexpr const char* identifier = "com.scrivlet.Scrivlet";

// The app's executable, put at `path` below the temporary home.
fs::path installedApp(const fs::path& path = "/opt/Scrivlet/bin/scrivlet") {
    const fs::path executable = UserDirectories::home() / path.relative_path();
    fs::create_directories(executable.parent_path());
    std::ofstream(executable) << "#!/bin/sh\n";
    fs::permissions(executable, fs::perms::owner_all);
    return executable;
}

LoginItemService makeService(const fs::path& executable,
                             const std::string& displayName = "Scrivlet") {
    return LoginItemService(identifier, executable, displayName);
}

LoginItemService makeService() {
    return makeService(installedApp());
}

// An Exec value as the entry writes it for an app installed below the temporary home.
std::string execBelowHome(std::string exec) {
    const std::size_t slash = exec.find('/');
    return exec.replace(slash, 1, UserDirectories::home().string() + "/");
}

std::string lineStarting(const std::string& text, const std::string& prefix) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with(prefix)) {
            return line.substr(prefix.size());
        }
    }
    return "<no " + prefix + " line>";
}

std::size_t entriesIn(const fs::path& folder) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), {}));
}

TEST(LoginItemService, RegisterWritesAnAutostartEntryAndUnregisterRemovesIt) {
    TempHome home;
    LoginItemService service = makeService();
    const fs::path entry = home.path() / ".config/autostart/com.scrivlet.Scrivlet.desktop";
    EXPECT_EQ(service.entryPath(), entry);
    EXPECT_EQ(service.status(), LoginItemService::Status::notRegistered);
    EXPECT_FALSE(service.unregisterItem()) << "nothing to remove, not even the folder";

    ASSERT_FALSE(service.registerItem());
    const std::string text = readWholeFile(entry);
    EXPECT_TRUE(text.starts_with("[Desktop Entry]\n"));
    for (const auto& [key, value] :
         {std::pair<std::string, std::string>{"Type=", "Application"},
          {"Name=", "Scrivlet"},
          {"Exec=", home.path().string() + "/opt/Scrivlet/bin/scrivlet"},
          {"TryExec=", home.path().string() + "/opt/Scrivlet/bin/scrivlet"},
          {"X-GNOME-Autostart-enabled=", "true"},
          {"NoDisplay=", "true"}}) {
        EXPECT_EQ(lineStarting(text, key), value);
    }
    EXPECT_EQ(service.status(), LoginItemService::Status::enabled);
    EXPECT_EQ(entriesIn(entry.parent_path()), 1u) << "no temporary file left behind";

    ASSERT_FALSE(service.unregisterItem());
    EXPECT_FALSE(fs::exists(entry));
    EXPECT_EQ(service.status(), LoginItemService::Status::notRegistered);
}

TEST(LoginItemService, RegisteringAnUnchangedEntryLeavesTheFileAloneAndAChangedOneIsReplaced) {
    TempHome home;
    ASSERT_FALSE(makeService().registerItem());
    const fs::path entry = makeService().entryPath();
    const auto old = fs::last_write_time(entry) - std::chrono::hours(24);
    fs::last_write_time(entry, old);
    struct stat before {};
    ASSERT_EQ(::stat(entry.c_str(), &before), 0);

    ASSERT_FALSE(makeService().registerItem());
    struct stat after {};
    ASSERT_EQ(::stat(entry.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(fs::last_write_time(entry), old);

    // The app moved: the entry must follow it, replaced by rename rather than rewritten.
    ASSERT_FALSE(makeService(installedApp("/usr/local/bin/scrivlet")).registerItem());
    ASSERT_EQ(::stat(entry.c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode & 0777, 0644u);
    EXPECT_EQ(lineStarting(readWholeFile(entry), "Exec="),
              home.path().string() + "/usr/local/bin/scrivlet");
    EXPECT_EQ(entriesIn(entry.parent_path()), 1u);
}

TEST(LoginItemService, ExecAndNameSurviveTheLaunchersQuotingAndEscapes) {
    TempHome home;
    const struct {
        const char* executable;
        const char* exec;
    } cases[] = {
        {"/home/u/My Apps/scrivlet", R"("/home/u/My Apps/scrivlet")"},
        {"/opt/100%/scrivlet", "/opt/100%%/scrivlet"},
        {"/opt/a$b`c\"d/x", R"("/opt/a\\$b\\`c\\"d/x")"},
        {"/opt/back\\slash", R"("/opt/back\\\\slash")"},
        {"/opt/two\nlines", R"("/opt/two\nlines")"},
        {"/opt/it's 50%", R"("/opt/it's 50%%")"},
        {"/opt/plain=ok,fine", "/opt/plain=ok,fine"},
    };
    for (const auto& c : cases) {
        LoginItemService service = makeService(installedApp(c.executable));
        ASSERT_FALSE(service.registerItem()) << c.executable;
        EXPECT_EQ(lineStarting(readWholeFile(service.entryPath()), "Exec="), execBelowHome(c.exec));
    }

    LoginItemService named = makeService(installedApp("/opt/scrivlet"), " Scrivlet\\Beta\nNext");
    ASSERT_FALSE(named.registerItem());
    EXPECT_EQ(lineStarting(readWholeFile(named.entryPath()), "Name="), R"(\sScrivlet\\Beta\nNext)");
}

TEST(LoginItemService, StatusHonoursAnEntryTheDesktopSwitchedOff) {
    TempHome home;
    LoginItemService service = makeService();
    const std::string relative = ".config/autostart/com.scrivlet.Scrivlet.desktop";
    const std::string head = "[Desktop Entry]\nType=Application\nExec=/opt/scrivlet\n";

    home.makeFile(relative, head + "X-GNOME-Autostart-enabled = false\n");
    EXPECT_EQ(service.status(), LoginItemService::Status::notRegistered);
    home.makeFile(relative, head + "Hidden=true\n");
    EXPECT_EQ(service.status(), LoginItemService::Status::notRegistered);
    home.makeFile(relative, head + "[Desktop Action x]\nHidden=true\n");
    EXPECT_EQ(service.status(), LoginItemService::Status::enabled);
    home.makeFile(relative, "Hidden=false\n");
    EXPECT_EQ(service.status(), LoginItemService::Status::notRegistered) << "not an entry";

    // Registering again at launch keeps the user's choice and says why it did nothing.
    home.makeFile(relative, head + "Hidden=true\n");
    const auto refused = service.registerItem();
    ASSERT_TRUE(refused);
    EXPECT_NE(refused->localizedDescription.find("turned off"), std::string::npos);
    EXPECT_EQ(readWholeFile(home.path() / relative), head + "Hidden=true\n");
    EXPECT_EQ(service.status(), LoginItemService::Status::notRegistered);

    // Once the user removes the switched-off entry, registration works again.
    std::filesystem::remove(home.path() / relative);
    ASSERT_FALSE(service.registerItem());
    EXPECT_EQ(service.status(), LoginItemService::Status::enabled);
}

TEST(LoginItemService, FailuresNameThePathAndTheReason) {
    TempHome home;
    LoginItemService service = makeService();
    const fs::path autostart = home.makeFile(".config/autostart", "not a folder");
    auto error = service.registerItem();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, std::errc::not_a_directory);
    EXPECT_EQ(error->localizedDescription, "Could not register Scrivlet to open at login: " +
                                               autostart.string() + " is not a folder");
    EXPECT_EQ(service.status(), LoginItemService::Status::notRegistered);
    EXPECT_FALSE(service.unregisterItem()) << "no folder means no entry";

    // The description names whichever part of the path is in the way.
    fs::remove(autostart);
    fs::remove(home.path() / ".config");
    const fs::path config = home.makeFile(".config", "");
    error = service.registerItem();
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->localizedDescription.ends_with(config.string() + " is not a folder"));

    fs::remove(config);
    fs::create_directories(service.entryPath());
    error = service.registerItem();
    ASSERT_TRUE(error);
    EXPECT_TRUE(
        error->localizedDescription.ends_with(service.entryPath().string() + " is a folder"));
    error = service.unregisterItem();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->localizedDescription, "Could not stop Scrivlet from opening at login: " +
                                               service.entryPath().string() + " is a folder");
}

TEST(LoginItemService, RefusesIdentifiersAndLocationsThatCannotMakeAnEntry) {
    TempHome home;
    for (const std::string bad : {"", "../com.scrivlet", "com/scrivlet"}) {
        LoginItemService service(bad, "/opt/scrivlet", "Scrivlet");
        EXPECT_TRUE(service.entryPath().empty());
        EXPECT_EQ(service.status(), LoginItemService::Status::notRegistered);
        for (const auto& error : {service.registerItem(), service.unregisterItem()}) {
            ASSERT_TRUE(error) << bad;
            EXPECT_EQ(error->code, std::errc::invalid_argument);
            EXPECT_NE(error->localizedDescription.find("\"" + bad + "\""), std::string::npos);
        }
    }
    // Run from outside a complete bundle, the app must not register an Exec that names
    // nothing: that entry would fail silently at every login.
    const fs::path notExecutable = home.makeFile("Apps/Scrivlet.app/Contents/MacOS/Scrivlet");
    const fs::path folder = home.path() / "Apps";
    const fs::path missing = home.path() / "Apps/gone/Scrivlet";
    for (const auto& [executable, code] :
         {std::pair{fs::path("bin/scrivlet"), std::errc::invalid_argument},
          {fs::path("/opt/\xff/scrivlet"), std::errc::illegal_byte_sequence},
          {fs::path("/opt/bell\a/scrivlet"), std::errc::illegal_byte_sequence},
          {missing, std::errc::no_such_file_or_directory},
          {folder, std::errc::no_such_file_or_directory},
          {notExecutable, std::errc::no_such_file_or_directory}}) {
        const auto error = makeService(executable).registerItem();
        ASSERT_TRUE(error) << executable;
        EXPECT_EQ(error->code, code) << executable;
    }
    EXPECT_FALSE(fs::exists(home.path() / ".config/autostart")) << "nothing written when refused";
}

} // namespace
