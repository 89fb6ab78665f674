#pragma once

#include "Platform/base/Clock.h"

#include <map>
#include <utility>

namespace scrivlet {

// A scheduler on a virtual clock that only moves when the test says so.
class ManualScheduler final : public Scheduler {
public:
    explicit ManualScheduler(Date start = Date(std::chrono::seconds(1'800'000'000)));

    Date now() const override { return now_; }
    TimerID scheduleAfter(double delaySeconds, std::function<void()> action) override;
    void cancel(TimerID timer) override;

    // Moves the clock forward, firing due timers in deadline order at their own instants.
    void advance(double seconds);
    std::size_t pendingTimers() const { return timers_.size(); }

private:
    Date now_;
    TimerID nextID_ = 1;
    // Keyed by (deadline, id) so equal deadlines fire in scheduling order.
    std::map<std::pair<Date, TimerID>, std::function<void()>> timers_;
};

} // namespace scrivlet
