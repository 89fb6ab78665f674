#include "Platform/control/DesktopCommands.h"

#include "Platform/control/DesktopControl.h"
#include "Platform/control/InputText.h"
#include "Platform/desktop/Menu.h"

#include <algorithm>

namespace scrivlet {

namespace {

using Words = std::vector<std::string>;
using Status = DesktopCommandOutcome::Status;

// A desktop rarely has more than a handful of status items; this only bounds the number.
constexpr long long highestStatusItem = 99;

// A word of the request, quoted for a reply: long ones are cut at a character boundary.
std::string quoted(std::string_view word) {
    constexpr std::size_t longest = 60;
    if (word.size() <= longest) {
        return "\"" + std::string(word) + "\"";
    }
    std::size_t cut = longest;
    while (cut > 0 && (static_cast<unsigned char>(word[cut]) & 0xc0) == 0x80) {
        --cut; // never split a multi-byte character
    }
    return "\"" + std::string(word.substr(0, cut)) + "\u2026\"";
}

DesktopCommandOutcome done(std::vector<std::string> lines = {}) {
    return {Status::done, std::move(lines), {}};
}

DesktopCommandOutcome notDone(Status status, std::string reason) {
    return {status, {}, std::move(reason)};
}

DesktopCommandOutcome showStatus(DesktopControl& desktop, const Words&) {
    return done(desktop.describeStatusBar());
}

DesktopCommandOutcome openMenu(DesktopControl& desktop, const Words& args) {
    const auto index =
        args.empty() ? std::optional(0LL) : parseWholeNumber(args[0], 0, highestStatusItem);
    if (!index) {
        return notDone(Status::malformed, "open-menu needs a status item number from 0 to " +
                                              std::to_string(highestStatusItem) + ", not " +
                                              quoted(args[0]));
    }
    if (!desktop.openStatusMenu(static_cast<std::size_t>(*index))) {
        return notDone(Status::refused, "there is no status item menu to open");
    }
    return done(desktop.describeOpenMenu());
}

DesktopCommandOutcome closeMenu(DesktopControl& desktop, const Words&) {
    desktop.closeMenu();
    return done();
}

DesktopCommandOutcome choose(DesktopControl& desktop, const Words& args) {
    if (!desktop.chooseMenuItem(args[0])) {
        return notDone(Status::refused, "cannot choose " + quoted(args[0]) +
                                            ": the menu is closed, or the item is missing or "
                                            "disabled");
    }
    return done();
}

DesktopCommandOutcome press(DesktopControl& desktop, const Words& args) {
    const auto chord = parseKeyChord(args[0]);
    if (!chord) {
        return notDone(Status::malformed, "press needs one key such as Command-q");
    }
    if (!desktop.pressKey(chord->first, chord->second)) {
        return notDone(Status::unanswered, "no menu item answers " + args[0]);
    }
    return done();
}

DesktopCommandOutcome selectFile(DesktopControl& desktop, const Words& args) {
    if (!args[0].starts_with('/')) {
        return notDone(Status::malformed,
                       "select-file needs an absolute path, not " + quoted(args[0]));
    }
    desktop.selectInFinder(args[0]);
    return done();
}

DesktopCommandOutcome setStatus(DesktopControl& desktop, const Words& args) {
    if (!desktop.chooseStatusInPanel(args[0])) {
        return notDone(Status::refused, "cannot choose the status " + quoted(args[0]) +
                                            ": no panel shows, or it has no such status");
    }
    return done();
}

struct Command {
    const char* verb;
    std::size_t fewest;
    std::size_t most;
    const char* usage;
    DesktopCommandOutcome (*run)(DesktopControl&, const Words&);
};

const Command commands[] = {
    {"status", 0, 0, "status", showStatus},
    {"open-menu", 0, 1, "open-menu [N]", openMenu},
    {"close-menu", 0, 0, "close-menu", closeMenu},
    {"choose", 1, 1, "choose TITLE", choose},
    {"press", 1, 1, "press KEY", press},
    {"select-file", 1, 1, "select-file PATH", selectFile},
    {"set-status", 1, 1, "set-status STATUS", setStatus},
};

constexpr const char* languageSummary =
    "status, open-menu [N], close-menu, choose TITLE, press KEY, select-file PATH or "
    "set-status STATUS";

// Removes surrounding spaces, and one carriage return before the end as some terminals send.
std::string_view trimmed(std::string_view text) {
    if (text.ends_with('\r')) {
        text.remove_suffix(1);
    }
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string joinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\n";
    }
    return text;
}

} // namespace

const std::vector<std::string>& desktopCommandVerbs() {
    static const std::vector<std::string> verbs = [] {
        std::vector<std::string> names;
        for (const Command& command : commands) {
            names.emplace_back(command.verb);
        }
        return names;
    }();
    return verbs;
}

std::optional<std::pair<std::string, unsigned>> parseKeyChord(std::string rest) {
    const std::pair<std::string, unsigned> names[] = {{"Command-", modifierCommand},
                                                      {"Shift-", modifierShift},
                                                      {"Option-", modifierOption},
                                                      {"Control-", modifierControl}};
    unsigned modifiers = modifierNone;
    for (bool found = true; found;) {
        found = false;
        for (const auto& [name, flag] : names) {
            if (rest.starts_with(name)) {
                modifiers |= flag;
                rest.erase(0, name.size());
                found = true;
            }
        }
    }
    const bool blank = std::any_of(rest.begin(), rest.end(), [](char c) {
        return static_cast<unsigned char>(c) <= ' ' || c == '\x7f';
    });
    if (rest.empty() || blank) {
        return std::nullopt;
    }
    return std::make_pair(rest, modifiers);
}

DesktopCommandOutcome runDesktopCommand(DesktopControl& desktop, const Words& words) {
    if (words.empty()) {
        return notDone(Status::malformed, std::string("empty command; try ") + languageSummary);
    }
    if (!std::all_of(words.begin(), words.end(), isTypedText)) {
        return notDone(Status::malformed,
                       "the command is not UTF-8 text, or holds control characters");
    }
    const auto command = std::find_if(std::begin(commands), std::end(commands),
                                      [&](const Command& c) { return words[0] == c.verb; });
    if (command == std::end(commands)) {
        return notDone(Status::malformed,
                       "unknown command " + quoted(words[0]) + "; try " + languageSummary);
    }
    const Words args(words.begin() + 1, words.end());
    if (args.size() < command->fewest || args.size() > command->most) {
        return notDone(Status::malformed,
                       std::string("wrong number of arguments; usage: ") + command->usage);
    }
    return command->run(desktop, args);
}

std::vector<std::string> splitDesktopCommandLine(std::string_view line) {
    line = trimmed(line);
    if (line.empty()) {
        return {};
    }
    const std::size_t space = line.find(' ');
    std::vector<std::string> words{std::string(line.substr(0, space))};
    std::string_view rest =
        space == std::string_view::npos ? std::string_view() : trimmed(line.substr(space + 1));
    if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"') {
        rest = rest.substr(1, rest.size() - 2);
    }
    if (!rest.empty()) {
        words.emplace_back(rest);
    }
    return words;
}

std::string executeDesktopCommand(DesktopControl& desktop, std::string_view line) {
    const DesktopCommandOutcome outcome = runDesktopCommand(desktop, splitDesktopCommandLine(line));
    if (outcome.status != Status::done) {
        return "error: " + outcome.reason + "\n";
    }
    return outcome.lines.empty() ? "ok\n" : joinLines(outcome.lines);
}

} // namespace scrivlet
