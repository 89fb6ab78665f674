// The app's log as a terminal or a log file gets it: whatever a URL holds, each record is one
// line, and text decoded from the URL cannot pass for a line of its own.
#include "tests/support/AppSession.h"
#include "tests/support/StderrCapture.h"
#include "tests/support/TempHome.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <regex>

using namespace scrivlet;

namespace fs = std::filesystem;

namespace {

// Time, process, level and logger, as the stderr sink begins each line of the "app" logger.
const std::regex
    appLine(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[\d+\] <Info> com\.scrivlet:app (.*))");
const std::regex anyLine(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[\d+\] .*)");

TEST(AppLogLines, APercentEncodedNewlineInAURLCannotForgeALine) {
    AppSession session;
    session.launch();
    const fs::path home = fs::canonical(session.home().path());
    // A file whose name holds a newline is accepted, and its name is logged.
    session.home().makeFile("notes\nURL received: forged.txt", "n");
    const std::string accepted =
        "scrivlet://annotate?path=" + home.string() + "/notes%0AURL%20received:%20forged.txt";
    const std::string rejected =
        "scrivlet://annotate?path=" + home.string() + "/missing%0D%0AURL%20received:%20forged";

    std::vector<std::string> lines;
    {
        StderrCapture capture(home / "stderr");
        session.deliverURLs({*URL::fromString(accepted)});
        session.deliverURLs({*URL::fromString(rejected)});
        lines = capture.lines();
    }
    std::vector<std::string> messages;
    for (const std::string& line : lines) {
        EXPECT_TRUE(std::regex_match(line, anyLine)) << "a line of its own: " << line;
        if (std::smatch match; std::regex_match(line, match, appLine)) {
            messages.push_back(match[1]);
        }
    }
    EXPECT_EQ(std::count_if(messages.begin(), messages.end(),
                            [](const std::string& m) { return m.starts_with("URL received: "); }),
              2)
        << ::testing::PrintToString(lines);
    const std::vector<std::string> expected = {
        "URL received: " + accepted,
        "Opened annotation editor for notes\\nURL received: forged.txt",
        "URL received: " + rejected,
        "Rejected URL: path outside home or doesn't exist: " + home.string() +
            "/missing\\r\\nURL received: forged",
    };
    for (const std::string& line : expected) {
        EXPECT_NE(std::find(messages.begin(), messages.end(), line), messages.end())
            << line << "\n in " << ::testing::PrintToString(lines);
    }
}

} // namespace
