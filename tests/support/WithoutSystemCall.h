#pragma once

#include <functional>
#include <optional>

namespace scrivlet {

// Runs `body` in a child process in which the system call numbered `call` fails with ENOSYS,
// as on a kernel that predates it (a seccomp filter: it cannot be lifted, hence the child).
// Answers the child's exit status, `body`'s result; nullopt when no filter could be put in
// place here, or the call still answers.
std::optional<int> runWithoutSystemCall(long call, const std::function<int()>& body);

} // namespace scrivlet
