#pragma once

#include <filesystem>
#include <string>
#include <sys/types.h>

namespace scrivlet {

// Another copy of the app in a child process: it registers in `registry` under the bundle
// identifier (and, when asked, marks itself terminating), then waits to be killed.
class RegisteredProcess {
public:
    RegisteredProcess(const std::filesystem::path& registry, const std::string& bundleIdentifier,
                      bool terminating = false);
    ~RegisteredProcess();
    RegisteredProcess(const RegisteredProcess&) = delete;
    RegisteredProcess& operator=(const RegisteredProcess&) = delete;

    pid_t processIdentifier() const { return pid_; }
    // SIGKILL and reap: the entry stays behind, as after a crash.
    void kill();

private:
    pid_t pid_ = -1;
};

} // namespace scrivlet
