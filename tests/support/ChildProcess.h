#pragma once

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace scrivlet {

// Runs `body` in a forked child that exits with its return value (1 if it throws) without
// returning into the test framework. Fork before opening databases in the parent.
pid_t runInChild(const std::function<int()>& body);

// Starts `program` with `arguments` as a second process in this environment (the test's
// temporary home); -1 when it cannot start. Wait for it with waitForChild.
pid_t startProgram(const std::string& program, const std::vector<std::string>& arguments);

// Waits for the child and answers its exit status, or -signal when a signal ended it.
int waitForChild(pid_t child);

} // namespace scrivlet
