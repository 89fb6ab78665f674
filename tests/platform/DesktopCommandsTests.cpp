#include "Platform/base/RunLoop.h"
#include "Platform/control/DesktopCommands.h"
#include "Platform/control/DesktopControl.h"
#include "Scrivcore/AnnotationStore.h"
#include "tests/support/AppSession.h"
#include "tests/support/TempHome.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

using namespace scrivlet;

namespace {

using Status = DesktopCommandOutcome::Status;

class DesktopCommandsTest : public ::testing::Test {
protected:
    AppSession session;
    void SetUp() override { session.launch(); }
};

struct LineCase {
    std::string line;
    bool menuOpen; // open the status menu before the line
    std::string replyStart;
};

// Every reply is whole lines; an error is exactly one.
void expectWellFormed(const std::string& reply, const std::string& line) {
    ASSERT_FALSE(reply.empty()) << line;
    EXPECT_TRUE(reply.ends_with('\n')) << line;
    if (reply.starts_with("error: ")) {
        EXPECT_EQ(reply.find('\n'), reply.size() - 1) << line;
    }
}

TEST_F(DesktopCommandsTest, MalformedLinesAreAnsweredWithAnErrorAndChangeNothing) {
    const std::string numberError = "error: open-menu needs a status item number from 0 to 99, ";
    const std::string textError =
        "error: the command is not UTF-8 text, or holds control characters\n";
    const LineCase cases[] = {
        {"", false, "error: empty command; try status, open-menu [N]"},
        {"   ", false, "error: empty command"},
        {"frobnicate", false, "error: unknown command \"frobnicate\"; try status"},
        {"STATUS", false, "error: unknown command \"STATUS\""},
        {"open-menu x", false, numberError + "not \"x\"\n"},
        {"open-menu -1", false, numberError + "not \"-1\"\n"},
        {"open-menu +0", false, numberError},
        {"open-menu 1.5", false, numberError},
        {"open-menu 0x0", false, numberError},
        {"open-menu 100", false, numberError},
        {"open-menu 99999999999999999999999", false, numberError},
        {"open-menu 0 1", false, numberError + "not \"0 1\"\n"},
        {"status now", false, "error: wrong number of arguments; usage: status\n"},
        {"close-menu please", true, "error: wrong number of arguments; usage: close-menu\n"},
        {"choose", true, "error: wrong number of arguments; usage: choose TITLE\n"},
        {"choose \"\"", true, "error: wrong number of arguments; usage: choose TITLE\n"},
        {"press", true, "error: wrong number of arguments; usage: press KEY\n"},
        {"press Command-", true, "error: press needs one key such as Command-q\n"},
        {"press Command-q now", true, "error: press needs one key such as Command-q\n"},
        {std::string("stat\0us", 7), false, textError},
        {std::string("choose Quit\0Scrivlet", 20), true, textError},
        {"choose Quit\tScrivlet", true, textError},
        {"choose \xff\xfe", true, textError},
        {"choose Quit Scrivle\xe2\x80", true, textError},
        {"choose \xc0\xaf", true, textError},
        {"press Command-\x1b", true, textError},
    };
    for (const auto& [line, menuOpen, replyStart] : cases) {
        if (menuOpen) {
            ASSERT_TRUE(session.desktop().openStatusMenu()) << line;
        }
        const std::string reply = executeDesktopCommand(session.desktop(), line);
        EXPECT_TRUE(reply.starts_with(replyStart))
            << testing::PrintToString(line) << " -> " << reply;
        expectWellFormed(reply, line);
        EXPECT_EQ(session.desktop().isMenuOpen(), menuOpen) << testing::PrintToString(line);
        EXPECT_FALSE(session.isTerminated()) << testing::PrintToString(line);
        session.desktop().closeMenu();
    }
}

TEST_F(DesktopCommandsTest, WellFormedLinesReachTheDesktop) {
    const LineCase cases[] = {
        {"status", false, "status item (square) symbol \"note.text\""},
        {"  status \r", false, "status item (square)"},
        {"open-menu", false, "  Preferences\u2026  (disabled)\n"},
        {"open-menu 0", false, "  Preferences\u2026"},
        {"open-menu \"0\"", false, "  Preferences\u2026"},
        {"open-menu 1", false, "error: there is no status item menu to open\n"},
        {"close-menu", true, "ok\n"},
        {"choose Preferences\u2026", true, "error: cannot choose \"Preferences\u2026\": the menu"},
        {"choose \"Uninstall  Scrivlet\u2026\"", true, "error: cannot choose"},
        {"choose Quit Scrivlet", false, "error: cannot choose \"Quit Scrivlet\": the menu is"},
        {"press Command-z", true, "error: no menu item answers Command-z\n"},
        {"press Shift-Command-q", true, "error: no menu item answers Shift-Command-q\n"},
    };
    for (const auto& [line, menuOpen, replyStart] : cases) {
        if (menuOpen) {
            ASSERT_TRUE(session.desktop().openStatusMenu()) << line;
        }
        const std::string reply = executeDesktopCommand(session.desktop(), line);
        EXPECT_TRUE(reply.starts_with(replyStart)) << line << " -> " << reply;
        expectWellFormed(reply, line);
        EXPECT_FALSE(session.isTerminated()) << line;
        session.desktop().closeMenu();
    }
    ASSERT_TRUE(session.desktop().openStatusMenu());
    EXPECT_EQ(executeDesktopCommand(session.desktop(), "choose Quit Scrivlet"), "ok\n");
    EXPECT_TRUE(session.isTerminated());
}

struct OutcomeCase {
    std::vector<std::string> words;
    Status status;
};

// The scenario runner tells a bad line from a desktop that says no by these.
TEST_F(DesktopCommandsTest, OutcomesTellBadInputFromADesktopThatSaysNo) {
    const OutcomeCase cases[] = {
        {{}, Status::malformed},
        {{"open-menu", "1", "2"}, Status::malformed},
        {{"open-menu", "x"}, Status::malformed},
        {{"press", "Command- q"}, Status::malformed},
        {{"open-menu", "3"}, Status::refused},
        {{"choose", "Nothing"}, Status::refused},
        {{"press", "Command-z"}, Status::unanswered},
        {{"select-file", "Documents/a.txt"}, Status::malformed},
        {{"set-status", "flagged"}, Status::refused},
        {{"open-menu"}, Status::done},
    };
    for (const auto& [words, status] : cases) {
        const DesktopCommandOutcome outcome = runDesktopCommand(session.desktop(), words);
        EXPECT_EQ(outcome.status, status) << testing::PrintToString(words);
        EXPECT_EQ(outcome.reason.empty(), status == Status::done) << testing::PrintToString(words);
    }
}

// A person selects a file in Finder and picks a status in the panel that follows it; the app
// stores what was picked. A status the picker does not offer changes nothing.
TEST_F(DesktopCommandsTest, SelectingAFileAndPickingAStatusReachesTheStore) {
    const std::filesystem::path file = session.home().path() / "Documents" / "plan.txt";
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << "plan";
    EXPECT_EQ(executeDesktopCommand(session.desktop(), "select-file " + file.string()), "ok\n");
    session.desktop().settle();
    EXPECT_TRUE(executeDesktopCommand(session.desktop(), "set-status urgent")
                    .starts_with("error: cannot choose the status \"urgent\""));
    EXPECT_EQ(executeDesktopCommand(session.desktop(), "set-status flagged"), "ok\n");
    RunLoop::main().advance(2.0); // past the panel's save delay
    AnnotationStore store(AnnotationStore::defaultPath(), AnnotationStore::Access::readOnly);
    EXPECT_EQ(store.fetchStatus(file.string()), Annotation::Status::flagged);
}

TEST(DesktopCommandLineTest, SplitsTheVerbFromTheRestOfTheLine) {
    using Words = std::vector<std::string>;
    const std::pair<std::string, Words> cases[] = {
        {"", {}},
        {" \r", {}},
        {"status", {"status"}},
        {"status   ", {"status"}},
        {"choose Quit Scrivlet", {"choose", "Quit Scrivlet"}},
        {"choose   \"Quit Scrivlet\"  ", {"choose", "Quit Scrivlet"}},
        {"choose \"Quit", {"choose", "\"Quit"}},
        {"choose \"\"", {"choose"}},
        {"open-menu 1 2", {"open-menu", "1 2"}},
    };
    for (const auto& [line, words] : cases) {
        EXPECT_EQ(splitDesktopCommandLine(line), words) << testing::PrintToString(line);
    }
}

} // namespace
