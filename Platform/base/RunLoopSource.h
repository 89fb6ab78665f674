#pragma once

#include "Platform/base/Export.h"
#include "Platform/base/RunLoop.h"

namespace scrivlet {

// An event source that delivers only while it is scheduled on a run loop, as observer
// sources do: add it to the main loop to start receiving, remove it to stop.
class SCRIVLET_PLATFORM_API RunLoopSource {
public:
    bool isScheduled() const { return loop_ != nullptr; }
    RunLoop* loop() const { return loop_; }
    RunLoopMode mode() const { return mode_; }
    // Whether an event posted now reaches the loop in its current mode.
    bool deliversNow() const {
        return loop_ != nullptr &&
               (mode_ == RunLoopMode::commonModes || loop_->currentMode() == mode_);
    }

private:
    friend void CFRunLoopAddSource(RunLoop&, RunLoopSource&, RunLoopMode);
    friend void CFRunLoopRemoveSource(RunLoop&, RunLoopSource&, RunLoopMode);
    RunLoop* loop_ = nullptr;
    RunLoopMode mode_ = RunLoopMode::commonModes;
};

inline RunLoop& CFRunLoopGetMain() {
    return RunLoop::main();
}

inline void CFRunLoopAddSource(RunLoop& loop, RunLoopSource& source, RunLoopMode mode) {
    source.loop_ = &loop;
    source.mode_ = mode;
}

inline void CFRunLoopRemoveSource(RunLoop& loop, RunLoopSource& source, RunLoopMode mode) {
    if (source.loop_ == &loop && source.mode_ == mode) {
        source.loop_ = nullptr;
    }
}

} // namespace scrivlet
