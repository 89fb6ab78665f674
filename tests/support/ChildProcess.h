#pragma once

#include <functional>
#include <sys/types.h>

namespace scrivlet {

// Runs `body` in a forked child that exits with its return value (1 if it throws) without
// returning into the test framework. Fork before opening databases in the parent.
pid_t runInChild(const std::function<int()>& body);

// Waits for the child and answers its exit status, or -signal when a signal ended it.
int waitForChild(pid_t child);

} // namespace scrivlet
