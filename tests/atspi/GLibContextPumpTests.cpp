#include "Platform/backends/atspi/GLibContextPump.h"
#include "Platform/base/RunLoop.h"

#include <atomic>
#include <glib-unix.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

namespace scrivlet::atspi {
namespace {

// A private GLib context driven by a real run loop, as in the app; every test ends its run
// within a couple of seconds even when what it waits for never comes.
class GLibContextPumpTest : public ::testing::Test {
protected:
    void SetUp() override {
        context = g_main_context_new();
        RunLoop::setMain(&loop);
        pump = std::make_unique<GLibContextPump>(loop, context);
        loop.addTimer(2.0, false, [this] {
            timedOut = true;
            loop.stop();
        });
    }
    void TearDown() override {
        pump.reset();
        for (GSource* source : sources) {
            g_source_destroy(source);
            g_source_unref(source);
        }
        g_main_context_unref(context);
        RunLoop::setMain(nullptr);
    }

    template <typename Callback> GSource* attach(GSource* source, Callback* callback) {
        g_source_set_callback(
            source, [](gpointer data) -> gboolean { return (*static_cast<Callback*>(data))(); },
            callback, nullptr);
        g_source_attach(source, context);
        sources.push_back(source);
        return source;
    }

    RunLoop loop{makeRealRunLoopBackend()};
    GMainContext* context = nullptr;
    std::unique_ptr<GLibContextPump> pump;
    std::vector<GSource*> sources;
    bool timedOut = false;
};

TEST_F(GLibContextPumpTest, TimeoutsAndIdleCallbacksOfTheContextRunOnTheLoop) {
    std::vector<std::string> ran;
    auto idle = [&] {
        ran.push_back("idle");
        return static_cast<gboolean>(G_SOURCE_REMOVE);
    };
    auto timeout = [&] {
        ran.push_back("timeout");
        EXPECT_TRUE(loop.isOwnerThread());
        loop.stop();
        return static_cast<gboolean>(G_SOURCE_REMOVE);
    };
    attach(g_timeout_source_new(30), &timeout);
    attach(g_idle_source_new(), &idle);
    pump->pumpSoon();
    const double start = loop.monotonicNow();
    loop.run();
    EXPECT_FALSE(timedOut);
    EXPECT_EQ(ran, (std::vector<std::string>{"idle", "timeout"}));
    EXPECT_GE(loop.monotonicNow() - start, 0.029);
}

TEST_F(GLibContextPumpTest, ADescriptorTheContextWatchesWakesTheLoopUntilItsSourceGoes) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    int reads = 0;
    auto onReadable = [&] {
        char byte = 0;
        EXPECT_EQ(::read(fds[0], &byte, 1), 1);
        if (++reads == 2) {
            loop.stop();
            return static_cast<gboolean>(G_SOURCE_REMOVE);
        }
        return static_cast<gboolean>(G_SOURCE_CONTINUE);
    };
    GSource* watch = g_unix_fd_source_new(fds[0], G_IO_IN);
    // A descriptor source calls back with the descriptor and condition first; GLib takes
    // such callbacks through the generic type, by way of void(*)() as it does itself.
    gboolean (*onFd)(gint, GIOCondition, gpointer) = [](gint, GIOCondition, gpointer data) {
        return (*static_cast<decltype(onReadable)*>(data))();
    };
    g_source_set_callback(watch, reinterpret_cast<GSourceFunc>(reinterpret_cast<void (*)()>(onFd)),
                          &onReadable, nullptr);
    g_source_attach(watch, context);
    sources.push_back(watch);
    pump->pump();
    EXPECT_EQ(pump->watchedDescriptorCount(), 2U); // the pipe and the context's wake-up
    std::thread writer([fd = fds[1]] {
        for (int i = 0; i < 2; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            EXPECT_EQ(::write(fd, "x", 1), 1);
        }
    });
    loop.run();
    writer.join();
    EXPECT_FALSE(timedOut);
    EXPECT_EQ(reads, 2);
    // The source removed itself; its descriptor is no longer the loop's to watch.
    EXPECT_EQ(pump->watchedDescriptorCount(), 1U);
    ::close(fds[0]);
    ::close(fds[1]);
}

TEST_F(GLibContextPumpTest, ASourceAttachedFromAnotherThreadIsDispatchedOnTheLoopsThread) {
    pump->pump();
    std::atomic<bool> onOwner{false};
    auto fromThread = [&] {
        onOwner = loop.isOwnerThread();
        loop.stop();
        return static_cast<gboolean>(G_SOURCE_REMOVE);
    };
    std::thread other([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        GSource* idle = g_idle_source_new();
        g_source_set_callback(
            idle,
            [](gpointer data) -> gboolean { return (*static_cast<decltype(fromThread)*>(data))(); },
            &fromThread, nullptr);
        g_source_attach(idle, context);
        g_source_unref(idle);
    });
    loop.run();
    other.join();
    EXPECT_FALSE(timedOut);
    EXPECT_TRUE(onOwner);
}

TEST_F(GLibContextPumpTest, AnAlwaysReadySourceDoesNotStarveTheLoop) {
    int spins = 0;
    auto busy = [&] {
        ++spins;
        return static_cast<gboolean>(G_SOURCE_CONTINUE);
    };
    attach(g_idle_source_new(), &busy);
    bool loopTimerFired = false;
    loop.addTimer(0.05, false, [&] {
        loopTimerFired = true;
        loop.stop();
    });
    pump->pumpSoon();
    loop.run();
    EXPECT_FALSE(timedOut);
    EXPECT_TRUE(loopTimerFired);
    EXPECT_GT(spins, 100);
}

TEST_F(GLibContextPumpTest, TheDefaultContextIsLeftToWhoeverRunsIt) {
    int privateRuns = 0;
    int defaultRuns = 0;
    auto onPrivate = [&] {
        ++privateRuns;
        loop.stop();
        return static_cast<gboolean>(G_SOURCE_REMOVE);
    };
    auto onDefault = [&] {
        ++defaultRuns;
        return static_cast<gboolean>(G_SOURCE_REMOVE);
    };
    GSource* elsewhere = g_idle_source_new();
    g_source_set_callback(
        elsewhere,
        [](gpointer data) -> gboolean { return (*static_cast<decltype(onDefault)*>(data))(); },
        &onDefault, nullptr);
    g_source_attach(elsewhere, nullptr);
    attach(g_timeout_source_new(20), &onPrivate);
    pump->pump();
    loop.run();
    EXPECT_EQ(privateRuns, 1);
    EXPECT_EQ(defaultRuns, 0);
    // A toolkit iterating the default context runs it there.
    while (g_main_context_iteration(nullptr, FALSE) != FALSE) {
    }
    EXPECT_EQ(defaultRuns, 1);
    g_source_unref(elsewhere);
}

} // namespace
} // namespace scrivlet::atspi
