#pragma once

#include "Platform/base/RunLoop.h"

#include <map>
#include <optional>
#include <vector>

namespace scrivlet::atspi {

// Runs a GLib main context from the platform run loop, so that GLib-based libraries deliver
// on the one main loop and no second loop competes with it. The context's descriptors become
// the run loop's file-descriptor sources and its earliest timeout one of its timers; each
// time one of them fires, the context is prepared, polled without waiting, checked and
// dispatched until it has nothing ready.
//
// The context should be private to its user: when a toolkit iterates the default context
// on the same thread, the two would dispatch each other's sources from inside one another.
// The pump owns the context for its lifetime (acquired on the run loop's thread).
class GLibContextPump {
public:
    // `context` is the GMainContext* to drive; GLib's type stays out of this header.
    GLibContextPump(RunLoop& loop, void* context);
    ~GLibContextPump();
    GLibContextPump(const GLibContextPump&) = delete;
    GLibContextPump& operator=(const GLibContextPump&) = delete;

    // Dispatches what is ready now and watches what the context waits for next. Call it after
    // work that may have given the context something to do without waking a descriptor
    // (an idle callback added on this thread, a source attached).
    void pump();
    // Runs pump() on the run loop's next turn; several requests before then make one.
    void pumpSoon();

    // How many descriptors the run loop watches for the context now.
    std::size_t watchedDescriptorCount() const { return sources_.size(); }

private:
    void watch(const std::vector<int>& readable, std::optional<int> timeoutMilliseconds,
               bool wantsWritable);

    RunLoop& loop_;
    void* context_;
    bool acquired_ = false;
    bool pumping_ = false;
    bool pumpPosted_ = false;
    std::map<int, RunLoop::SourceID> sources_;
    std::optional<RunLoop::TimerID> timer_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace scrivlet::atspi
