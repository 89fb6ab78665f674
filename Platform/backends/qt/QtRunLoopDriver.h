#pragma once

#include "Platform/base/RunLoop.h"

#include <functional>
#include <memory>

namespace scrivlet {

// Qt and the platform run loop, when this program owns its event loop (the app on an X11
// desktop): Qt's loop runs, and drives the platform loop through the loop's descriptor.
// Inside another program whose loop belongs to Qt (a file manager plug-in), QtRunLoopBackend
// beside this is the other way round: the platform loop is a guest that Qt pumps. Needs the
// toolkit's application object; `afterTurn` runs after each turn of the platform loop.
std::unique_ptr<RunLoopDriver> makeQtRunLoopDriver(RunLoop& loop, std::function<void()> afterTurn);

} // namespace scrivlet
