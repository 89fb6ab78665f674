#pragma once

#include "Platform/RunLoop.h"

#include <functional>
#include <memory>

namespace scrivlet {

// A run loop backend for a process whose event loop belongs to Qt (a plug-in inside another
// program). The platform run loop never blocks there: Qt waits, and `pump` (which runs the
// platform loop's ready work, RunLoop::runUntilIdle) is called on Qt's thread whenever one of
// the loop's descriptors turns readable or another thread posts to the loop. Its waits only
// look. Timers of the platform loop are not driven: nothing that runs inside a file manager
// schedules one.
//
// Must be created on the thread that runs Qt's event loop, which then owns the platform loop.
std::unique_ptr<RunLoopBackend> makeQtRunLoopBackend(std::function<void()> pump);

} // namespace scrivlet
