// Scenario verbs for the annotation panel: showing and closing it, editing in it, the
// placement setting, and what ends up in the store.
#include "Platform/Services.h"
#include "Platform/backends/simulated/SimulatedDesktop.h"
#include "Platform/base/RunLoop.h"
#include "Platform/control/DesktopControl.h"
#include "Platform/control/InputText.h"
#include "Platform/control/ViewInspection.h"
#include "Platform/desktop/Panel.h"
#include "Platform/system/UserDefaults.h"
#include "Platform/ui/HostingView.h"
#include "Scrivcore/AnnotationStore.h"
#include "Scrivlet/AppDelegate.h"
#include "Scrivlet/PanelController.h"
#include "tests/support/AppSession.h"
#include "tools/scenario/ScenarioGeometry.h"
#include "tools/scenario/ScenarioRunner.h"

#include <cmath>
#include <ostream>
#include <sstream>

namespace scrivlet {

namespace {

bool isStar(const ui::View& node) {
    const auto* image = node.as<ui::ImageNode>();
    return image && (image->systemName == "star" || image->systemName == "star.fill");
}

} // namespace

std::shared_ptr<Panel> ScenarioRunner::appPanel() const {
    AppDelegate* delegate = session_->delegate();
    return delegate && delegate->panelController ? delegate->panelController->panel : nullptr;
}

std::optional<ui::ViewInspector> ScenarioRunner::panelContent() {
    const std::shared_ptr<Panel> panel = appPanel();
    const auto* host =
        panel ? dynamic_cast<const ui::HostingView*>(panel->contentView().get()) : nullptr;
    if (host == nullptr) {
        fail("there is no panel content yet");
        return std::nullopt;
    }
    return ui::ViewInspector(*host);
}

void ScenarioRunner::registerPanelVerbs() {
    addVerb("panel", 1, 3, [this](const Arguments& args) {
        AppDelegate* delegate = session_->delegate();
        if (!delegate || !delegate->panelController) {
            return fail("the app has no panel controller (launch first)");
        }
        PanelController& controller = *delegate->panelController;
        const std::string& what = args[0];
        if (what == "show" && args.size() >= 2) {
            const auto frame = parseScenarioRect(args[1]);
            if (!frame) {
                return fail("panel show WIDTHxHEIGHT@X,Y [fullscreen]");
            }
            controller.show(*frame, args.size() > 2 && args[2] == "fullscreen");
        } else if (what == "hide") {
            controller.hide();
        } else if (what == "close") {
            if (!controller.panel) {
                return fail("there is no panel to close");
            }
            controller.panel->close();
        } else {
            return fail("panel show|hide|close");
        }
        session_->desktop().settle();
    });
    addVerb("tap-star", 1, 1, [this](const Arguments& args) {
        const auto star = parseWholeNumber(args[0], 1, 5);
        if (!star) {
            return fail("tap-star needs a star 1 to 5, not \"" + args[0] + "\"");
        }
        auto content = panelContent();
        if (!content) {
            return;
        }
        const auto path = content->find(isStar, static_cast<std::size_t>(*star - 1));
        if (!path || !content->tap(*path)) {
            return fail("tap-star needs a star 1 to 5 in the panel");
        }
        session_->desktop().settle();
    });
    addVerb("choose-status", 1, 1, [this](const Arguments& args) {
        auto content = panelContent();
        if (!content) {
            return;
        }
        const auto picker = content->find(ui::ViewKind::picker);
        if (!picker || !content->choose(*picker, args[0])) {
            return fail("choose-status needs one of the panel's status options");
        }
        session_->desktop().settle();
    });
    auto editNote = [this](const Arguments& args, bool paste) {
        auto content = panelContent();
        if (!content) {
            return;
        }
        const auto editor = content->find(ui::ViewKind::textEditor);
        if (!editor ||
            !(paste ? content->paste(*editor, args[0]) : content->type(*editor, args[0]))) {
            return fail("the panel has no note editor");
        }
        session_->desktop().settle();
    };
    addVerb("type", 1, 1, [editNote](const Arguments& args) { editNote(args, false); });
    addVerb("paste", 1, 1, [editNote](const Arguments& args) { editNote(args, true); });
    addVerb("defaults", 2, 3, [this](const Arguments& args) {
        UserDefaults& defaults = UserDefaults::standardUserDefaults();
        if (args.size() == 3 && args[0] == "set") {
            defaults.setString(args[1], args[2]);
        } else if (args.size() == 2 && args[0] == "delete") {
            defaults.removeObjectForKey(args[1]);
        } else {
            fail("defaults set KEY VALUE | defaults delete KEY");
        }
    });
    addVerb("show-panel", 0, 0, [this](const Arguments&) {
        const std::shared_ptr<Panel> panel = appPanel();
        if (!panel) {
            out_ << "  no panel\n";
            return;
        }
        out_ << "  panel \"" << panel->title() << "\" " << describeScenarioRect(panel->frame())
             << " alpha " << std::round(panel->alphaValue() * 100) / 100
             << (panel->isVisible() ? " visible" : " ordered out") << "\n";
        if (!panel->isVisible()) {
            return;
        }
        if (auto content = panelContent()) {
            for (const std::string& line : content->render()) {
                out_ << "    " << line << "\n";
            }
        }
    });
}

void ScenarioRunner::registerPanelExpectations() {
    addVerb("expect-panel", 1, 2, [this](const Arguments& args) {
        const std::shared_ptr<Panel> panel = appPanel();
        const std::string& what = args[0];
        if (what == "hidden") {
            return expect(!panel || !panel->isVisible(), "the panel is visible");
        }
        if (!panel) {
            return fail("there is no panel");
        }
        if (what == "visible") {
            return expect(panel->isVisible() && panel->alphaValue() > 0.99,
                          "the panel is not fully visible");
        }
        if (what == "frame" && args.size() == 2) {
            return expect(describeScenarioRect(panel->frame()) == args[1],
                          "the panel's frame is " + describeScenarioRect(panel->frame()));
        }
        if ((what == "right-of" || what == "left-of") && args.size() == 2) {
            const auto number = namedWindow(args[1]);
            const SimulatedWindow* window =
                number ? session_->simulatedDesktop().window(*number) : nullptr;
            if (!window) {
                return;
            }
            const CGRect finder = session_->simulatedDesktop().flippedRect(window->bounds);
            const bool beside = what == "right-of" ? panel->frame().minX() >= finder.maxX()
                                                   : panel->frame().maxX() <= finder.minX();
            return expect(beside && std::abs(panel->frame().maxY() - finder.maxY()) < 1,
                          "the panel " + describeScenarioRect(panel->frame()) + " is not " + what +
                              " " + describeScenarioRect(finder) + " with its top level");
        }
        if (what == "shows" && args.size() == 2) {
            auto content = panelContent();
            return expect(content && content->findText(args[1]).has_value(),
                          "the panel does not show \"" + args[1] + "\"");
        }
        fail("expect-panel visible|hidden|frame F|right-of W|left-of W|shows TEXT");
    });
    addVerb("expect-poll", 1, 1, [this](const Arguments& args) {
        AppDelegate* delegate = session_->delegate();
        const bool running = delegate && delegate->dragPollTimer.has_value();
        if (args[0] != "running" && args[0] != "stopped") {
            return fail("expect-poll running|stopped");
        }
        expect(running == (args[0] == "running"),
               std::string("the drag poll is ") + (running ? "running" : "stopped"));
    });
    addVerb("expect-record", 2, 3, [this](const Arguments& args) {
        AnnotationStore store(AnnotationStore::defaultPath());
        const auto record = store.fetch(finderPath(args[0]));
        if (args[1] == "none") {
            return expect(!record, "there is a record for " + args[0]);
        }
        if (!record || args.size() != 3) {
            return fail("no record for " + args[0]);
        }
        std::string actual;
        if (args[1] == "rating") {
            actual = std::to_string(record->rating);
        } else if (args[1] == "status") {
            actual = std::string(rawValue(record->status));
        } else if (args[1] == "note") {
            actual = record->note;
        } else {
            return fail("expect-record fields: rating, status, note");
        }
        expect(actual == args[2], args[1] + " is \"" + actual + "\"");
    });
}

} // namespace scrivlet
