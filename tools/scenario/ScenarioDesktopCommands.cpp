// The menu, key, selection and status verbs of scenarios (status, open-menu, close-menu,
// choose, press, select-file, set-status) are the desktop control language itself: the same
// reader and the same actions as the control socket, so a scenario proves what a person at
// the socket would see.
#include "Platform/control/DesktopCommands.h"
#include "Platform/control/DesktopControl.h"
#include "tests/support/AppSession.h"
#include "tools/scenario/ScenarioRunner.h"

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
            // What the command caused happens before the next line, as it would for a person.
            session_->desktop().settle();
        });
    }
}

} // namespace scrivlet
