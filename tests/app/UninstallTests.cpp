#include "Platform/Services.h"
#include "Platform/backends/simulated/SimulatedDesktop.h"
#include "Platform/base/Log.h"
#include "Platform/control/DesktopControl.h"
#include "Platform/desktop/Application.h"
#include "Platform/system/Bundle.h"
#include "Platform/system/FileManager.h"
#include "Platform/system/UserDirectories.h"
#include "Scrivlet/AppDelegate.h"
#include "tests/support/AppSession.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempHome.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

using namespace scrivlet;

namespace fs = std::filesystem;

namespace {

// Stands in for the real script: it writes down its arguments, one a line.
const std::string recordingScript =
    "#!/bin/sh\nprintf '%s\\n' \"$@\" >\"$HOME/args.tmp\" && mv \"$HOME/args.tmp\" "
    "\"$HOME/script-args\"\n";

std::vector<LogRecord> uninstallRecords(const LogCapture& log) {
    std::vector<LogRecord> records = log.records();
    std::erase_if(records, [](const LogRecord& r) { return r.category != "uninstall"; });
    return records;
}

class FailingPermissions final : public FileManager {
public:
    std::optional<PlatformError> setPosixPermissions(const fs::path& path,
                                                     mode_t /*mode*/) const override {
        return PlatformError{std::make_error_code(std::errc::operation_not_permitted),
                             "Cannot change the permissions of " + path.string()};
    }
};

// Counts the folder the test's bundle is in as the one the system's package installs into.
class PackagedHere final : public FileManager {
public:
    explicit PackagedHere(fs::path folder) : folder_(std::move(folder)) {}
    fs::path systemApplicationsDirectory() const override { return folder_; }

private:
    fs::path folder_;
};

// One run of the app with a bundle that holds a script, ready to be uninstalled.
class UninstallHarness {
public:
    UninstallHarness() { giveBundleScript(recordingScript); }

    AppSession session;
    fs::path bundle = Services::current().mainBundle().bundlePath();
    fs::path autostart = UserDirectories::configHome() / "autostart/com.scrivlet.Scrivlet.desktop";
    fs::path staged = UserDirectories::runtimeDirectory() / "tmp/scrivlet-uninstall.sh";
    fs::path trashedBundle = UserDirectories::dataHome() / "Trash/files/Scrivlet.app";

    void giveBundleScript(const std::string& contents) {
        fs::create_directories(bundle / "Contents/Resources");
        std::ofstream(bundle / "Contents/Resources/uninstall.sh") << contents;
    }

    // Launches, then chooses the menu item and answers the confirmation. The user works in
    // another app meanwhile: the status menu does not bring the app to the front.
    void uninstallAnswering(const std::string& button, const std::vector<std::string>& more = {}) {
        session.launch();
        session.log().clear();
        Services::current().application().setActive(false);
        session.desktop().answerNextAlert(button);
        for (const std::string& answer : more) {
            session.desktop().answerNextAlert(answer);
        }
        ASSERT_TRUE(session.desktop().openStatusMenu());
        ASSERT_TRUE(session.desktop().chooseMenuItem("Uninstall Scrivlet\u2026"));
    }

    // What the started script was given; it runs on its own, so give it a moment.
    std::vector<std::string> scriptArguments() {
        const fs::path file = session.home().path() / "script-args";
        for (int i = 0; i < 500 && !fs::exists(file); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::vector<std::string> lines;
        std::ifstream in(file);
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    std::vector<AlertContents> failureAlerts() {
        auto alerts = session.desktop().shownAlerts();
        alerts.erase(alerts.begin()); // the confirmation
        return alerts;
    }

    void expectNothingChanged() {
        EXPECT_FALSE(session.isTerminated());
        EXPECT_TRUE(fs::exists(autostart)) << "the login item stays";
        EXPECT_TRUE(fs::exists(bundle / "Contents/MacOS/Scrivlet"));
        EXPECT_FALSE(fs::exists(session.home().path() / "script-args"));
    }
};

class Uninstall : public ::testing::Test, protected UninstallHarness {};

TEST_F(Uninstall, CancelChangesNothingAndLogsNothing) {
    uninstallAnswering("Cancel");
    expectNothingChanged();
    EXPECT_FALSE(fs::exists(staged));
    EXPECT_TRUE(session.log().records().empty());
    const auto shown = session.simulatedDesktop().shownAlerts();
    ASSERT_EQ(shown.size(), 1u);
    const AlertContents confirmation{
        AlertStyle::warning,
        "Uninstall Scrivlet?",
        "This removes the app and its system components \u2014 the login item, Finder "
        "extensions, preferences and caches. Your annotations and the Finder tags and comments "
        "already on your files are preserved.",
        {"Uninstall", "Cancel"}};
    EXPECT_EQ(shown[0].contents, confirmation);
    EXPECT_TRUE(shown[0].appWasActive) << "the app comes to the front before it asks";
}

TEST_F(Uninstall, StartsTheScriptUnregistersTrashesAndQuits) {
    uninstallAnswering("Uninstall");
    EXPECT_EQ(scriptArguments(),
              (std::vector<std::string>{"--self", std::to_string(::getpid()), bundle.string()}));
    EXPECT_EQ(readWholeFile(staged), recordingScript);
    EXPECT_EQ(fs::status(staged).permissions(), static_cast<fs::perms>(0755));
    EXPECT_FALSE(fs::exists(autostart));
    EXPECT_FALSE(fs::exists(bundle));
    EXPECT_TRUE(fs::exists(trashedBundle / "Contents/MacOS/Scrivlet"));
    EXPECT_TRUE(session.isTerminated());
    EXPECT_TRUE(session.log().messages("uninstall").empty());
    EXPECT_EQ(session.desktop().shownAlerts().size(), 1u);
}

// Whatever an earlier attempt (or someone else) left at the staged path is replaced, and
// what a planted link points to is never written.
TEST(UninstallStaging, ReplacesWhatStandsAtTheStagedPath) {
    for (const bool plantLink : {false, true}) {
        SCOPED_TRACE(plantLink ? "a planted link" : "an old copy");
        UninstallHarness t;
        const fs::path victim = t.session.home().path() / "victim.txt";
        std::ofstream(victim) << "keep me";
        // The private temporary folder as the app makes it: the runtime folders above it are
        // checked too.
        ASSERT_FALSE(UserDirectories::ensurePrivateDirectory(t.staged.parent_path()));
        if (plantLink) {
            fs::create_symlink(victim, t.staged);
        } else {
            std::ofstream(t.staged) << "#!/bin/sh\necho old\n";
        }
        t.uninstallAnswering("Uninstall");
        EXPECT_EQ(readWholeFile(victim), "keep me");
        EXPECT_FALSE(fs::is_symlink(t.staged));
        EXPECT_EQ(readWholeFile(t.staged), recordingScript);
        EXPECT_EQ(t.scriptArguments().size(), 3u);
        EXPECT_TRUE(t.session.isTerminated());
    }
}

TEST(FileManagerCopy, NeverWritesThroughALinkAtTheDestination) {
    TempHome home;
    const fs::path source = home.makeFile("source", "new");
    const fs::path victim = home.makeFile("victim", "keep me");
    fs::create_symlink(victim, home.path() / "link");
    FileManager fileManager;
    const auto error = fileManager.copyItem(source, home.path() / "link");
    ASSERT_TRUE(error);
    EXPECT_NE(error->localizedDescription.find((home.path() / "link").string()), std::string::npos);
    EXPECT_EQ(readWholeFile(victim), "keep me");
    EXPECT_TRUE(fileManager.setPosixPermissions(home.path() / "link", 0777));
    EXPECT_EQ(fs::status(victim).permissions() & fs::perms::others_write, fs::perms::none);
}

TEST_F(Uninstall, FailuresBeforeTheScriptRunsExplainAndChangeNothing) {
    struct Case {
        const char* name;
        std::function<void(UninstallHarness&)> arrange;
        std::string logLinePrefix;
        std::string informativeText;
    };
    const std::vector<Case> cases = {
        {"no script in the bundle",
         [](UninstallHarness& t) { fs::remove(t.bundle / "Contents/Resources/uninstall.sh"); },
         "uninstall.sh missing from bundle",
         "The uninstaller script is missing from the app bundle."},
        {"permissions that cannot be set",
         [](UninstallHarness& t) {
             t.session.services().setFileManager(std::make_unique<FailingPermissions>());
         },
         "Failed to stage uninstall script: Cannot change the permissions of",
         "Couldn't prepare the uninstaller. Nothing was changed."},
        {"no private temporary folder",
         [](UninstallHarness& t) {
             std::ofstream(t.staged.parent_path()) << "a file, not a folder";
         },
         "Failed to stage uninstall script: ",
         "Couldn't prepare the uninstaller. Nothing was changed."},
        {"a script that cannot be started",
         [](UninstallHarness& t) { t.giveBundleScript("#!/nonexistent/interpreter\n"); },
         "Failed to launch uninstaller: Cannot start ",
         "Couldn't start the uninstaller. Nothing was changed."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UninstallHarness test;
        test.session.launch();
        c.arrange(test);
        test.session.log().clear();
        test.session.services().application().setActive(false);
        test.session.desktop().answerNextAlert("Uninstall");
        test.session.desktop().answerNextAlert("OK");
        ASSERT_TRUE(test.session.desktop().openStatusMenu());
        ASSERT_TRUE(test.session.desktop().chooseMenuItem("Uninstall Scrivlet\u2026"));

        test.expectNothingChanged();
        const auto records = test.session.log().records();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].category, "uninstall");
        EXPECT_EQ(records[0].level, LogLevel::Error);
        EXPECT_TRUE(records[0].message.starts_with(c.logLinePrefix)) << records[0].message;
        const AlertContents expected{
            AlertStyle::warning, "Uninstall failed", c.informativeText, {"OK"}};
        EXPECT_EQ(test.failureAlerts(), std::vector<AlertContents>{expected});
        EXPECT_EQ(test.session.desktop().unansweredAlertCount(), 0u);
        for (const auto& alert : test.session.simulatedDesktop().shownAlerts()) {
            EXPECT_TRUE(alert.appWasActive) << alert.contents.messageText;
        }
    }
}

TEST_F(Uninstall, AFailedUnregisterStillTrashesAndQuits) {
    session.launch();
    fs::remove(autostart);
    fs::create_directories(autostart / "in-the-way"); // a folder cannot be unlinked
    session.desktop().answerNextAlert("Uninstall");
    ASSERT_TRUE(session.desktop().openStatusMenu());
    session.log().clear();
    ASSERT_TRUE(session.desktop().chooseMenuItem("Uninstall Scrivlet\u2026"));

    const auto records = uninstallRecords(session.log());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, LogLevel::Error);
    EXPECT_TRUE(records[0].message.starts_with("unregister failed (continuing): "))
        << records[0].message;
    EXPECT_TRUE(fs::exists(trashedBundle));
    EXPECT_TRUE(session.isTerminated());
}

// The app cannot know whether the script's own attempt will succeed later: the user hears of
// the bundle left behind, with what to do about it, before the app quits.
TEST_F(Uninstall, AFailedTrashIsLoggedToldAndTheAppStillQuits) {
    session.launch();
    std::ofstream(UserDirectories::dataHome() / "Trash") << "not a folder";
    session.desktop().answerNextAlert("Uninstall");
    session.desktop().answerNextAlert("OK");
    ASSERT_TRUE(session.desktop().openStatusMenu());
    session.log().clear();
    ASSERT_TRUE(session.desktop().chooseMenuItem("Uninstall Scrivlet\u2026"));

    const auto records = uninstallRecords(session.log());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, LogLevel::Error);
    EXPECT_TRUE(records[0].message.starts_with(
        "Couldn't Trash bundle (script will retry): Could not move " + bundle.string()))
        << records[0].message;
    const auto alerts = failureAlerts();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].messageText, "Scrivlet couldn't be moved to the Trash");
    EXPECT_EQ(alerts[0].style, AlertStyle::warning);
    for (const std::string& part : {bundle.string() + "\n", "Could not move " + bundle.string(),
                                    std::string("sudo apt remove scrivlet")}) {
        EXPECT_NE(alerts[0].informativeText.find(part), std::string::npos) << part;
    }
    EXPECT_EQ(session.desktop().unansweredAlertCount(), 0u);
    EXPECT_TRUE(fs::exists(bundle));
    EXPECT_FALSE(fs::exists(autostart));
    EXPECT_TRUE(session.isTerminated());
    EXPECT_EQ(scriptArguments().size(), 3u);
}

// A packaged bundle is the package manager's: the per-user parts go, the bundle stays where
// it is (not even tried, so a user who could move it does not take it from the package), and
// the user learns the command that removes it.
TEST_F(Uninstall, APackagedBundleStaysAndTheUserLearnsThePackageCommand) {
    session.launch();
    session.services().setFileManager(std::make_unique<PackagedHere>(bundle.parent_path()));
    session.desktop().answerNextAlert("Uninstall");
    session.desktop().answerNextAlert("OK");
    ASSERT_TRUE(session.desktop().openStatusMenu());
    session.log().clear();
    ASSERT_TRUE(session.desktop().chooseMenuItem("Uninstall Scrivlet\u2026"));

    EXPECT_EQ(session.log().messages("uninstall"),
              std::vector<std::string>{"Bundle belongs to the system package; left in place"});
    const auto alerts = failureAlerts();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].messageText, "Scrivlet's package is still installed");
    EXPECT_NE(alerts[0].informativeText.find(bundle.string()), std::string::npos);
    EXPECT_TRUE(alerts[0].informativeText.ends_with("\n\nsudo apt remove scrivlet"))
        << alerts[0].informativeText;
    EXPECT_TRUE(fs::exists(bundle / "Contents/MacOS/Scrivlet"));
    EXPECT_FALSE(fs::exists(trashedBundle));
    EXPECT_FALSE(fs::exists(autostart));
    EXPECT_EQ(scriptArguments().size(), 3u) << "the script still removes the per-user parts";
    EXPECT_TRUE(session.isTerminated());
}

} // namespace
