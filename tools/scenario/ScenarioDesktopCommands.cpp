// The menu and key verbs of scenarios (status, open-menu, close-menu, choose, press) are the
// desktop control language itself: the same reader and the same actions as the control
// socket, so a scenario proves what a person at the socket would see.
#include "Platform/control/DesktopCommands.h"
#include "scenario/ScenarioRunner.h"
#include "session/AppSession.h"

#include <ostream>

namespace scrivlet {

void ScenarioRunner::registerDesktopCommands() {
    using Status = DesktopCommandOutcome::Status;
    for (const std::string& name : desktopCommandVerbs()) {
        // The command language checks its own arguments, with its own messages.
        addVerb(name, 0, anyCount, [this, name](const Arguments& args) {
            Arguments words{name};
            words.insert(words.end(), args.begin(), args.end());
            const DesktopCommandOutcome outcome = runDesktopCommand(session_->desktop(), words);
            if (outcome.status == Status::unanswered) {
                out_ << "  (" << outcome.reason << ")\n";
            } else if (outcome.status != Status::done) {
                fail(outcome.reason);
            }
            for (const std::string& line : outcome.lines) {
                out_ << line << "\n";
            }
        });
    }
}

} // namespace scrivlet
