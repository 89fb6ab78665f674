#include "tools/scenario/ScenarioRunner.h"

#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

using namespace scrivlet;

namespace {

struct BadScenario {
    std::string text;
    int failures;
    std::vector<std::string> reports; // each must be in the transcript
};

const std::string window = "finder launch\nfinder window w 800x600@0,0\n";

TEST(ScenarioInputTest, BadLinesReportFileLineAndReasonAndTheScenarioGoesOn) {
    const BadScenario cases[] = {
        {"wait abc", 1, {"FAILED (bad:1): wait needs seconds from 0 to 3600, not \"abc\""}},
        {"wait -1", 1, {"(bad:1): wait needs seconds"}},
        {"wait 1e9", 1, {"(bad:1): wait needs seconds"}},
        {"wait nan", 1, {"(bad:1): wait needs seconds"}},
        {"wait", 1, {"FAILED (bad:1): wait takes 1 argument, not 0"}},
        {"wait 1 2", 1, {"FAILED (bad:1): wait takes 1 argument, not 2"}},
        {"launch now", 1, {"FAILED (bad:1): launch takes no arguments, not 1"}},
        {"file", 1, {"FAILED (bad:1): file takes 1 to 2 arguments, not 0"}},
        {"url", 1, {"FAILED (bad:1): url takes at least 1 argument, not 0"}},
        {"frobnicate 3", 1, {"FAILED (bad:1): unknown verb \"frobnicate\""}},
        {"launch\nopen-menu x",
         1,
         {"FAILED (bad:2): open-menu needs a status item number from 0 to 99, not \"x\""}},
        {"launch\nopen-menu 99999999999999999999", 1, {"(bad:2): open-menu needs a status item"}},
        {"launch\nopen-menu 1 2",
         1,
         {"FAILED (bad:2): wrong number of arguments; usage: open-menu [N]"}},
        {"launch\nopen-menu 3", 1, {"FAILED (bad:2): there is no status item menu to open"}},
        {"launch\nchoose", 1, {"FAILED (bad:2): wrong number of arguments; usage: choose TITLE"}},
        {"launch\nchoose \"Quit Scrivlet\"",
         1,
         {"FAILED (bad:2): cannot choose \"Quit Scrivlet\""}},
        {"launch\nopen-menu\npress \"Command-q now\"",
         1,
         {"FAILED (bad:3): press needs one key such as Command-q"}},
        {"launch\nstatus please", 1, {"FAILED (bad:2): wrong number of arguments; usage: status"}},
        {"launch\ntap-star x", 1, {"FAILED (bad:2): tap-star needs a star 1 to 5, not \"x\""}},
        {"launch\ntap-star 6", 1, {"(bad:2): tap-star needs a star 1 to 5, not \"6\""}},
        {window + "finder drag w 10,10 abc",
         1,
         {"FAILED (bad:3): drag needs seconds from 0 to 600, not \"abc\""}},
        {window + "finder drag-resize w 300x200 1e308", 1, {"(bad:3): drag-resize needs seconds"}},
        {window + "finder move w 10,", 1, {"FAILED (bad:3): move needs NAME X,Y"}},
        {window + "finder resize w 1e999x600", 1, {"(bad:3): resize needs NAME WIDTHxHEIGHT"}},
        {"finder launch\nfinder window w 800x600@0,0junk",
         1,
         {"(bad:2): window needs NAME WIDTHxHEIGHT@X,Y"}},
        {"screens 1440x", 1, {"FAILED (bad:1): cannot read screen \"1440x\""}},
        {"screens 1440x900@", 1, {"FAILED (bad:1): cannot read screen"}},
        {"expect log-count many", 1, {"FAILED (bad:1): log-count needs a count, not \"many\""}},
        {"expect running now", 1, {"FAILED (bad:1): expect running takes no arguments, not 1"}},
        {"expect log", 1, {"FAILED (bad:1): expect log takes 1 argument, not 0"}},
        {"expect frob", 1, {"FAILED (bad:1): unknown expectation \"frob\""}},
        // A verb that throws (the store's folder cannot be made) fails its line only.
        {"break-container\nstore-file x", 1, {"FAILED (bad:2): store-file stopped with an error"}},
        // Several bad lines: each is reported, and good lines after them still run.
        {"wait abc\n# narration\nfrob\nlaunch\nexpect running\nwait 1 2",
         3,
         {"(bad:1): wait needs", "(bad:3): unknown verb", "(bad:6): wait takes", "  ok\n"}},
    };
    for (const auto& [text, failures, reports] : cases) {
        std::ostringstream transcript;
        ScenarioRunner runner(transcript);
        EXPECT_EQ(runner.runText(text, "bad"), failures) << text << "\n" << transcript.str();
        for (const std::string& report : reports) {
            EXPECT_NE(transcript.str().find(report), std::string::npos)
                << "missing: " << report << "\n"
                << transcript.str();
        }
        EXPECT_TRUE(transcript.str().ends_with("=== FAILED: bad (" + std::to_string(failures) +
                                               " failed)\n"))
            << transcript.str();
    }
}

TEST(ScenarioInputTest, TheMenuVerbsShowWhatTheControlSocketShows) {
    std::ostringstream transcript;
    ScenarioRunner runner(transcript);
    EXPECT_EQ(runner.runText("launch\nstatus\nopen-menu 0\npress Command-z\nclose-menu\n"
                             "open-menu\npress Command-q\nexpect terminated",
                             "menu"),
              0)
        << transcript.str();
    const std::string text = transcript.str();
    EXPECT_NE(text.find("> status\nstatus item (square) symbol \"note.text\""), std::string::npos)
        << text;
    EXPECT_NE(text.find("> open-menu 0\n  Preferences"), std::string::npos) << text;
    EXPECT_NE(text.find("  Quit Scrivlet  [Command-q]\n"), std::string::npos) << text;
    EXPECT_NE(text.find("> press Command-z\n  (no menu item answers Command-z)\n> close-menu\n> "),
              std::string::npos)
        << text;
}

} // namespace
