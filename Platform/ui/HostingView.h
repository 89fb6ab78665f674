#pragma once

#include "Platform/base/Export.h"
#include "Platform/desktop/Panel.h"
#include "Platform/ui/View.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace scrivlet {

namespace ui {

// Something that announces its changes: how to start listening to it and how to stop.
struct SCRIVLET_PLATFORM_API Observable {
    std::function<std::uint64_t(std::function<void()>)> addObserver;
    std::function<void(std::uint64_t)> removeObserver;
};

// A model with addObserver(fn) -> id and removeObserver(id). It must outlive the listeners.
template <typename Model> Observable observing(Model& model) {
    return Observable{[&model](std::function<void()> observer) {
                          return static_cast<std::uint64_t>(model.addObserver(std::move(observer)));
                      },
                      [&model](std::uint64_t id) { model.removeObserver(id); }};
}

// Hosts a declarative view in a window: builds the tree from the root view and builds it
// again, at once, every time the observed model announces a change, so the tree always
// shows the model as it is now.
//
// A rebuild replaces the tree while whoever acts on it may still be inside one of its
// actions (a tap that edits the model); `tree()` hands out shared ownership so the old tree
// lives until that action returns.
class SCRIVLET_PLATFORM_API HostingView final : public ContentView {
public:
    HostingView(std::function<View()> rootView, Observable observable);
    // A view with nothing to observe: rebuilt only by `rebuild()`.
    explicit HostingView(std::function<View()> rootView);
    ~HostingView() override;
    HostingView(const HostingView&) = delete;
    HostingView& operator=(const HostingView&) = delete;

    std::shared_ptr<const View> tree() const { return tree_; }
    void rebuild();
    // Builds after the first one.
    std::size_t rebuildCount() const { return rebuildCount_; }

private:
    std::function<View()> rootView_;
    Observable observable_;
    std::optional<std::uint64_t> observerID_;
    std::shared_ptr<const View> tree_;
    std::size_t rebuildCount_ = 0;
};

} // namespace ui

} // namespace scrivlet
