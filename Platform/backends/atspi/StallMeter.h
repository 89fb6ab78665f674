#pragma once

#include "Platform/base/RunLoop.h"

#include <memory>
#include <string>

namespace scrivlet::atspi {

// Measures how long the main thread is held, by anything, for the benchmarks: a timer ticks
// every couple of milliseconds, and a tick that comes late by more than `reportSeconds` was
// held up that long: by work on the thread, or by the system not running it (a loaded
// machine). To tell the two apart, each stall is appended to `file` as "<wall-clock
// milliseconds> <stall milliseconds> <milliseconds of processor time the thread used meanwhile>".
// Costs a wake-up per tick: measurements only.
class StallMeter {
public:
    StallMeter(RunLoop& loop, std::string file, double reportSeconds = 0.004);
    ~StallMeter();
    StallMeter(const StallMeter&) = delete;
    StallMeter& operator=(const StallMeter&) = delete;

    // One from the environment: SCRIVLET_STALL_FILE names the file; nothing without it.
    static std::unique_ptr<StallMeter> fromEnvironment(RunLoop& loop);

private:
    void tick();

    RunLoop& loop_;
    std::string file_;
    double reportSeconds_;
    double lastTick_ = 0;
    double lastThreadTime_ = 0;
    RunLoop::TimerID timer_;
};

} // namespace scrivlet::atspi
