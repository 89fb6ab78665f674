#include "Platform/Application.h"
#include "Platform/Services.h"
#include "Platform/simulated/DesktopControl.h"
#include "Scrivcore/AnnotationStore.h"
#include "Scrivlet/AppDelegate.h"
#include "Scrivlet/EntryPoint.h"
#include "scenario/AppSession.h"
#include "support/LogCapture.h"
#include "support/TempHome.h"

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

TEST(Launch, QueuesEarlyDeliveriesInOrderAndDrainsThemOnce) {
    AppSession session;
    AppDelegate& delegate = installAppDelegate();
    Application::shared().openURLs({url("scrivlet://annotate?path=/a")});
    Application::shared().openURLs({url("scrivlet://remove?path=/b"), url("x://c")});
    ASSERT_EQ(delegate.pendingURLs.size(), 3u);
    EXPECT_EQ(delegate.pendingURLs[0].absoluteString(), "scrivlet://annotate?path=/a");
    EXPECT_EQ(delegate.pendingURLs[2].absoluteString(), "x://c");

    Application::shared().finishLaunching();
    EXPECT_TRUE(delegate.pendingURLs.empty());
    const auto lines = session.log().messages("app");
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[0], "URL received before init, queuing 1 URL(s)");
    EXPECT_EQ(lines[1], "URL received before init, queuing 2 URL(s)");
    EXPECT_EQ(lines[8], "Ready. Listening for Finder events and URL scheme requests.");
    EXPECT_EQ(lines[9], "Processing 3 queued URL(s)");

    // Once the store is open, deliveries are handled at once and never queued.
    Application::shared().openURLs({url("scrivlet://annotate?path=/d")});
    EXPECT_TRUE(delegate.pendingURLs.empty());
    EXPECT_EQ(session.log().messages("app").size(), 10u);
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
