// Scenario verbs for the panel's tags (typing in the tag field, its completions, the remove
// controls) and for another program changing the store while the app runs.
#include "Platform/control/DesktopControl.h"
#include "Platform/control/InputText.h"
#include "Platform/control/ViewInspection.h"
#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/PanelViewModel.h"
#include "tests/support/AppSession.h"
#include "tests/support/ManualScheduler.h"
#include "tools/scenario/ScenarioRunner.h"

namespace scrivlet {

namespace {

// The remove control beside the tag `tag`: the image that follows its text in its row.
std::optional<ui::ViewPath> removeControlOf(const ui::ViewInspector& panel,
                                            const std::string& tag) {
    const auto text = panel.findText(tag);
    if (!text) {
        return std::nullopt;
    }
    ui::ViewPath control = *text;
    control.back() += 1;
    const auto node = panel.node(control);
    const auto* image = node ? node->as<ui::ImageNode>() : nullptr;
    if (image == nullptr || image->systemName != "xmark.circle.fill") {
        return std::nullopt;
    }
    return control;
}

std::string joinedTags(const std::vector<std::string>& tags) {
    std::string text;
    for (const std::string& tag : tags) {
        text += (text.empty() ? "" : ", ") + tag;
    }
    return text;
}

} // namespace

void ScenarioRunner::registerTagVerbs() {
    // Acts on the tag field; fails when the panel has none (the read-only row).
    auto onTagField =
        [this](const std::function<bool(const ui::ViewInspector&, const ui::ViewPath&)>& act,
               const std::string& failure) {
            auto content = panelContent();
            if (!content) {
                return;
            }
            const auto field = content->find(ui::ViewKind::textField);
            if (!field || !act(*content, *field)) {
                return fail(failure);
            }
            session_->desktop().settle();
        };
    addVerb("type-tag", 1, 1, [onTagField](const Arguments& args) {
        onTagField([&](const auto& panel, const auto& field) { return panel.type(field, args[0]); },
                   "the panel has no tag field");
    });
    addVerb("submit-tag", 0, 0, [onTagField](const Arguments&) {
        onTagField([](const auto& panel, const auto& field) { return panel.submit(field); },
                   "the panel has no tag field");
    });
    addVerb("add-tag", 1, 1, [onTagField](const Arguments& args) {
        onTagField(
            [&](const auto& panel, const auto& field) {
                // Each keystroke rebuilt the panel: Return goes to the field as it is now.
                return panel.type(field, args[0]) && panel.submit(field);
            },
            "the panel has no tag field");
    });
    addVerb("complete-tag", 1, 1, [onTagField](const Arguments& args) {
        onTagField(
            [&](const auto& panel, const auto& field) { return panel.complete(field, args[0]); },
            "the tag field does not offer \"" + args[0] + "\"");
    });
    addVerb("remove-tag", 1, 1, [this](const Arguments& args) {
        auto content = panelContent();
        if (!content) {
            return;
        }
        const auto control = removeControlOf(*content, args[0]);
        if (!control || !content->tap(*control)) {
            return fail("the panel shows no tag \"" + args[0] + "\" with a remove control");
        }
        session_->desktop().settle();
    });
    addVerb("expect-tag-field", 1, 1, [this](const Arguments& args) {
        auto content = panelContent();
        if (!content || (args[0] != "present" && args[0] != "absent")) {
            return fail("expect-tag-field present|absent, with a panel");
        }
        const bool present = content->find(ui::ViewKind::textField).has_value();
        expect(present == (args[0] == "present"),
               std::string("the panel ") + (present ? "has" : "has no") + " tag field");
    });
    addVerb("expect-tags", 2, 2, [this](const Arguments& args) {
        AnnotationStore store(AnnotationStore::defaultPath());
        const auto record = store.fetch(finderPath(args[0]));
        const std::string actual = record ? joinedTags(record->tags) : "(no record)";
        expect(actual == args[1], "the tags are \"" + actual + "\"");
    });
    // Another program saves through its own connection and posts the notice, as the app's
    // saves do; the app hears it through the real notice, on its run loop.
    addVerb("elsewhere", 3, anyCount, [this](const Arguments& args) {
        if (args.size() % 2 == 0) {
            return fail("elsewhere PATH FIELD VALUE [FIELD VALUE...]");
        }
        ManualScheduler scheduler;
        PanelViewModel other(std::make_shared<AnnotationStore>(AnnotationStore::defaultPath()),
                             scheduler);
        other.selectFile(finderPath(args[0]));
        for (std::size_t i = 1; i + 1 < args.size(); i += 2) {
            const std::string& field = args[i];
            const std::string& value = args[i + 1];
            if (field == "rating") {
                const auto rating = parseWholeNumber(value, 0, 5);
                if (!rating) {
                    return fail("a rating is 0 to 5");
                }
                other.editAnnotation(
                    [&](Annotation& record) { record.rating = static_cast<int>(*rating); });
            } else if (field == "note") {
                other.editAnnotation([&](Annotation& record) { record.note = value; });
            } else if (field == "tag") {
                other.editAnnotation([&](Annotation& record) { record.tags.push_back(value); });
            } else {
                return fail("elsewhere fields: rating, note, tag");
            }
        }
        other.scheduleSave();
        other.saveNow();
        session_->desktop().settle();
    });
}

} // namespace scrivlet
