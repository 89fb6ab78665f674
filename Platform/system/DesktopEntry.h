#pragma once

#include "Platform/base/Export.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scrivlet {

// The parts of the freedesktop desktop entry format that launching by URL needs: the keys of
// the [Desktop Entry] group, the string escapes of values, and the quoting of Exec lines.
namespace DesktopEntry {

// Keys of the [Desktop Entry] group with their values unescaped; nothing when there is no
// such group. Other groups, comments and localized keys are passed over.
SCRIVLET_PLATFORM_API std::optional<std::map<std::string, std::string>>
readMainGroup(std::string_view text);

// A value written so that readMainGroup gives `value` back (\\, \n, \t, \r, \s escaped).
SCRIVLET_PLATFORM_API std::string escapeValue(std::string_view value);

// One argument of an Exec line, quoted when it needs to be, with "%" doubled.
SCRIVLET_PLATFORM_API std::string quoteExecArgument(std::string_view argument);

// An Exec line (already unescaped as a value) split into arguments, its quoting undone and
// its field codes put to use: %u %U %f %F become the URLs (each its own argument; a lone
// argument "%U" or "%u" stands for all of them), %% a percent sign, and the other codes go.
// Nothing when the quoting is broken.
SCRIVLET_PLATFORM_API std::optional<std::vector<std::string>>
expandExec(std::string_view exec, const std::vector<std::string>& urls);

} // namespace DesktopEntry

} // namespace scrivlet
