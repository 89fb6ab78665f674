#pragma once

#include "Scrivcore/Annotation.h"

#include <filesystem>
#include <optional>
#include <string>

// What the soaks share: the files they write and read, the status a written version carries,
// their temporary home and their one argument.
namespace scrivlet::soak {

constexpr int pathCount = 48;

// "file INDEX.txt" in `folder`.
std::string pathAt(const std::filesystem::path& folder, int index);

// The status of a record written with `version`: every status comes round in turn.
Annotation::Status statusOf(unsigned long long version);

// A temporary home (<temp>/NAME.XXXXXX) with home, data, config, cache and private runtime
// folders, which HOME and the XDG variables name from here on.
std::filesystem::path makeSandbox(const std::string& name);

// The run's length in seconds, the only argument; nothing, with the usage printed, for any
// other arguments.
std::optional<double> secondsArgument(int argc, char** argv, const std::string& program);

} // namespace scrivlet::soak
