// Scenario verbs for URL commands: links and file attributes to set the scene, a store that
// refuses deletions, and checks on attributes and on the frontmost application.
#include "Platform/backends/simulated/SimulatedDesktop.h"
#include "Platform/control/DesktopControl.h"
#include "Platform/system/ExtendedAttributes.h"
#include "Scrivcore/AnnotationStore.h"
#include "tests/support/AppSession.h"
#include "tools/scenario/ScenarioRunner.h"

#include <sqlite3.h>

namespace scrivlet {

namespace fs = std::filesystem;

void ScenarioRunner::registerURLVerbs() {
    addVerb("link", 2, 2, [this](const Arguments& args) {
        std::error_code error;
        if (args.size() == 2) {
            fs::create_symlink(finderPath(args[1]), finderPath(args[0]), error);
        }
        if (args.size() != 2 || error) {
            fail("link PATH TARGET (a symbolic link at PATH)");
        }
    });
    addVerb("attribute", 3, 3, [this](const Arguments& args) {
        if (args.size() != 3 || ExtendedAttributes::set(finderPath(args[0]), args[1], args[2])) {
            fail("attribute PATH NAME VALUE");
        }
    });
    addVerb("store-refuses-deletes", 0, 0, [this](const Arguments&) {
        sqlite3* db = nullptr;
        const std::string path = AnnotationStore::defaultPath();
        const bool done = sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
                          sqlite3_exec(db,
                                       "CREATE TRIGGER refuse BEFORE DELETE ON annotations "
                                       "BEGIN SELECT RAISE(ABORT, 'deletion refused'); END;",
                                       nullptr, nullptr, nullptr) == SQLITE_OK;
        sqlite3_close(db);
        if (!done) {
            fail("store-refuses-deletes needs a store (after launch)");
        }
    });
    addVerb("expect-attribute", 3, 3, [this](const Arguments& args) {
        if (args.size() != 3) {
            return fail("expect-attribute PATH NAME none|VALUE");
        }
        std::error_code error;
        const auto value = ExtendedAttributes::get(finderPath(args[0]), args[1], error);
        const std::string actual = error ? "<" + error.message() + ">" : value.value_or("none");
        expect(actual == args[2], args[1] + " is \"" + actual + "\"");
    });
    addVerb("expect-frontmost", 1, 1, [this](const Arguments& args) {
        const auto frontmost = session_->simulatedDesktop().frontmostApplication();
        const std::string name = frontmost ? frontmost->localizedName : "nothing";
        expect(args.size() == 1 && name == args[0], "the frontmost application is " + name);
    });
}

} // namespace scrivlet
