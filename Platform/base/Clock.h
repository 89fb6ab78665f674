#pragma once

#include "Platform/base/Export.h"

#include <chrono>
#include <cstdint>
#include <functional>

namespace scrivlet {

// Wall-clock instants, as the records store them.
using Date = std::chrono::system_clock::time_point;

// Where "now" comes from. Production code uses the system clock; tests hand in a virtual one.
class SCRIVLET_PLATFORM_API Clock {
public:
    virtual ~Clock() = default;
    virtual Date now() const = 0;
};

class SCRIVLET_PLATFORM_API SystemClock final : public Clock {
public:
    Date now() const override { return std::chrono::system_clock::now(); }
    static const SystemClock& shared();
};

// One-shot timers on the caller's thread. The run loop implements this; code that only
// needs "call me back later" depends on this interface so tests can drive time by hand.
class SCRIVLET_PLATFORM_API Scheduler : public Clock {
public:
    using TimerID = std::uint64_t;
    static constexpr TimerID invalidTimer = 0;

    // Runs `action` once, `delaySeconds` from now, on the scheduler's thread.
    virtual TimerID scheduleAfter(double delaySeconds, std::function<void()> action) = 0;
    // Cancelling a timer that already fired, or an invalid one, does nothing.
    virtual void cancel(TimerID timer) = 0;
};

} // namespace scrivlet
