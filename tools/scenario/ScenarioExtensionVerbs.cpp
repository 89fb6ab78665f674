// Scenario verbs for Finder's side of the Finder Sync extension: the host runs in this
// process beside the app, on the same virtual clock, with the plug-in from the app bundle.
#include "Platform/base/RunLoop.h"
#include "Platform/desktop/FinderSyncController.h"
#include "Platform/system/ExtendedAttributes.h"
#include "ScrivletFinderSync/host/FinderSyncHost.h"
#include "tools/scenario/ScenarioRunner.h"

#include <ostream>

namespace scrivlet {

namespace {

std::string shownBadge(const std::string& identifier) {
    return identifier.empty() ? "none" : identifier;
}

} // namespace

bool ScenarioRunner::requireExtension() {
    if (extensionHost_) {
        return true;
    }
    std::string error;
    extensionHost_ = FinderSyncHost::load(SCRIVLET_APP_BUNDLE, error);
    if (!extensionHost_) {
        fail("the extension cannot be loaded: " + error);
        return false;
    }
    return true;
}

void ScenarioRunner::registerExtensionVerbs() {
    // extension start | badges FOLDER | menu | choose "TITLE"
    addVerb("extension", 1, 2, [this](const Arguments& args) {
        if (!requireExtension()) {
            return;
        }
        const std::string& what = args[0];
        if (what == "badges" && args.size() == 2) {
            for (const auto& [path, identifier] : extensionHost_->showFolder(finderPath(args[1]))) {
                out_ << "  badge " << shownBadge(identifier) << " " << path << "\n";
            }
        } else if (what == "menu" && args.size() == 1) {
            const auto menu = extensionHost_->contextMenu();
            shownMenuItems_.clear();
            out_ << "  menu \"" << menu->title() << "\":";
            for (const auto& item : menu->items()) {
                shownMenuItems_.push_back(item->title());
                out_ << " \"" << item->title() << "\"";
            }
            out_ << "\n";
        } else if (what == "choose" && args.size() == 2) {
            if (!extensionHost_->chooseMenuItem(args[1])) {
                fail("the context menu has no item \"" + args[1] + "\"");
            }
            RunLoop::main().runUntilIdle();
        } else if (what != "start" || args.size() != 1) {
            fail("unknown extension action; see tools/scenario/README.md");
        }
    });
    // expect-badge FILE annotated|flagged|none
    addVerb("expect-badge", 2, 2, [this](const Arguments& args) {
        const URL url = URL::fileURL(finderPath(args[0]));
        const std::string badge =
            shownBadge(FinderSyncController::defaultController().badgeIdentifier(url));
        expect(badge == args[1], args[0] + " has the badge " + badge + ", not " + args[1]);
    });
    // expect-attributes FILE none: no badge attribute, tags or comment left on the file
    addVerb("expect-attributes", 2, 2, [this](const Arguments& args) {
        std::error_code error;
        const auto names = ExtendedAttributes::list(finderPath(args[0]), error);
        std::string shown;
        for (const std::string& name : names) {
            shown += " " + name;
        }
        expect(args[1] == "none" && names.empty(), args[0] + " has the attributes" + shown);
    });
    // expect-menu "ITEM"... (none: the menu is empty)
    addVerb("expect-menu", 1, anyCount, [this](const Arguments& args) {
        const Arguments wanted = args.size() == 1 && args[0] == "none" ? Arguments{} : args;
        expect(shownMenuItems_ == wanted, "the context menu shows other items");
    });
}

} // namespace scrivlet
