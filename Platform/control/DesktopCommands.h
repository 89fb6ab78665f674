#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace scrivlet {

class DesktopControl;

// The desktop's control language, one command per line, as a person at the desktop acts:
//   status | open-menu [N] | close-menu | choose TITLE | press KEY | select-file PATH |
//   set-status STATUS
// Both the control socket and the scenario runner speak it through runDesktopCommand, so the
// two cannot drift apart.

// What a command did.
struct DesktopCommandOutcome {
    enum class Status {
        done,       // the desktop acted; `lines` is what it shows now (may be none)
        unanswered, // a key press that no menu item answers: nothing happened
        refused,    // the desktop cannot do it now: no menu to open, item missing or disabled
        malformed,  // the command is wrong: unknown verb, bad number, wrong arguments, bad text
    };
    Status status = Status::done;
    std::vector<std::string> lines;
    std::string reason; // why nothing happened, for every status but `done`
};

// The verbs of the language, for readers that register them.
const std::vector<std::string>& desktopCommandVerbs();

// "Command-q", "Shift-Command-z", "x": the key and its modifier flags. Nothing for no key or
// a key with spaces or control characters in it.
std::optional<std::pair<std::string, unsigned>> parseKeyChord(std::string rest);

// Runs one command already split into words, the verb first. Never throws for bad input:
// every word must be UTF-8 text without control characters, numbers are range-checked, and
// each verb takes exactly its own arguments.
DesktopCommandOutcome runDesktopCommand(DesktopControl& desktop,
                                        const std::vector<std::string>& words);

// A line as the socket receives it: the verb, then the rest of the line as one argument
// (a menu title may hold spaces), with surrounding spaces and one pair of double quotes
// removed. Nothing after the verb gives no argument.
std::vector<std::string> splitDesktopCommandLine(std::string_view line);

// One line in, the reply out: the lines to show, "ok" when there are none, or one line
// starting with "error: ".
std::string executeDesktopCommand(DesktopControl& desktop, std::string_view line);

} // namespace scrivlet
