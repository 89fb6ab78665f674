#pragma once

#include "ScrivletFinderSync/host/FinderSyncHost.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace scrivlet {

class SimulatedDesktop;

// The host's command language, one command per line with tab-separated fields, so a shell
// or a test drives the extension and reads what happened:
//   badges FOLDER            "badge<TAB>IDENTIFIER<TAB>PATH" for each visible file
//   menu PATH...             "menu<TAB>TITLE", then "item<TAB>TITLE" per item
//   choose TITLE PATH...     selects the paths, chooses the item: "chose<TAB>TITLE"
//   quit
// With --watch every badge the extension sets prints "watch<TAB>IDENTIFIER<TAB>PATH".
// Failures print "error<TAB>MESSAGE". IDENTIFIER is "none" for no badge; a tab, newline or
// backslash in a path is written as \t, \n or \\.
class HostShell {
public:
    HostShell(FinderSyncHost& host, SimulatedDesktop& desktop, std::ostream& out)
        : host_(host), desktop_(desktop), out_(out) {}

    // Runs one command; false when it was "quit".
    bool run(const std::vector<std::string>& fields);
    // The line for one badge: "badge" answers `badges`, "watch" is a change as it happens.
    static std::string badgeLine(const std::string& identifier, const std::string& path,
                                 const std::string& kind = "badge");
    static std::vector<std::string> splitFields(const std::string& line);

private:
    void select(std::vector<std::string>::const_iterator first,
                std::vector<std::string>::const_iterator last);
    void showBadges(const std::string& folder);
    void showMenu();
    void choose(const std::string& title);

    FinderSyncHost& host_;
    SimulatedDesktop& desktop_;
    std::ostream& out_;
};

} // namespace scrivlet
