#include "ScrivletFinderSync/host/HostShell.h"

#include "Platform/backends/simulated/SimulatedDesktop.h"

#include <ostream>

namespace scrivlet {

namespace {

std::string escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

std::string HostShell::badgeLine(const std::string& identifier, const std::string& path,
                                 const std::string& kind) {
    return kind + "\t" + (identifier.empty() ? std::string("none") : identifier) + "\t" +
           escaped(path);
}

std::vector<std::string> HostShell::splitFields(const std::string& line) {
    std::vector<std::string> fields;
    std::string::size_type start = 0;
    while (start <= line.size()) {
        const auto tab = line.find('\t', start);
        const auto end = tab == std::string::npos ? line.size() : tab;
        fields.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    return fields;
}

bool HostShell::run(const std::vector<std::string>& fields) {
    const std::string command = fields.empty() ? std::string() : fields.front();
    if (command == "quit") {
        return false;
    }
    if (command == "badges" && fields.size() == 2) {
        showBadges(fields[1]);
    } else if (command == "menu" && fields.size() >= 2) {
        select(fields.begin() + 1, fields.end());
        showMenu();
    } else if (command == "choose" && fields.size() >= 3) {
        select(fields.begin() + 2, fields.end());
        choose(fields[1]);
    } else if (!command.empty()) {
        out_ << "error\tunknown command or wrong arguments: " << escaped(command) << std::endl;
    }
    return true;
}

void HostShell::select(std::vector<std::string>::const_iterator first,
                       std::vector<std::string>::const_iterator last) {
    std::vector<URL> urls;
    for (auto it = first; it != last; ++it) {
        urls.push_back(URL::fileURL(*it));
    }
    desktop_.setFinderSyncSelection(std::move(urls));
}

void HostShell::showBadges(const std::string& folder) {
    for (const auto& [path, identifier] : host_.showFolder(folder)) {
        out_ << badgeLine(identifier, path) << '\n';
    }
    out_ << std::flush;
}

void HostShell::showMenu() {
    const auto menu = host_.contextMenu();
    out_ << "menu\t" << menu->title() << '\n';
    for (const auto& item : menu->items()) {
        out_ << "item\t" << item->title() << '\n';
    }
    out_ << std::flush;
}

void HostShell::choose(const std::string& title) {
    if (host_.chooseMenuItem(title)) {
        out_ << "chose\t" << title << std::endl;
    } else {
        out_ << "error\tthe menu has no item " << escaped(title) << std::endl;
    }
}

} // namespace scrivlet
