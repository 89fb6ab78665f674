#include "Platform/ui/HostingView.h"

namespace scrivlet {

namespace ui {

HostingView::HostingView(std::function<View()> rootView, Observable observable)
    : rootView_(std::move(rootView)), observable_(std::move(observable)),
      tree_(std::make_shared<const View>(rootView_())) {
    if (observable_.addObserver) {
        observerID_ = observable_.addObserver([this] { rebuild(); });
    }
}

HostingView::HostingView(std::function<View()> rootView)
    : HostingView(std::move(rootView), Observable{}) {}

HostingView::~HostingView() {
    if (observerID_ && observable_.removeObserver) {
        observable_.removeObserver(*observerID_);
    }
}

void HostingView::rebuild() {
    tree_ = std::make_shared<const View>(rootView_());
    ++rebuildCount_;
}

} // namespace ui

} // namespace scrivlet
