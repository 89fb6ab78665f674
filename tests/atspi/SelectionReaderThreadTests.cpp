#include "Platform/backends/atspi/SelectionReaderThread.h"
#include "Platform/base/RunLoop.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <thread>

namespace scrivlet::atspi {
namespace {

// The reader thread with no accessibility bus to reach: every look answers at once that no
// application is there, which is enough to follow requests and news between the threads.
class SelectionReaderThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* address = std::getenv("AT_SPI_BUS_ADDRESS")) {
            savedAddress = address;
        }
        setenv("AT_SPI_BUS_ADDRESS", "unix:path=/nonexistent/at-spi-bus", 1);
        RunLoop::setMain(&loop);
        loop.addTimer(5.0, false, [this] {
            timedOut = true;
            loop.stop();
        });
    }
    void TearDown() override {
        RunLoop::setMain(nullptr);
        if (savedAddress) {
            setenv("AT_SPI_BUS_ADDRESS", savedAddress->c_str(), 1);
        } else {
            unsetenv("AT_SPI_BUS_ADDRESS");
        }
    }

    static LookRequest request(std::uint64_t generation) {
        LookRequest asked;
        asked.generation = generation;
        asked.pid = 1;
        asked.cellCap = 10;
        asked.inFlight = 4;
        return asked;
    }

    RunLoop loop{makeRealRunLoopBackend()};
    std::optional<std::string> savedAddress;
    bool timedOut = false;
};

TEST_F(SelectionReaderThreadTest, TheLastRequestIsAnsweredOnTheLoopsThreadAndNewsComeInOrder) {
    std::vector<LookNews> received;
    std::vector<std::thread::id> threads;
    SelectionReaderThread reader(
        loop,
        [&](const LookNews& news) {
            received.push_back(news);
            threads.push_back(std::this_thread::get_id());
            if (news.generation == 3) {
                loop.stop();
            }
        },
        100);
    // Asked faster than the thread answers: the ones it finds waiting together make one look.
    reader.ask(request(1));
    reader.ask(request(2));
    reader.ask(request(3));
    loop.run();

    ASSERT_FALSE(timedOut) << "the last request was never answered";
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received.back().generation, 3u);
    EXPECT_EQ(received.back().kind, LookNews::Kind::answer);
    EXPECT_TRUE(received.back().applicationBus.empty());
    EXPECT_FALSE(received.back().path.has_value());
    for (std::size_t index = 1; index < received.size(); ++index) {
        EXPECT_LT(received[index - 1].generation, received[index].generation);
    }
    for (const std::thread::id& thread : threads) {
        EXPECT_EQ(thread, std::this_thread::get_id());
    }
}

TEST_F(SelectionReaderThreadTest, DestroyingTheReaderWithLooksOutstandingEndsItsThread) {
    int answered = 0;
    {
        SelectionReaderThread reader(
            loop, [&](const LookNews&) { ++answered; }, 100);
        for (std::uint64_t generation = 1; generation <= 50; ++generation) {
            reader.ask(request(generation));
        }
    }
    // No news after the reader is gone, even with the loop running on.
    loop.addTimer(0.1, false, [this] { loop.stop(); });
    loop.run();
    EXPECT_EQ(answered, 0);
}

} // namespace
} // namespace scrivlet::atspi
