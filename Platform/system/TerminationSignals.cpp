#include "Platform/system/TerminationSignals.h"

#include "Platform/base/RunLoop.h"

#include <csignal>
#include <cstdint>
#include <sys/signalfd.h>
#include <unistd.h>

namespace scrivlet {

TerminationSignals::TerminationSignals(RunLoop& loop, FileHandle fd)
    : loop_(loop), fd_(std::move(fd)) {}

std::unique_ptr<TerminationSignals>
TerminationSignals::install(RunLoop& loop, std::function<void(int signal)> onSignal) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    if (sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) {
        return nullptr;
    }
    FileHandle owned(signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC));
    if (!owned.isValid()) {
        return nullptr;
    }
    const int fd = owned.get();
    std::unique_ptr<TerminationSignals> installed(new TerminationSignals(loop, std::move(owned)));
    installed->source_ = loop.addFileDescriptorSource(fd, [fd, onSignal = std::move(onSignal)] {
        signalfd_siginfo info{};
        while (::read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            onSignal(static_cast<int>(info.ssi_signo));
        }
    });
    return installed;
}

TerminationSignals::~TerminationSignals() {
    // The descriptor closes after this, once the loop no longer watches it.
    loop_.removeSource(source_);
}

} // namespace scrivlet
