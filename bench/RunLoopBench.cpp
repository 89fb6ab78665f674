#include "Platform/base/RunLoop.h"
#include "Platform/control/VirtualClock.h"

#include <benchmark/benchmark.h>

using namespace scrivlet;

namespace {

// Posting from the owner thread and draining: the path every UI callback takes to defer work.
void BM_MainQueueAsync(benchmark::State& state) {
    RunLoop loop(makeRealRunLoopBackend());
    std::int64_t ran = 0;
    for (auto _ : state) {
        loop.async([&ran] { ++ran; });
        loop.runUntilIdle();
    }
    if (ran != state.iterations()) {
        state.SkipWithError("a posted block did not run");
    }
}
BENCHMARK(BM_MainQueueAsync);

// One tick of a display-rate timer on virtual time: scheduling, firing and rescheduling.
void BM_TimerFire(benchmark::State& state) {
    RunLoop loop(makeVirtualRunLoopBackend(Date{}));
    std::int64_t ticks = 0;
    loop.addTimer(1.0 / 120, true, [&ticks] { ++ticks; });
    for (auto _ : state) {
        loop.advance(1.0 / 120);
    }
    if (ticks != state.iterations()) {
        state.SkipWithError("the timer did not tick once per frame");
    }
}
BENCHMARK(BM_TimerFire);

// A due one-shot timer ending a real run: adding, ordering, firing and leaving run().
void BM_TimerFireReal(benchmark::State& state) {
    RunLoop loop(makeRealRunLoopBackend());
    std::int64_t fired = 0;
    for (auto _ : state) {
        loop.scheduleAfter(0, [&] {
            ++fired;
            loop.stop();
        });
        loop.run();
    }
    if (fired != state.iterations()) {
        state.SkipWithError("a timer did not fire");
    }
}
BENCHMARK(BM_TimerFireReal);

} // namespace
