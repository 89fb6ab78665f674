#include "tests/support/WithoutSystemCall.h"

#include <cerrno>
#include <cstddef>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace scrivlet {

namespace {

constexpr int noFilter = 100;

bool installFilter(long call) {
    sock_filter program[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<unsigned>(call), 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog filter{static_cast<unsigned short>(std::size(program)), program};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) == 0;
}

} // namespace

std::optional<int> runWithoutSystemCall(long call, const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child < 0) {
        return std::nullopt;
    }
    if (child == 0) {
        // Invalid arguments throughout: a call the filter lets through fails with EFAULT or
        // EBADF, never ENOSYS.
        if (!installFilter(call) || ::syscall(call, -1, nullptr, nullptr, 0, 0, 0) >= 0 ||
            errno != ENOSYS) {
            ::_exit(noFilter);
        }
        ::_exit(body());
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) == noFilter) {
        return std::nullopt;
    }
    return WEXITSTATUS(status);
}

} // namespace scrivlet
