#pragma once

#include "Platform/base/Export.h"
#include "Platform/base/FileHandle.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace scrivlet {

class RunLoop;

// Turns SIGINT and SIGTERM into an ordinary event of the run loop, so that a signal ends the
// program through the same path as a termination from its menu, with no work in a signal
// handler. Call before any thread starts; the signals stay blocked for the process.
class SCRIVLET_PLATFORM_API TerminationSignals {
public:
    static std::unique_ptr<TerminationSignals> install(RunLoop& loop,
                                                       std::function<void(int signal)> onSignal);
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

private:
    TerminationSignals(RunLoop& loop, FileHandle fd);
    RunLoop& loop_;
    FileHandle fd_;
    std::uint64_t source_ = 0;
};

} // namespace scrivlet
