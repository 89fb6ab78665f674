// scrivlet: the annotations of files from a shell. It writes through Scrivcore's own save
// path, so the store, the file's attributes and the badges end as after an edit in the panel,
// whether the app runs or not.
#include "Scrivcore/StoreError.h"
#include "ScrivletCommand/Verbs.h"

#include <algorithm>
#include <array>
#include <iostream>
#include <utility>

namespace scrivlet::command {

namespace {

using Verb = int (*)(Arguments&);

constexpr std::array<std::pair<std::string_view, Verb>, 7> verbs{{
    {"show", showVerb},
    {"set", setVerb},
    {"rm", removeVerb},
    {"find", findVerb},
    {"tags", tagsVerb},
    {"export", exportVerb},
    {"import", importVerb},
}};

bool asksForHelp(const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments) {
        if (argument == "--") {
            return false;
        }
        if (argument == "--help" || argument == "-h") {
            return true;
        }
    }
    return false;
}

int usageError(std::string_view message, std::string_view verb, bool showUsage = true) {
    complain(message);
    if (showUsage) {
        std::cerr << usageOf(verb);
    }
    return exitUsage;
}

int run(std::vector<std::string> arguments) {
    if (arguments.empty()) {
        return usageError("name a verb", "");
    }
    const std::string verb = arguments.front();
    arguments.erase(arguments.begin());
    if (verb == "--help" || verb == "-h" || verb == "help") {
        std::cout << usageOf(arguments.empty() ? "" : arguments.front());
        return exitOK;
    }
    const auto found = std::find_if(verbs.begin(), verbs.end(),
                                    [&](const auto& entry) { return entry.first == verb; });
    if (found == verbs.end()) {
        return usageError("unknown verb '" + verb + "'", "");
    }
    if (asksForHelp(arguments)) {
        std::cout << usageOf(verb);
        return exitOK;
    }
    try {
        Arguments reader(std::move(arguments));
        return found->second(reader);
    } catch (const UsageError& error) {
        return usageError(error.what(), verb, error.showUsage());
    } catch (const StoreError& error) {
        complain(error.what());
        return exitRefused;
    }
}

} // namespace

} // namespace scrivlet::command

int main(int argc, char** argv) {
    try {
        return scrivlet::command::run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& error) {
        scrivlet::command::complain(std::string("failed: ") + error.what());
        return 1;
    }
}
