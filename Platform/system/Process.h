#pragma once

#include "Platform/base/Export.h"
#include "Platform/base/PlatformError.h"

#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace scrivlet {

// A program started detached from this one: in a session of its own (no terminal, no
// signals meant for the app's group), standard input, output and error on the null device,
// no descriptor of the app left open in it, default signal handling. It outlives the app.
class SCRIVLET_PLATFORM_API Process {
public:
    std::filesystem::path executableURL;
    std::vector<std::string> arguments;

    // Starts the program; an error (with the program's path and the reason) when it cannot
    // be started, including when the file cannot be executed.
    std::optional<PlatformError> run();
    // The started program's id; 0 before a successful run.
    pid_t processIdentifier() const { return pid_; }
    // Waits for the program to end and answers its exit status (-signal when a signal ended
    // it). For tests and tools: the app never waits for what it starts.
    int waitUntilExit();

    static pid_t currentProcessIdentifier();

private:
    pid_t pid_ = 0;
};

} // namespace scrivlet
