#include "Platform/control/DesktopCommands.h"

#include "Platform/Menu.h"
#include "Platform/control/DesktopControl.h"

#include <vector>

namespace scrivlet {

namespace {

std::string joinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\n";
    }
    return text;
}

// The verb and the rest of the line, with surrounding quotes removed from the rest.
std::pair<std::string, std::string> splitCommand(const std::string& line) {
    const std::size_t space = line.find(' ');
    std::string verb = line.substr(0, space);
    std::string rest = space == std::string::npos ? std::string() : line.substr(space + 1);
    if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"') {
        rest = rest.substr(1, rest.size() - 2);
    }
    return {verb, rest};
}

} // namespace

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
    if (rest.empty()) {
        return std::nullopt;
    }
    return std::make_pair(rest, modifiers);
}

std::string executeDesktopCommand(DesktopControl& desktop, const std::string& line) {
    const auto [verb, argument] = splitCommand(line);
    if (verb == "status") {
        return joinLines(desktop.describeStatusBar());
    }
    if (verb == "open-menu") {
        const std::size_t index = argument.empty() ? 0 : std::stoul(argument);
        return desktop.openStatusMenu(index) ? joinLines(desktop.describeOpenMenu())
                                             : "error: there is no status item menu to open\n";
    }
    if (verb == "close-menu") {
        desktop.closeMenu();
        return "ok\n";
    }
    if (verb == "choose") {
        return desktop.chooseMenuItem(argument)
                   ? "ok\n"
                   : "error: the menu is closed, or \"" + argument + "\" is missing or disabled\n";
    }
    if (verb == "press") {
        const auto chord = parseKeyChord(argument);
        if (!chord) {
            return "error: press needs a key such as Command-q\n";
        }
        return desktop.pressKey(chord->first, chord->second) ? "ok\n"
                                                             : "error: no menu item answers\n";
    }
    return "error: unknown command \"" + verb + "\"\n";
}

} // namespace scrivlet
