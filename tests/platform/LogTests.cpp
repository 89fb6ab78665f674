#include "Platform/base/Log.h"
#include "tests/support/LogCapture.h"
#include "tests/support/StderrCapture.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>
#include <regex>
#include <thread>

using namespace scrivlet;

namespace {

TEST(LogFormat, PrivateArgumentsNeverReachTheSink) {
    EXPECT_EQ(renderLogFormat("open %{public}s for %{private}s", {"store", "/home/u/secret"}),
              "open store for <private>");
    EXPECT_EQ(renderLogFormat("plain %s and %@ stay private", {"a", "b"}),
              "plain <private> and <private> stay private");
    EXPECT_EQ(renderLogFormat("%d of %{public}@", {"3", "x"}), "3 of x");
    EXPECT_EQ(renderLogFormat("100%% done, %{public}s", {"ok"}), "100% done, ok");
    EXPECT_EQ(renderLogFormat("%{public}s and %{public}s", {"only one"}), "only one and <missing>");
    EXPECT_EQ(renderLogFormat("trailing %", {}), "trailing %");
    EXPECT_EQ(renderLogFormat("%{private}s", {"shown"}, true), "shown");
}

TEST(LogCapture, RecordsSubsystemCategoryLevelAndKeepsNSLogApart) {
    LogCapture capture;
    Logger logger("com.scrivlet", "app");
    logger.info("%{public}s", {"Launch started"});
    logger.error("failed: %{public}s", {"disk full"});
    NSLog("Scrivlet: %@", {"visible in full"});
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].subsystem, "com.scrivlet");
    EXPECT_EQ(records[0].category, "app");
    EXPECT_EQ(records[0].level, LogLevel::Info);
    EXPECT_EQ(records[1].level, LogLevel::Error);
    EXPECT_TRUE(records[2].isNSLog);
    EXPECT_EQ(capture.messages("app"),
              (std::vector<std::string>{"Launch started", "failed: disk full"}));
    EXPECT_EQ(capture.messages(""), (std::vector<std::string>{"Scrivlet: visible in full"}));
}

TEST(LogCapture, LoggingFromManyThreadsLosesNothing) {
    LogCapture capture;
    Logger logger("com.scrivlet", "instance");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 250; ++i) {
                logger.info("line");
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(capture.records().size(), 1000u);
}

TEST(LogText, KeepsPrintableTextAndEscapesWhatCouldBreakOrForgeALine) {
    const struct {
        const char* name;
        std::string text;
        std::string written;
    } cases[] = {
        {"printable ASCII", "Opened annotation editor for a b.txt",
         "Opened annotation editor for a b.txt"},
        {"UTF-8 beyond ASCII, joined emoji",
         "r\u00e9sum\u00e9 \u65e5\u672c \U0001F469\u200D\U0001F4BB",
         "r\u00e9sum\u00e9 \u65e5\u672c \U0001F469\u200D\U0001F4BB"},
        {"line breaks and tab", "a\nb\r\nc\td", "a\\nb\\r\\nc\\td"},
        {"other C0 controls, DEL and NUL", std::string("\x1b[31mred\x7f\0", 10),
         "\\x1B[31mred\\x7F\\x00"},
        {"a backslash, so that no escape can be typed in", "C:\\new\\x41", "C:\\\\new\\\\x41"},
        {"C1 controls and Unicode line and paragraph separators", "a\u0085b\u2028c\u2029d",
         "a\\u0085b\\u2028c\\u2029d"},
        {"bytes that are not UTF-8: stray, cut short, overlong, surrogate",
         "\xff|\xc3|\xc0\xaf|\xed\xa0\x80|\xe6\x97",
         "\\xFF|\\xC3|\\xC0\\xAF|\\xED\\xA0\\x80|\\xE6\\x97"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(escapeLogText(row.text), row.written);
    }
    // The escapes and text that reads like them stay apart.
    EXPECT_NE(escapeLogText("\n"), escapeLogText("\\n"));
    EXPECT_NE(escapeLogText("\xff"), escapeLogText("\\xFF"));
}

// Each record is one line on stderr, NSLog lines included, whatever its arguments hold.
TEST(StderrLogSink, ARecordIsOneLineWhateverItsTextHolds) {
    TempHome home;
    const std::string forged =
        "2026-01-01 00:00:00.000 [1] <Info> com.scrivlet:app URL received: forged";
    std::vector<std::string> lines;
    {
        StderrCapture capture(home.path() / "stderr");
        Logger("com.scrivlet", "app").info("%{public}s", {"URL received: a\n" + forged});
        NSLog("Scrivlet: %@", {"b\r\n" + forged});
        lines = capture.lines();
    }
    const std::regex prefix(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[\d+\] .*)");
    ASSERT_EQ(lines.size(), 2u);
    for (const std::string& line : lines) {
        EXPECT_TRUE(std::regex_match(line, prefix)) << line;
    }
    EXPECT_TRUE(lines[0].ends_with("<Info> com.scrivlet:app URL received: a\\n" + forged));
    EXPECT_TRUE(lines[1].ends_with("] Scrivlet: b\\r\\n" + forged));
}

} // namespace
