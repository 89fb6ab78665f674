#include "Scrivlet/PanelController.h"

#include "Platform/base/RunLoop.h"
#include "Platform/desktop/AnimationContext.h"
#include "Platform/desktop/Screen.h"
#include "Platform/system/UserDefaults.h"
#include "Platform/ui/HostingView.h"
#include "Scrivcore/PanelViewModel.h"
#include "Scrivlet/PanelContentView.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace scrivlet {

namespace {

// The panel's content: the content view, hosted and rebuilt whenever the view model
// changes. The hosting view shares ownership of the model so it can always stop observing.
// `editableTags` is on unless set to a false value; read once, when the panel is made.
PanelContentView::TagRow tagRowFromDefaults() {
    std::optional<std::string> stored =
        UserDefaults::standardUserDefaults().stringForKey("editableTags");
    if (stored) {
        std::transform(stored->begin(), stored->end(), stored->begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (*stored == "false" || *stored == "0" || *stored == "no") {
            return PanelContentView::TagRow::readOnly;
        }
    }
    return PanelContentView::TagRow::editable;
}

std::shared_ptr<ContentView> makeContentHostingView(const std::shared_ptr<PanelViewModel>& model) {
    const PanelContentView::TagRow tagRow = tagRowFromDefaults();
    ui::Observable observable{[model](std::function<void()> observer) {
                                  return static_cast<std::uint64_t>(
                                      model->addObserver(std::move(observer)));
                              },
                              [model](std::uint64_t id) { model->removeObserver(id); }};
    return std::make_shared<ui::HostingView>(
        [model, tagRow] {
            return PanelContentView{*model, tagRow}.body();
        },
        std::move(observable));
}

} // namespace

PanelController::PanelController(std::shared_ptr<PanelViewModel> model)
    : viewModel(std::move(model)) {}

void PanelController::makePanel() {
    auto created = Panel::create(CGRect(0, 0, 300, 600),
                                 NSWindowStyleMaskTitled | NSWindowStyleMaskClosable |
                                     NSWindowStyleMaskResizable | NSWindowStyleMaskUtilityWindow |
                                     NSWindowStyleMaskNonactivatingPanel,
                                 NSBackingStoreBuffered, true);
    if (!created) {
        return;
    }
    created->setLevel(NSFloatingWindowLevel);
    created->setCollectionBehavior(NSWindowCollectionBehaviorMoveToActiveSpace |
                                   NSWindowCollectionBehaviorFullScreenAuxiliary);
    created->setHidesOnDeactivate(false);
    created->setBecomesKeyOnlyIfNeeded(true);
    created->setMovableByWindowBackground(true);
    created->setMinSize(CGSize{280, 400});
    created->setTitle("Annotation");
    created->setReleasedWhenClosed(false);
    created->setDelegate(weak_from_this());
    created->setContentView(makeContentHostingView(viewModel));
    panel = std::move(created);
}

PanelPlacementMode PanelController::currentPlacementMode() const {
    const std::optional<std::string> stored =
        UserDefaults::standardUserDefaults().stringForKey("panelPlacementMode");
    if (stored == "clamp") {
        return PanelPlacementMode::clamp;
    }
    if (stored == "hide") {
        return PanelPlacementMode::hide;
    }
    return PanelPlacementMode::flip;
}

void PanelController::show(const CGRect& finderFrame, bool isFullscreen) {
    RunLoop::main().assertOwnerThread("PanelController::show");
    if (!panel) {
        makePanel();
    }
    if (!panel) {
        return;
    }
    std::vector<ScreenFrames> screens;
    for (const Screen& screen : Screen::screens()) {
        screens.push_back({screen.frame, screen.visibleFrame});
    }
    if (screens.empty()) {
        return;
    }
    const std::size_t index = PanelPlacer::bestScreenIndex(finderFrame, screens);
    if (index >= screens.size()) {
        return; // treated like no screen at all
    }
    const PanelPlacement placement =
        PanelPlacer::compute(finderFrame, screens[index].frame, screens[index].visibleFrame,
                             isFullscreen, currentPlacementMode());
    if (!placement.frame) {
        hide();
        return;
    }
    const unsigned behavior = isFullscreen ? (NSWindowCollectionBehaviorCanJoinAllSpaces |
                                              NSWindowCollectionBehaviorFullScreenAuxiliary)
                                           : (NSWindowCollectionBehaviorMoveToActiveSpace |
                                              NSWindowCollectionBehaviorFullScreenAuxiliary);
    if (panel->collectionBehavior() != behavior) {
        panel->setCollectionBehavior(behavior);
    }
    const bool wasVisible = panel->isVisible();
    // Wanted again before a fade-out ended (or after the user closed the panel during one):
    // the old fade-out's completion must leave this panel on screen.
    const bool interruptsFadeOut = std::exchange(fadingOut_, false);
    if (interruptsFadeOut) {
        ++fadeGeneration_;
    }
    panel->setFrame(*placement.frame, true);
    if (wasVisible) {
        panel->orderFront(nullptr);
        if (interruptsFadeOut) {
            fadeTo(1.0); // back in from where the fade-out had got to
        }
        return;
    }
    panel->setAlphaValue(0);
    panel->orderFront(nullptr);
    fadeTo(1.0);
}

void PanelController::hide() {
    RunLoop::main().assertOwnerThread("PanelController::hide");
    if (!panel || !panel->isVisible()) {
        return;
    }
    fadingOut_ = true;
    const std::uint64_t generation = ++fadeGeneration_;
    fadeTo(0.0, [weak = weak_from_this(), generation] {
        std::shared_ptr<PanelController> self = weak.lock();
        if (self && self->panel && self->fadeGeneration_ == generation) {
            self->fadingOut_ = false;
            self->panel->orderOut(nullptr);
        }
    });
}

void PanelController::fadeTo(double alpha, std::function<void()> completion) {
    std::shared_ptr<Panel> fading = panel;
    AnimationContext::runAnimationGroup(
        [&fading, alpha](AnimationContext& context) {
            context.setDuration(fadeDuration);
            fading->animator().setAlphaValue(alpha);
        },
        std::move(completion));
}

void PanelController::windowWillClose(Panel& /*window*/) {
    // The owner hears of it after the close has finished, as a task of its own.
    RunLoop::main().postTask([self = shared_from_this()] {
        if (self->onUserDismiss) {
            self->onUserDismiss();
        }
    });
}

} // namespace scrivlet
