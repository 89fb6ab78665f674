#pragma once

#include "Platform/base/Clock.h"
#include "Platform/base/RunLoop.h"

#include <memory>

namespace scrivlet {

// A run-loop backend for tests and scenarios: time starts at monotonic 0 and wall-clock
// `start`, and moves only when the loop waits with nothing ready, by exactly the time it
// asked to wait. A 0.15 s fade or a 120 Hz poll then runs in microseconds, deterministically.
// A wait without a limit really blocks: only another thread can end it.
std::unique_ptr<RunLoopBackend> makeVirtualRunLoopBackend(Date start);

} // namespace scrivlet
