#include "Platform/Services.h"
#include "Platform/backends/simulated/SimulatedFinder.h"
#include "Platform/base/Log.h"
#include "Platform/control/DesktopControl.h"
#include "Platform/desktop/Application.h"
#include "Platform/desktop/StatusBar.h"
#include "Platform/system/Bundle.h"
#include "Platform/system/UserDirectories.h"
#include "Scrivlet/AppDelegate.h"
#include "tests/support/AppSession.h"
#include "tests/support/LogCapture.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>

using namespace scrivlet;

namespace {

class StatusMenuTest : public ::testing::Test {
protected:
    AppSession session;
    void SetUp() override { session.launch(); }
    std::shared_ptr<Menu> menu() { return session.delegate()->statusItem->menu(); }
};

TEST_F(StatusMenuTest, IconIsASquareSymbolItem) {
    const auto items = session.desktop().statusItems();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0], session.delegate()->statusItem);
    EXPECT_EQ(items[0]->length(), squareStatusItemLength);
    EXPECT_EQ(items[0]->button()->image(), Image::systemSymbol("note.text", "Scrivlet"));
}

TEST_F(StatusMenuTest, HasFiveEntriesWithTheirActionsTargetsAndKeys) {
    const auto& items = menu()->items();
    ASSERT_EQ(items.size(), 5u);
    EXPECT_EQ(items[0]->title(), "Preferences\u2026");
    EXPECT_FALSE(items[0]->action());
    EXPECT_EQ(items[0]->keyEquivalent(), "");
    EXPECT_TRUE(items[1]->isSeparatorItem());
    EXPECT_EQ(items[2]->title(), "Uninstall Scrivlet\u2026");
    EXPECT_EQ(items[2]->action(), "uninstallApp");
    EXPECT_EQ(items[2]->target().get(), static_cast<Responder*>(session.delegate()));
    EXPECT_EQ(items[2]->keyEquivalent(), "");
    EXPECT_TRUE(items[3]->isSeparatorItem());
    EXPECT_EQ(items[4]->title(), "Quit Scrivlet");
    EXPECT_EQ(items[4]->action(), "terminate:");
    EXPECT_FALSE(items[4]->target());
    EXPECT_EQ(items[4]->keyEquivalent(), "q");
    EXPECT_EQ(items[4]->keyEquivalentModifierMask(), unsigned{modifierCommand});

    EXPECT_FALSE(menu()->isEnabled(*items[0]));
    EXPECT_TRUE(menu()->isEnabled(*items[2]));
    EXPECT_TRUE(menu()->isEnabled(*items[4]));
}

TEST_F(StatusMenuTest, PreferencesCannotBeChosen) {
    ASSERT_TRUE(session.desktop().openStatusMenu());
    EXPECT_FALSE(session.desktop().chooseMenuItem("Preferences\u2026"));
    EXPECT_FALSE(session.isTerminated());
}

TEST_F(StatusMenuTest, CommandQQuitsOnlyWithCommand) {
    ASSERT_TRUE(session.desktop().openStatusMenu());
    EXPECT_FALSE(session.desktop().pressKey("q", modifierNone));
    EXPECT_FALSE(session.isTerminated());
    EXPECT_TRUE(session.desktop().pressKey("q", modifierCommand));
    EXPECT_TRUE(session.isTerminated());
    EXPECT_FALSE(session.desktop().isMenuOpen());
}

TEST_F(StatusMenuTest, QuitItemTerminatesWithoutConfirmation) {
    ASSERT_TRUE(session.desktop().openStatusMenu());
    EXPECT_TRUE(session.desktop().chooseMenuItem("Quit Scrivlet"));
    EXPECT_TRUE(session.isTerminated());
    EXPECT_EQ(session.services().application().terminationRequestCount(), 1);
}

TEST_F(StatusMenuTest, UninstallActionReachesTheDelegateAndKeepsRunning) {
    session.desktop().answerNextAlert("Cancel");
    ASSERT_TRUE(session.desktop().openStatusMenu());
    EXPECT_TRUE(session.desktop().chooseMenuItem("Uninstall Scrivlet\u2026"));
    session.desktop().settle();
    // The action ran: it asked for confirmation, and Cancel keeps the app.
    const auto alerts = session.desktop().shownAlerts();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].messageText, "Uninstall Scrivlet?");
    EXPECT_EQ(session.desktop().unansweredAlertCount(), 0u);
    EXPECT_FALSE(session.isTerminated());
}

std::string execLine(const std::filesystem::path& entry) {
    std::ifstream file(entry);
    for (std::string line; std::getline(file, line);) {
        if (line.starts_with("Exec=")) {
            return line;
        }
    }
    return "<no Exec line>";
}

// The entry starts the running executable; one left by an older install is rewritten.
TEST(LoginItem, RegistersAtEveryLaunchAndRefreshesAStaleEntry) {
    AppSession session;
    const auto entry =
        UserDirectories::configHome() / "autostart" / "com.scrivlet.Scrivlet.desktop";
    std::filesystem::create_directories(entry.parent_path());
    std::ofstream(entry) << "[Desktop Entry]\nType=Application\nName=Scrivlet\n"
                            "Exec=/old/place/scrivlet\n";
    session.launch();
    EXPECT_EQ(execLine(entry), "Exec=" + Bundle::main().executablePath().string());
    for (const std::string& line : session.log().messages("")) {
        EXPECT_FALSE(line.starts_with("Scrivlet: Auto-start")) << line;
    }
}

TEST(LoginItem, FailureLeavesOneNSLogLineAndNothingInTheAppLog) {
    AppSession session;
    const auto autostart = UserDirectories::configHome() / "autostart";
    std::filesystem::create_directories(autostart.parent_path());
    std::ofstream(autostart) << "not a folder";
    // Without Finder the only NSLog lines are the login item's and the tracker's.
    session.desktop().finder().quit();
    session.launch();
    const auto nslog = session.log().messages("");
    ASSERT_EQ(nslog.size(), 2u);
    EXPECT_TRUE(nslog[0].starts_with("Scrivlet: Auto-start registration failed: ")) << nslog[0];
    EXPECT_GT(nslog[0].size(), std::string("Scrivlet: Auto-start registration failed: ").size());
    EXPECT_EQ(nslog[1], "Scrivlet: Finder not running");
    const auto app = session.log().messages("app");
    EXPECT_EQ(std::count_if(app.begin(), app.end(),
                            [](const std::string& line) {
                                return line.find("uto-start") != std::string::npos;
                            }),
              0);
    EXPECT_EQ(app.size(), 7u) << "the launch lines and the tracker's failure, nothing else";
    EXPECT_TRUE(session.delegate()->statusItem);

    // Registration comes after the store and the status item, before Finder tracking.
    std::vector<std::string> order;
    for (const LogRecord& record : session.log().records()) {
        order.push_back(record.message.substr(0, 20));
    }
    const auto at = [&](const std::string& start) {
        return std::find(order.begin(), order.end(), start.substr(0, 20)) - order.begin();
    };
    EXPECT_LT(at("Database opened OK"), at("Menu bar icon set up"));
    EXPECT_LT(at("Menu bar icon set up"), at("Scrivlet: Auto-start registration"));
    EXPECT_LT(at("Scrivlet: Auto-start registration"), at("Scrivlet: Finder not running"));
}

} // namespace
