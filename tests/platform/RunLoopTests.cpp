#include "Platform/base/RunLoop.h"
#include "Platform/control/VirtualClock.h"

#include <atomic>
#include <cmath>
#include <fcntl.h>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace scrivlet;

namespace {

constexpr double frame = 1.0 / 120;
constexpr double patience = 10.0; // only bounds a hang; a passing run never waits this long

const Date virtualStart{std::chrono::seconds(1'800'000'000)};

RunLoop makeVirtualLoop() {
    return RunLoop(makeVirtualRunLoopBackend(virtualStart));
}

struct Pipe {
    int read = -1;
    int write = -1;
    Pipe() {
        int ends[2];
        EXPECT_EQ(::pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
        read = ends[0];
        write = ends[1];
    }
    ~Pipe() {
        ::close(read);
        ::close(write);
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    void put() const { EXPECT_EQ(::write(write, "x", 1), 1); }
    bool take() const {
        char byte = 0;
        return ::read(read, &byte, 1) == 1;
    }
};

// Ends a real run that would otherwise hang, failing the test instead.
void guardAgainstHang(RunLoop& loop) {
    loop.scheduleAfter(patience, [&loop] {
        ADD_FAILURE() << "the run loop did not stop";
        loop.stop();
    });
}

// A toolkit's event loop in miniature: it asks for the loop's descriptor once, turns the run
// loop before it blocks and whenever that descriptor is readable, and blocks in poll() on
// nothing else. Nested loops run until their own condition holds (as a modal dialog runs until
// answered) or everything quits. `toolkitEvent` stands for a callback of the toolkit's own (a
// menu item chosen), run outside the run loop's turn.
class PollingDriver final : public RunLoopDriver {
public:
    explicit PollingDriver(RunLoop& loop) : loop_(loop), descriptor_(loop.driverDescriptor()) {}

    void exec() override {
        ++execs;
        runUntil([] { return false; });
        quitting_ = false;
    }
    void quit() override { quitting_ = true; }

    void runUntil(const std::function<bool()>& done) {
        while (!quitting_ && !done()) {
            if (toolkitEvent) {
                std::exchange(toolkitEvent, nullptr)();
            }
            if (quitting_) {
                break;
            }
            loop_.performReady();
            if (quitting_ || done()) {
                break;
            }
            pollfd watched{descriptor_, POLLIN, 0};
            ASSERT_EQ(::poll(&watched, 1, static_cast<int>(patience * 1000)), 1)
                << "nothing woke the driver";
            ++wakeups;
        }
    }

    int execs = 0;
    int wakeups = 0;
    std::function<void()> toolkitEvent;

private:
    RunLoop& loop_;
    int descriptor_;
    bool quitting_ = false;
};

} // namespace

TEST(RunLoopDriverTest, ADrivenLoopRunsTimersSourcesAndOtherThreadsWorkUntilStopped) {
    RunLoop loop(makeRealRunLoopBackend());
    PollingDriver driver(loop);
    loop.setDriver(&driver);
    guardAgainstHang(loop);
    Pipe pipe;
    std::vector<std::string> events;
    loop.addFileDescriptorSource(pipe.read, [&] {
        pipe.take();
        events.push_back("source");
        // Work posted on the loop's own thread wakes nothing: the driver finds it before it
        // blocks again.
        loop.async([&] {
            events.push_back("posted");
            std::thread([&] { loop.async([&] { events.push_back("other thread"); }); }).detach();
        });
    });
    loop.scheduleAfter(0.01, [&] {
        events.push_back("timer");
        std::thread([&] { pipe.put(); }).detach();
    });
    // A stop from another thread reaches the driver through the descriptor.
    loop.scheduleAfter(0.05, [&] { std::thread([&] { loop.stop(); }).join(); });
    loop.run();
    EXPECT_EQ(events, (std::vector<std::string>{"timer", "source", "posted", "other thread"}));
    EXPECT_EQ(driver.execs, 1);

    // A stop on the loop's thread, from a callback the toolkit made, quits the driver too.
    driver.toolkitEvent = [&] { loop.stop(); };
    loop.run();
    EXPECT_EQ(driver.execs, 2);
    loop.setDriver(nullptr);
}

TEST(RunLoopDriverTest, TimersKeepFiringWhileACallbackWaitsInANestedToolkitLoop) {
    RunLoop loop(makeRealRunLoopBackend());
    PollingDriver driver(loop);
    loop.setDriver(&driver);
    guardAgainstHang(loop);
    int ticks = 0;
    const RunLoop::TimerID ticker = loop.addTimer(0.002, true, [&] { ++ticks; });
    bool answered = false;
    // A wake-up from another thread, with no source to read: the driver must not see it for ever.
    std::thread([&] { loop.async([] {}); }).join();
    loop.scheduleAfter(0.001, [&] {
        // A modal dialog: the callback waits in a loop of the toolkit's own until answered.
        loop.scheduleAfter(0.03, [&] { answered = true; });
        driver.runUntil([&] { return answered; });
        loop.stop();
    });
    loop.run();
    EXPECT_TRUE(answered);
    EXPECT_GE(ticks, 5);
    // Each wake-up had work: an expiry left unread would keep the descriptor readable and the
    // driver spinning.
    EXPECT_LE(driver.wakeups, ticks + 5);
    loop.invalidateTimer(ticker);
    loop.setDriver(nullptr);

    // A virtual clock cannot be waited on from outside.
    RunLoop virtualLoop = makeVirtualLoop();
    EXPECT_EQ(virtualLoop.driverDescriptor(), -1);
}

TEST(RunLoopQueueTest, BlocksAndTasksRunInPostingOrderWithFollowUpsAfterQueuedWork) {
    RunLoop loop = makeVirtualLoop();
    std::vector<std::string> order;
    loop.async([&] {
        order.push_back("a");
        loop.async([&] { order.push_back("a.1"); });
    });
    loop.postTask([&] {
        order.push_back("b");
        loop.postTask([&] { order.push_back("b.1"); });
    });
    loop.async([&] { order.push_back("c"); });
    EXPECT_TRUE(order.empty()); // nothing runs at posting time
    EXPECT_TRUE(loop.runUntilIdle());
    EXPECT_EQ(order, (std::vector<std::string>{"a", "b", "c", "a.1", "b.1"}));
    EXPECT_FALSE(loop.runUntilIdle());
}

TEST(RunLoopQueueTest, SelfRepostingBlockDoesNotStarveADueTimer) {
    RunLoop loop = makeVirtualLoop();
    bool timerFired = false;
    int reposts = 0;
    std::function<void()> repost = [&] {
        if (!timerFired && ++reposts < 1000) {
            loop.async(repost);
        }
    };
    loop.scheduleAfter(0, [&] { timerFired = true; });
    loop.async(repost);
    loop.runUntilIdle();
    EXPECT_TRUE(timerFired);
    EXPECT_LT(reposts, 5);
}

TEST(RunLoopQueueTest, AsyncFromAnotherThreadWakesARealRunThatStopEnds) {
    RunLoop loop(makeRealRunLoopBackend());
    guardAgainstHang(loop);
    std::thread::id ranOn;
    std::thread poster([&] {
        loop.async([&] {
            ranOn = std::this_thread::get_id();
            EXPECT_TRUE(loop.isRunning());
            loop.stop();
        });
    });
    loop.run();
    poster.join();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_FALSE(loop.isRunning());

    // Now the stop itself comes from the other thread, once the loop is known to be running.
    std::promise<void> running;
    loop.async([&] { running.set_value(); });
    std::thread stopper([&] {
        running.get_future().wait();
        loop.stop();
    });
    loop.run();
    stopper.join();
}

TEST(RunLoopTimerTest, AsyncAfterAndScheduleAfterRunAtTheirInstant) {
    RunLoop loop = makeVirtualLoop();
    double blockRanAt = -1;
    double timerRanAt = -1;
    loop.asyncAfter(0.5, [&] { blockRanAt = loop.monotonicNow(); });
    const auto timer = loop.scheduleAfter(0.25, [&] { timerRanAt = loop.monotonicNow(); });
    EXPECT_NE(timer, Scheduler::invalidTimer);
    loop.advance(0.2);
    EXPECT_EQ(timerRanAt, -1);
    loop.advance(0.2);
    EXPECT_DOUBLE_EQ(timerRanAt, 0.25);
    EXPECT_EQ(blockRanAt, -1);
    loop.advance(0.2);
    EXPECT_DOUBLE_EQ(blockRanAt, 0.5);
    EXPECT_DOUBLE_EQ(loop.monotonicNow(), 0.6);
    EXPECT_EQ(loop.now(), virtualStart + std::chrono::milliseconds(600));
}

TEST(RunLoopTimerTest, ALoopDrivenFromOutsideLearnsWhenItsNextTimerIsDue) {
    RunLoop loop = makeVirtualLoop();
    EXPECT_EQ(loop.secondsUntilNextTimer(), std::nullopt);
    loop.asyncAfter(0.5, [] {});
    // Held while the loop tracks a menu; not due in the default mode.
    loop.addTimer(
        0.1, false, [] {}, RunLoopMode::eventTracking);
    loop.advance(0.2);
    ASSERT_TRUE(loop.secondsUntilNextTimer());
    EXPECT_NEAR(*loop.secondsUntilNextTimer(), 0.3, 1e-9);
    loop.setCurrentMode(RunLoopMode::eventTracking);
    EXPECT_EQ(loop.secondsUntilNextTimer(), 0.0) << "overdue";
    loop.setCurrentMode(RunLoopMode::defaultMode);
    loop.advance(0.3);
    EXPECT_EQ(loop.secondsUntilNextTimer(), std::nullopt);
}

TEST(RunLoopTimerTest, RepeatingFrameTimerTicksOnEveryFrameWithoutDrift) {
    RunLoop loop = makeVirtualLoop();
    std::vector<double> ticks;
    loop.addTimer(frame, true, [&] { ticks.push_back(loop.monotonicNow()); });
    loop.advance(1.0);
    ASSERT_EQ(ticks.size(), 120u);
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        EXPECT_NEAR(ticks[i], static_cast<double>(i + 1) * frame, 1e-6) << i;
    }
    // Frame-sized steps must land on the ticks too, one per step.
    for (int step = 0; step < 120; ++step) {
        loop.advance(frame);
        ASSERT_EQ(ticks.size(), 121u + static_cast<std::size_t>(step)) << step;
    }
}

TEST(RunLoopTimerTest, ModesHoldDefaultTimersWhileTrackingAndLateRepeatsSkipMissedTicks) {
    RunLoop loop = makeVirtualLoop();
    std::vector<double> defaultTicks;
    int commonTicks = 0;
    int trackingTicks = 0;
    loop.addTimer(
        0.1, true, [&] { defaultTicks.push_back(loop.monotonicNow()); }, RunLoopMode::defaultMode);
    loop.addTimer(0.1, true, [&] { ++commonTicks; });
    loop.addTimer(
        0.1, true, [&] { ++trackingTicks; }, RunLoopMode::eventTracking);

    loop.setCurrentMode(RunLoopMode::eventTracking);
    loop.advance(0.35);
    EXPECT_TRUE(defaultTicks.empty());
    EXPECT_EQ(commonTicks, 3);
    EXPECT_EQ(trackingTicks, 3);

    // Released late, it fires once, then keeps its original phase: 0.4, not 0.45.
    loop.setCurrentMode(RunLoopMode::defaultMode);
    loop.runUntilIdle();
    loop.advance(0.1);
    EXPECT_EQ(trackingTicks, 3);
    ASSERT_EQ(defaultTicks.size(), 2u);
    EXPECT_NEAR(defaultTicks[0], 0.35, 1e-9);
    EXPECT_NEAR(defaultTicks[1], 0.4, 1e-9);
}

TEST(RunLoopTimerTest, InvalidatedTimersNeverFireAgain) {
    RunLoop loop = makeVirtualLoop();
    int selfTicks = 0;
    Scheduler::TimerID self = 0;
    self = loop.addTimer(0.1, true, [&] {
        if (++selfTicks == 3) {
            loop.invalidateTimer(self);
        }
    });
    // Three timers at one instant, firing in creation order: the first cancels the second; the
    // third cancels the first, which has fired already.
    Scheduler::TimerID first = 0;
    Scheduler::TimerID second = 0;
    bool secondFired = false;
    first = loop.addTimer(0.5, false, [&] {
        EXPECT_FALSE(loop.isTimerValid(first)); // a fired one-shot is spent
        loop.invalidateTimer(second);
    });
    second = loop.addTimer(0.5, false, [&] { secondFired = true; });
    loop.addTimer(0.5, false, [&] { loop.cancel(first); });
    EXPECT_EQ(loop.timerCount(), 4u);

    loop.advance(1.0);
    EXPECT_EQ(selfTicks, 3);
    EXPECT_FALSE(loop.isTimerValid(self));
    EXPECT_FALSE(secondFired);
    EXPECT_EQ(loop.timerCount(), 0u);
}

TEST(RunLoopTimerTest, CancellingFiredOrUnknownTimersChangesNothing) {
    RunLoop loop = makeVirtualLoop();
    int fired = 0;
    const auto once = loop.scheduleAfter(0.1, [&] { ++fired; });
    const auto later = loop.scheduleAfter(0.3, [&] { ++fired; });
    loop.advance(0.2);
    loop.cancel(once);
    loop.cancel(Scheduler::invalidTimer);
    loop.cancel(later + 1000);
    EXPECT_TRUE(loop.isTimerValid(later));
    loop.advance(0.2);
    EXPECT_EQ(fired, 2);
}

TEST(RunLoopTimerTest, RealTimersFireInsideRunAndAdvance) {
    RunLoop loop(makeRealRunLoopBackend());
    guardAgainstHang(loop);
    const double start = loop.monotonicNow();
    double firedAt = 0;
    loop.scheduleAfter(0.01, [&] {
        firedAt = loop.monotonicNow();
        loop.stop();
    });
    loop.run();
    EXPECT_GE(firedAt, start + 0.01); // never early; how late is the benchmarks' business

    // advance() runs its full time even when something stops; the stop is kept for the next
    // run(), which it ends at once, as a stop sent just before a run starts must.
    bool firedInAdvance = false;
    loop.scheduleAfter(0.005, [&] {
        firedInAdvance = true;
        loop.stop();
    });
    const double advanceStart = loop.monotonicNow();
    loop.advance(0.02);
    EXPECT_TRUE(firedInAdvance);
    EXPECT_GE(loop.monotonicNow(), advanceStart + 0.02);
    loop.run();
}

TEST(RunLoopSourceTest, PipeSourceFiresWhenReadableAndCanRemoveItselfOrAnother) {
    RunLoop loop = makeVirtualLoop();
    Pipe pipe;
    int firstCalls = 0;
    int secondCalls = 0;
    RunLoop::SourceID first = 0;
    RunLoop::SourceID second = 0;
    first = loop.addFileDescriptorSource(pipe.read, [&] {
        ++firstCalls;
        if (firstCalls == 2) {
            loop.removeSource(first);  // itself, without consuming: must not be called again
            loop.removeSource(second); // and the next one in line for this very byte
        }
    });
    second = loop.addFileDescriptorSource(pipe.read, [&] {
        ++secondCalls;
        pipe.take();
    });
    EXPECT_FALSE(loop.runUntilIdle());
    pipe.put();
    loop.runUntilIdle();
    EXPECT_EQ(firstCalls, 1);
    EXPECT_EQ(secondCalls, 1);
    pipe.put();
    loop.runUntilIdle();
    loop.advance(1.0);
    EXPECT_EQ(firstCalls, 2);
    EXPECT_EQ(secondCalls, 1);
}

TEST(RunLoopSourceTest, RealLoopWatchesADescriptorNumberReusedAfterRemoval) {
    RunLoop loop(makeRealRunLoopBackend());
    guardAgainstHang(loop);
    auto pipe = std::make_unique<Pipe>();
    const int number = pipe->read;
    RunLoop::SourceID source = 0;
    int woken = 0;
    source = loop.addFileDescriptorSource(pipe->read, [&] {
        pipe->take();
        if (++woken == 2) {
            loop.stop();
            return;
        }
        // Swap in a new pipe whose read end takes the same number, as a re-created watch would.
        loop.removeSource(source);
        pipe.reset();
        pipe = std::make_unique<Pipe>();
        ASSERT_EQ(pipe->read, number);
        source = loop.addFileDescriptorSource(pipe->read, [&] {
            pipe->take();
            ++woken;
            loop.stop();
        });
        pipe->put();
    });
    pipe->put();
    loop.run();
    EXPECT_EQ(woken, 2);
}

TEST(RunLoopTest, MainLoopIsInstalledAndForgottenWithTheLoop) {
    {
        RunLoop loop = makeVirtualLoop();
        RunLoop::setMain(&loop);
        EXPECT_TRUE(RunLoop::hasMain());
        EXPECT_EQ(&RunLoop::main(), &loop);
        EXPECT_TRUE(loop.isOwnerThread());
        bool offThread = true;
        std::thread([&] { offThread = loop.isOwnerThread(); }).join();
        EXPECT_FALSE(offThread);
    }
    EXPECT_FALSE(RunLoop::hasMain());
}

// Held by pending work and calling the loop when released, as a panel's view model cancels
// its save timer and a controller posts its last notice.
struct CallsTheLoopWhenReleased {
    RunLoop& loop;
    Scheduler::TimerID other;
    int& released;
    CallsTheLoopWhenReleased(RunLoop& runLoop, Scheduler::TimerID otherTimer, int& count)
        : loop(runLoop), other(otherTimer), released(count) {}
    ~CallsTheLoopWhenReleased() {
        loop.cancel(other);
        loop.async([] { ADD_FAILURE() << "posted while released, and run"; });
        loop.addTimer(frame, true, [] { ADD_FAILURE() << "added while released, and run"; });
        ++released;
    }
    CallsTheLoopWhenReleased(const CallsTheLoopWhenReleased&) = delete;
    CallsTheLoopWhenReleased& operator=(const CallsTheLoopWhenReleased&) = delete;
};

TEST(RunLoopTeardownTest, ALoopBeingDestroyedCanStillBeCalledByWhatItsWorkHeld) {
    int released = 0;
    Pipe pipe;
    {
        auto loop = std::make_unique<RunLoop>(makeVirtualRunLoopBackend(virtualStart));
        auto holder = [&loop, &released](Scheduler::TimerID other) {
            return std::make_shared<CallsTheLoopWhenReleased>(*loop, other, released);
        };
        // Each holder cancels a timer that is still pending, which the loop would otherwise
        // erase from the table it is destroying.
        const auto first = loop->scheduleAfter(60, [] {});
        const auto second = loop->scheduleAfter(60, [] {});
        const auto third = loop->scheduleAfter(60, [] {});
        loop->addTimer(frame, true, [held = holder(first)] {});
        loop->asyncAfter(1, [held = holder(second)] {});
        loop->async([held = holder(third)] {});
        loop->addFileDescriptorSource(pipe.read, [held = holder(first)] {});
    }
    EXPECT_EQ(released, 4);
}

TEST(RunLoopTeardownTest, DiscardedWorkNeverRunsWhileSourcesAndNewWorkDo) {
    RunLoop loop = makeVirtualLoop();
    Pipe pipe;
    int reads = 0;
    loop.addFileDescriptorSource(pipe.read, [&] {
        pipe.take();
        ++reads;
    });
    int released = 0;
    auto kept = std::make_shared<int>(0);
    const std::weak_ptr<int> watch = kept;
    const auto other = loop.scheduleAfter(60, [] { ADD_FAILURE() << "a discarded timer ran"; });
    loop.addTimer(frame, true, [kept] { ADD_FAILURE() << "a discarded timer ran"; });
    loop.asyncAfter(0.5, [kept] { ADD_FAILURE() << "a discarded block ran"; });
    loop.async([kept] { ADD_FAILURE() << "a discarded block ran"; });
    loop.async([held = std::make_shared<CallsTheLoopWhenReleased>(loop, other, released)] {});
    kept.reset();

    loop.discardPendingWork();
    EXPECT_TRUE(watch.expired()) << "what the work held is released at once";
    EXPECT_EQ(released, 1);
    EXPECT_EQ(loop.timerCount(), 0u) << "work left by a release is discarded as well";
    loop.advance(120);

    pipe.put();
    loop.runUntilIdle();
    EXPECT_EQ(reads, 1);
    bool ran = false;
    loop.scheduleAfter(0.1, [&ran] { ran = true; });
    loop.advance(1);
    EXPECT_TRUE(ran);
}

TEST(RunLoopDeathTest, MisuseStopsTheProcessWithAMessage) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    RunLoop loop = makeVirtualLoop();
    EXPECT_DEATH(std::thread([&] { loop.addTimer(1, false, [] {}); }).join(),
                 "RunLoop::addTimer must run on the main thread");
    EXPECT_DEATH(
        {
            loop.async([] { throw std::runtime_error("boom"); });
            loop.runUntilIdle();
        },
        "uncaught.*boom");
    EXPECT_DEATH(
        {
            loop.scheduleAfter(0, [] { throw 42; });
            loop.advance(1);
        },
        "uncaught");
}
