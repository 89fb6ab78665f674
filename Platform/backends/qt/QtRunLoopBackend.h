#pragma once

#include "Platform/base/RunLoop.h"

#include <functional>
#include <memory>
#include <optional>

namespace scrivlet {

// A run loop backend for a process whose event loop belongs to Qt (a plug-in inside another
// program). The platform run loop never blocks there: Qt waits, and `pump` runs the platform
// loop's ready work (RunLoop::runUntilIdle) on Qt's thread whenever one of the loop's
// descriptors turns readable, another thread posts to the loop, wake() is called, or the
// loop's next timer is due: `pump` answers how long that is (RunLoop::secondsUntilNextTimer).
// Its waits only look.
//
// Must be created on the thread that runs Qt's event loop, which then owns the platform loop.
// Code on that thread that changed the loop outside a pump (posted work, added a timer) calls
// wake() so that Qt looks again.
using QtRunLoopPump = std::function<std::optional<double>()>;
std::unique_ptr<RunLoopBackend> makeQtRunLoopBackend(QtRunLoopPump pump);

} // namespace scrivlet
