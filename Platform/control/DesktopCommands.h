#pragma once

#include <optional>
#include <string>
#include <utility>

namespace scrivlet {

class DesktopControl;

// "Command-q", "Shift-Command-z", "x": the key and its modifier flags.
std::optional<std::pair<std::string, unsigned>> parseKeyChord(std::string text);

// One line of the desktop's control language, as a person at the desktop would act:
//   status | open-menu [N] | close-menu | choose TITLE | press KEY
// Answers the lines to show, or a line starting with "error: ".
std::string executeDesktopCommand(DesktopControl& desktop, const std::string& line);

} // namespace scrivlet
