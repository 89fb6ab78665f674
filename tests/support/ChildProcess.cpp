#include "tests/support/ChildProcess.h"

#include <cstdio>
#include <exception>
#include <sys/wait.h>
#include <unistd.h>

namespace scrivlet {

pid_t runInChild(const std::function<int()>& body) {
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child != 0) {
        return child;
    }
    int status = 1;
    try {
        status = body();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "child failed: %s\n", error.what());
    }
    std::fflush(nullptr);
    ::_exit(status);
}

int waitForChild(pid_t child) {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
    }
    if (WIFSIGNALED(status)) {
        return -WTERMSIG(status);
    }
    return WEXITSTATUS(status);
}

} // namespace scrivlet
