#include "Platform/desktop/Panel.h"

#include "Platform/desktop/AnimationContext.h"
#include "Platform/desktop/Application.h"
#include "Platform/desktop/DesktopBackend.h"

#include <algorithm>

namespace scrivlet {

void PanelAnimator::setAlphaValue(double alpha) {
    if (AnimationContext* group = AnimationContext::currentContext()) {
        group->addAlphaAnimation(panel_, alpha);
    } else {
        panel_->setAlphaValue(alpha);
    }
}

Panel::Panel(const CGRect& contentRect, unsigned styleMask)
    : contentRect_(contentRect), styleMask_(styleMask), frame_(contentRect) {}

std::shared_ptr<Panel> Panel::create(const CGRect& contentRect, unsigned styleMask, int /*backing*/,
                                     bool /*defer*/) {
    if (contentRect.isEmpty() || !contentRect.isFinite()) {
        return nullptr;
    }
    std::shared_ptr<Panel> panel(new Panel(contentRect, styleMask));
    DesktopBackend::current().panelCreated(panel);
    Application::shared().windowCreated(panel);
    return panel;
}

void Panel::setCollectionBehavior(unsigned behavior) {
    collectionBehavior_ = behavior;
    ++collectionBehaviorChanges_;
}

void Panel::setFrame(const CGRect& frame, bool /*display*/) {
    frame_ = frame;
    ++frameChanges_;
    DesktopBackend::current().panelChanged(*this, PanelChange::frame);
}

void Panel::setAlphaValue(double alpha) {
    alpha_ = std::clamp(alpha, 0.0, 1.0);
    DesktopBackend::current().panelChanged(*this, PanelChange::alpha);
}

void Panel::orderFront(const void* /*sender*/) {
    visible_ = true;
    DesktopBackend::current().panelChanged(*this, PanelChange::orderedFront);
}

void Panel::orderOut(const void* /*sender*/) {
    visible_ = false;
    DesktopBackend::current().panelChanged(*this, PanelChange::orderedOut);
}

void Panel::close() {
    if (std::shared_ptr<WindowDelegate> delegate = delegate_.lock()) {
        delegate->windowWillClose(*this);
    }
    orderOut(nullptr);
    Application::shared().windowDidClose();
}

} // namespace scrivlet
