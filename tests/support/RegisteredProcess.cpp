#include "tests/support/RegisteredProcess.h"

#include "Platform/system/ApplicationRegistry.h"
#include "tests/support/ChildProcess.h"

#include <csignal>
#include <stdexcept>
#include <unistd.h>

namespace scrivlet {

RegisteredProcess::RegisteredProcess(const std::filesystem::path& registry,
                                     const std::string& bundleIdentifier, bool terminating) {
    int ready[2];
    if (::pipe(ready) != 0) {
        throw std::runtime_error("pipe");
    }
    pid_ = runInChild([&] {
        ::close(ready[0]);
        ApplicationRegistry copy(registry);
        const auto failed = copy.registerCurrentProcess(copy.lockExclusively(), bundleIdentifier,
                                                        "/elsewhere/Scrivlet.app");
        if (!failed && terminating) {
            copy.markCurrentProcessTerminated();
        }
        const char answer = failed ? 'n' : 'y';
        (void)::write(ready[1], &answer, 1);
        ::close(ready[1]);
        for (;;) {
            ::pause();
        }
        return 0;
    });
    ::close(ready[1]);
    char answer = 'n';
    const bool heard = ::read(ready[0], &answer, 1) == 1;
    ::close(ready[0]);
    if (!heard || answer != 'y') {
        kill();
        throw std::runtime_error("the other copy could not register");
    }
}

RegisteredProcess::~RegisteredProcess() {
    kill();
}

void RegisteredProcess::kill() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        waitForChild(pid_);
        pid_ = -1;
    }
}

} // namespace scrivlet
