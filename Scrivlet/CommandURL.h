#pragma once

#include "Platform/base/URL.h"

#include <optional>
#include <string>

namespace scrivlet {

// A command URL as the app reads it: scheme "scrivlet", the command as host, and the file
// as the query item "path", e.g. scrivlet://remove?path=%2FUsers%2Fme%2Fa.txt
struct CommandURL {
    std::string command; // the host; empty when the URL has none
    std::string path;    // the first "path" item's value, percent-decoded
};

inline constexpr const char* commandURLScheme = "scrivlet";

// Nothing when the URL is not a command URL: another scheme (compared exactly) or none, a
// URL that cannot be taken apart, or no "path" item with a value. An empty value counts as
// none: it names no file.
std::optional<CommandURL> readCommandURL(const URL& url);

} // namespace scrivlet
