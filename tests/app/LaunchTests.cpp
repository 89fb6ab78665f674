#include "Platform/Services.h"
#include "Platform/backends/simulated/SimulatedFinder.h"
#include "Platform/base/Log.h"
#include "Platform/base/RunLoop.h"
#include "Platform/control/DesktopControl.h"
#include "Platform/desktop/Application.h"
#include "Platform/desktop/Panel.h"
#include "Platform/system/Bundle.h"
#include "Scrivcore/AnnotationStore.h"
#include "Scrivlet/AppDelegate.h"
#include "Scrivlet/EntryPoint.h"
#include "Scrivlet/PanelController.h"
#include "tests/support/AppSession.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempHome.h"

#include <fstream>
#include <gtest/gtest.h>

using namespace scrivlet;

namespace fs = std::filesystem;

namespace {

const std::vector<std::string> normalLaunch = {
    "Launch started",
    "DB path: ", // followed by the path
    "Database opened OK",
    "Synced badge xattrs for 0 annotations",
    "Menu bar icon set up",
    "AX selection tracker started",
    "Ready. Listening for Finder events and URL scheme requests.",
};

URL url(const std::string& text) {
    return *URL::fromString(text);
}

TEST(AppDelegateState, StartsWithItsInitialValues) {
    AppSession session;
    const AppDelegate delegate;
    EXPECT_FALSE(delegate.statusItem);
    EXPECT_FALSE(delegate.store);
    EXPECT_FALSE(delegate.selectionTracker);
    EXPECT_FALSE(delegate.panelController);
    EXPECT_FALSE(delegate.viewModel);
    EXPECT_TRUE(delegate.cancellables.empty());
    EXPECT_EQ(delegate.selectionLockedUntil, Date::min());
    EXPECT_FALSE(delegate.finderIsActive);
    EXPECT_FALSE(delegate.userDismissed);
    EXPECT_TRUE(delegate.pendingURLs.empty());
    EXPECT_FALSE(delegate.dragPollTimer);
    EXPECT_FALSE(delegate.dragLastFrame);
    EXPECT_EQ(delegate.dragStillTicks, 0);
    EXPECT_FALSE(delegate.dragIsFullscreen);
    EXPECT_FALSE(delegate.dragWindowID);
}

TEST(Launch, RunsItsStepsInOrderAndKeepsTheAppRunning) {
    AppSession session;
    session.launch();
    const auto lines = session.log().messages("app");
    ASSERT_EQ(lines.size(), normalLaunch.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(lines[i].starts_with(normalLaunch[i])) << lines[i];
    }
    EXPECT_EQ(lines[1], "DB path: " + AnnotationStore::defaultPath());
    EXPECT_TRUE(session.delegate()->store);
    EXPECT_TRUE(session.delegate()->statusItem);
    EXPECT_FALSE(session.isTerminated());
    EXPECT_FALSE(session.delegate()->applicationShouldTerminateAfterLastWindowClosed());
}

// Every message the app writes itself, through launch and Finder coming and going, is an
// info line of the "app" category.
TEST(Launch, AppMessagesAreInfoLinesOfTheAppCategory) {
    AppSession session;
    session.launch();
    session.desktop().finder().quit();
    session.desktop().settle();
    session.desktop().finder().launch();
    session.advance(0.5);
    std::size_t appLines = 0;
    for (const LogRecord& record : session.log().records()) {
        if (record.isNSLog || record.subsystem != "com.scrivlet") {
            continue; // the tracker's lines and Scrivcore's own
        }
        ++appLines;
        EXPECT_EQ(record.category, "app") << record.message;
        EXPECT_EQ(record.level, LogLevel::Info) << record.message;
    }
    EXPECT_EQ(appLines, normalLaunch.size() + 3) << "terminated, launched, rebuilt";
}

TEST(Launch, OutsideACompleteBundleTheLoginItemFailsWithItsOneLineAndNoEntry) {
    AppSession session;
    const std::filesystem::path executable = session.services().mainBundle().executablePath();
    std::filesystem::remove(executable);
    session.launch();
    std::vector<std::string> lines;
    for (const std::string& line : session.log().messages("")) {
        if (line.starts_with("Scrivlet: Auto-start")) {
            lines.push_back(line);
        }
    }
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "Scrivlet: Auto-start registration failed: Could not register Scrivlet to "
                        "open at login: the app's location \"" +
                            executable.string() + "\" is not an executable file");
    EXPECT_FALSE(std::filesystem::exists(session.home().path() /
                                         ".config/autostart/com.scrivlet.Scrivlet.desktop"));
    EXPECT_FALSE(session.isTerminated());
}

// Closing the last window asks the delegate whether to terminate; the app answers no, so the
// panel's close button never ends it.
TEST(Launch, ClosingThePanelAsksTheDelegateAndTheAppKeepsRunning) {
    AppSession session;
    session.launch();
    PanelController& controller = *session.delegate()->panelController;
    controller.show(CGRect(300, 200, 700, 500), false);
    session.advance(1);
    ASSERT_TRUE(controller.panel && controller.panel->isVisible());
    controller.panel->close();
    session.advance(1);
    EXPECT_FALSE(session.isTerminated());

    // The same close with a delegate that answers yes ends the application.
    struct Quitter : ApplicationDelegate {
        int asked = 0;
        bool applicationShouldTerminateAfterLastWindowClosed() override { return ++asked > 0; }
    } quitter;
    Application& application = session.services().application();
    application.setDelegate(&quitter);
    controller.show(CGRect(300, 200, 700, 500), false);
    session.advance(1);
    auto other = Panel::create(CGRect(0, 0, 10, 10), 0, 0, false);
    other->orderFront(nullptr);
    controller.panel->close();
    EXPECT_EQ(quitter.asked, 0) << "another window is still on screen";
    other->close();
    EXPECT_EQ(quitter.asked, 1);
    EXPECT_TRUE(application.isTerminationRequested());
    application.setDelegate(session.delegate());
}

TEST(Launch, QueuesEarlyDeliveriesAndHandlesThemInOrderAfterReady) {
    AppSession session;
    const std::string a = session.home().makeFile("a.txt").string();
    const std::string b = session.home().makeFile("b.txt").string();
    const std::string annotateA = "scrivlet://annotate?path=" + a;
    const std::string removeB = "scrivlet://remove?path=" + b;
    AppDelegate& delegate = installAppDelegate();
    Application::shared().openURLs({url(annotateA)});
    Application::shared().openURLs({url(removeB), url("x://c")});
    ASSERT_EQ(delegate.pendingURLs.size(), 3u);
    EXPECT_EQ(delegate.pendingURLs[0].absoluteString(), annotateA);
    EXPECT_EQ(delegate.pendingURLs[2].absoluteString(), "x://c");

    Application::shared().finishLaunching();
    EXPECT_TRUE(delegate.pendingURLs.empty());
    const auto lines = session.log().messages("app");
    const std::vector<std::string> expected = {
        "URL received before init, queuing 1 URL(s)",
        "URL received before init, queuing 2 URL(s)",
        "Launch started",
        "DB path: " + AnnotationStore::defaultPath(),
        "Database opened OK",
        "Synced badge xattrs for 0 annotations",
        "Menu bar icon set up",
        "AX selection tracker started",
        "Ready. Listening for Finder events and URL scheme requests.",
        "Processing 3 queued URL(s)",
        "URL received: " + annotateA,
        "Opened annotation editor for a.txt",
        "URL received: " + removeB,
        "Removed annotation for b.txt",
        "URL received: x://c",
    };
    EXPECT_EQ(lines, expected);

    // Once the store is open, deliveries are handled at once and never queued.
    Application::shared().openURLs({url("scrivlet://annotate?path=" + b)});
    EXPECT_TRUE(delegate.pendingURLs.empty());
    EXPECT_EQ(session.log().messages("app").back(), "Opened annotation editor for b.txt");
    EXPECT_EQ(session.log().messages("app").size(), expected.size() + 2);
    sharedAppDelegate().reset();
}

// Each way the store can fail to open ends the launch the same way.
class FailedStoreLaunch : public ::testing::TestWithParam<std::string> {};

TEST_P(FailedStoreLaunch, LogsFatalTerminatesAndLeavesNoStatusItem) {
    AppSession session;
    const fs::path store = AnnotationStore::defaultPath();
    std::string before;
    if (GetParam() == "corrupt file") {
        fs::create_directories(store.parent_path());
        before = "definitely not SQLite";
        std::ofstream(store) << before;
    } else if (GetParam() == "folder in its place") {
        fs::create_directories(store);
    } else {
        fs::create_directories(store.parent_path().parent_path());
        std::ofstream(store.parent_path()) << "a file where the container belongs";
    }
    session.deliverURLs({url("scrivlet://annotate?path=/queued")});
    session.launch();

    const auto lines = session.log().messages("app");
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], "Launch started");
    EXPECT_TRUE(lines[3].starts_with("FATAL: Failed to open database: ")) << lines[3];
    EXPECT_GT(lines[3].size(), std::string("FATAL: Failed to open database: ").size());
    EXPECT_TRUE(session.isTerminated());
    EXPECT_EQ(session.services().application().terminationRequestCount(), 1);
    EXPECT_TRUE(session.desktop().statusItems().empty());
    EXPECT_FALSE(session.delegate()->store);
    if (!before.empty()) {
        EXPECT_EQ(readWholeFile(store), before);
    }
}

INSTANTIATE_TEST_SUITE_P(StoreFailures, FailedStoreLaunch,
                         ::testing::Values("corrupt file", "folder in its place",
                                           "unwritable container"));

} // namespace
