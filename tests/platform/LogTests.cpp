#include "Platform/base/Log.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>
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

} // namespace
