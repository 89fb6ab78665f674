#include "tests/support/ManualScheduler.h"

namespace scrivlet {

ManualScheduler::ManualScheduler(Date start) : now_(start) {}

Scheduler::TimerID ManualScheduler::scheduleAfter(double delaySeconds,
                                                  std::function<void()> action) {
    const auto delay = std::chrono::duration_cast<Date::duration>(
        std::chrono::duration<double>(delaySeconds < 0 ? 0 : delaySeconds));
    const TimerID id = nextID_++;
    timers_.emplace(std::make_pair(now_ + delay, id), std::move(action));
    return id;
}

void ManualScheduler::cancel(TimerID timer) {
    for (auto it = timers_.begin(); it != timers_.end(); ++it) {
        if (it->first.second == timer) {
            timers_.erase(it);
            return;
        }
    }
}

void ManualScheduler::advance(double seconds) {
    const Date end =
        now_ + std::chrono::duration_cast<Date::duration>(std::chrono::duration<double>(seconds));
    while (!timers_.empty() && timers_.begin()->first.first <= end) {
        auto first = timers_.begin();
        now_ = first->first.first;
        std::function<void()> action = std::move(first->second);
        timers_.erase(first);
        action();
    }
    now_ = end;
}

} // namespace scrivlet
