#include "Platform/Services.h"
#include "Platform/backends/simulated/SimulatedDesktop.h"
#include "Platform/base/Log.h"
#include "Platform/control/DesktopControl.h"
#include "Platform/desktop/Application.h"
#include "Platform/system/FileManager.h"
#include "Scrivlet/AppDelegate.h"
#include "tests/support/AppSession.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempHome.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

using namespace scrivlet;

namespace fs = std::filesystem;

namespace {

constexpr const char* quitButton = "Quit and Reveal in Finder";
constexpr const char* openButton = "Open Anyway";

std::string informativeTextFor(const fs::path& directory) {
    return "Scrivlet should run from your Applications folder so that auto-start, the Finder "
           "extension, and uninstall work reliably. Drag Scrivlet onto the Applications "
           "shortcut, then open it from there.\n\nIt's currently running from:\n\n" +
           directory.string();
}

// Where the bundle is (relative paths below the home) and whether the app must ask.
struct Place {
    const char* name;
    fs::path bundle;
    bool asks;
};

TEST(InstallLocation, AsksOnlyOutsideAnApplicationsFolder) {
    // The system's folder is the one the package installs into.
    const fs::path system = FileManager().systemApplicationsDirectory();
    const std::vector<Place> places = {
        {"the system's Applications folder", system / "Scrivlet.app", false},
        {"the user's Applications folder", "Applications/Scrivlet.app", false},
        {"the user's folder, spelled the long way", "Applications//./Scrivlet.app", false},
        {"the system's folder, spelled the long way", system / "." / "Scrivlet.app", false},
        {"a subfolder of the system's folder", system / "Tools/Scrivlet.app", true},
        {"the macOS folder, which means nothing here", "/Applications/Scrivlet.app", true},
        {"a subfolder of the user's folder", "Applications/Tools/Scrivlet.app", true},
        {"Downloads", "Downloads/Scrivlet.app", true},
        {"a link to the user's folder (not resolved)", "Linked/Scrivlet.app", true},
    };
    for (const Place& place : places) {
        SCOPED_TRACE(place.name);
        AppSession session(place.bundle);
        fs::create_directories(session.home().path() / "Applications");
        fs::remove_all(session.home().path() / "Linked");
        fs::create_symlink(session.home().path() / "Applications",
                           session.home().path() / "Linked");
        session.desktop().answerNextAlert(openButton);
        session.launch();
        EXPECT_EQ(session.desktop().shownAlerts().size(), place.asks ? 1u : 0u);
        EXPECT_EQ(session.log().messages("install").size(), place.asks ? 1u : 0u);
        EXPECT_FALSE(session.isTerminated());
        EXPECT_TRUE(session.delegate()->store);
    }
}

TEST(InstallLocation, OpenAnywayContinuesAndLogsTheFolderPrivately) {
    AppSession session("Downloads/Scrivlet.app");
    session.desktop().answerNextAlert(openButton);
    session.launch();

    const auto alerts = session.simulatedDesktop().shownAlerts();
    ASSERT_EQ(alerts.size(), 1u);
    const AlertContents expected{AlertStyle::warning,
                                 "Move Scrivlet to the Applications folder",
                                 informativeTextFor(session.home().path() / "Downloads"),
                                 {quitButton, openButton}};
    EXPECT_EQ(alerts[0].contents, expected);
    EXPECT_TRUE(alerts[0].appWasActive) << "the app comes to the front before it asks";

    const auto records = session.log().records();
    const auto install = std::find_if(records.begin(), records.end(),
                                      [](const LogRecord& r) { return r.category == "install"; });
    ASSERT_NE(install, records.end());
    EXPECT_EQ(install->message, "User chose to run from <private> without moving");
    EXPECT_EQ(install->level, LogLevel::Info);
    EXPECT_EQ(session.log().messages("app").front(), "Launch started");
    EXPECT_TRUE(session.delegate()->statusItem);

    // The answer is not remembered: the check asks again.
    session.desktop().answerNextAlert(openButton);
    EXPECT_TRUE(session.delegate()->checkInstallLocation());
    EXPECT_EQ(session.desktop().shownAlerts().size(), 2u);
}

TEST(InstallLocation, QuitAndRevealShowsTheBundleInFinderAndEndsBeforeTheStore) {
    AppSession session("Downloads/Scrivlet.app");
    session.desktop().answerNextAlert(quitButton);
    session.launch();

    EXPECT_TRUE(session.isTerminated());
    EXPECT_EQ(session.services().application().terminationRequestCount(), 1);
    EXPECT_TRUE(session.log().messages("app").empty());
    EXPECT_EQ(session.log().messages("install"),
              std::vector<std::string>{"User chose to quit and move the app from <private>"});
    EXPECT_FALSE(fs::exists(session.home().storePath()));
    const std::string bundle = (session.home().path() / "Downloads/Scrivlet.app").string();
    EXPECT_EQ(session.simulatedDesktop().finder().selection(), std::vector<std::string>{bundle});
}

TEST(InstallLocation, AURLArrivingDuringTheAlertIsQueuedUntilTheStoreIsOpen) {
    AppSession session("Downloads/Scrivlet.app");
    const URL url = *URL::fromString("scrivlet://annotate?path=/tmp/a.txt");
    session.desktop().answerNextAlert(openButton,
                                      [&] { Services::current().application().openURLs({url}); });
    session.launch();
    const auto lines = session.log().messages("app");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "URL received before init, queuing 1 URL(s)");
    // Handled once the launch is over, after the "Ready" line.
    const auto processing = std::find(lines.begin(), lines.end(), "Processing 1 queued URL(s)");
    ASSERT_NE(processing, lines.end());
    EXPECT_EQ(*(processing - 1), "Ready. Listening for Finder events and URL scheme requests.");
    ASSERT_NE(processing + 1, lines.end());
    EXPECT_EQ(*(processing + 1), "URL received: scrivlet://annotate?path=/tmp/a.txt");
    EXPECT_TRUE(session.delegate()->pendingURLs.empty());
}

TEST(InstallLocation, AnUnansweredAlertIsReportedAndDoesNotHang) {
    AppSession session("Downloads/Scrivlet.app");
    session.launch();
    EXPECT_EQ(session.desktop().unansweredAlertCount(), 1u);
    EXPECT_FALSE(session.isTerminated()) << "no answer is not a choice to quit";
}

TEST(InstallLocation, AllowedFoldersAreThePackagesThenTheUsersWhichIsNotCreated) {
    AppSession session;
    fs::remove_all(session.home().path() / "Applications");
    const std::vector<fs::path> expected = {FileManager().systemApplicationsDirectory(),
                                            session.home().path() / "Applications"};
    EXPECT_EQ(AppDelegate::allowedInstallDirectories(), expected);
    EXPECT_FALSE(fs::exists(session.home().path() / "Applications"));
}

} // namespace
