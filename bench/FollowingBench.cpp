// The costs of keeping the panel beside Finder's window: one drag-poll tick (it runs 120 times
// a second while a window moves), a selection travelling from Finder to the panel, and moving
// a visible panel.
#include "Platform/Services.h"
#include "Platform/backends/simulated/SimulatedDesktop.h"
#include "Platform/control/DesktopControl.h"
#include "Platform/desktop/Panel.h"
#include "Scrivcore/PanelViewModel.h"
#include "Scrivlet/AppDelegate.h"
#include "Scrivlet/PanelController.h"
#include "tests/support/AppSession.h"
#include "tests/support/TempHome.h"

#include <benchmark/benchmark.h>
#include <cstdint>
#include <string>

using namespace scrivlet;

namespace {

// A launched app with Finder frontmost, one window and a selected file, the panel faded in.
struct FollowingApp {
    AppSession session;
    SimulatedDesktop& desktop = session.simulatedDesktop();
    SimulatedFinder& finder = desktop.finder();
    std::string files[2] = {session.home().makeFile("Documents/a.txt").string(),
                            session.home().makeFile("Documents/b.txt").string()};
    std::uint32_t window = finder.openWindow(CGRect(300, 150, 700, 500));

    FollowingApp() {
        finder.select({files[0]});
        session.launch();
        session.advance(0.2);
    }

    AppDelegate& app() { return *session.delegate(); }
    bool panelShown() {
        const auto& panel = app().panelController->panel;
        return panel && panel->isVisible() && panel->alphaValue() == 1.0;
    }
    // The panel's left edge when it sits beside the window (8 points to its right).
    bool panelBesideWindow() {
        const CGRect& bounds = desktop.window(window)->bounds;
        return app().panelController->panel->frame().minX() == bounds.maxX() + 8;
    }
};

// One tick of a drag poll that finds the window moved and moves the panel. The window server
// moves the window between ticks; nothing is posted.
void BM_PollDragTick(benchmark::State& state) {
    FollowingApp following;
    following.finder.moveWindow(following.window, CGPoint{310, 150});
    following.session.desktop().settle();
    if (!following.app().dragPollTimer || !following.panelShown()) {
        state.SkipWithError("no drag poll is running beside a visible panel");
        return;
    }
    CGRect& bounds = following.desktop.window(following.window)->bounds;
    std::int64_t step = 0;
    for (auto _ : state) {
        bounds.origin.x = 300 + static_cast<double>(step++ % 50);
        following.app().pollDrag();
    }
    if (following.app().dragStillTicks != 0 || !following.app().dragPollTimer ||
        !following.panelBesideWindow()) {
        state.SkipWithError("the poll did not follow the window");
    }
}
BENCHMARK(BM_PollDragTick);

// From Finder's selection notification to the other file's panel beside the window: the
// notification, the script that asks Finder, the stream to the delegate, the view model
// loading the file and the panel placement.
void BM_SelectionToPanel(benchmark::State& state) {
    FollowingApp following;
    std::int64_t selections = 0;
    for (auto _ : state) {
        following.finder.select({following.files[++selections % 2]});
        following.session.desktop().settle();
    }
    const auto shown = following.app().viewModel->selectedFileURL();
    if (!shown || shown->string() != following.files[selections % 2] || !following.panelShown() ||
        !following.panelBesideWindow()) {
        state.SkipWithError("the last selection did not reach the panel");
    }
}
BENCHMARK(BM_SelectionToPanel);

// PanelController::show on a visible panel, alternating between two window frames: screens,
// placement and the frame change.
void BM_PanelShowVisible(benchmark::State& state) {
    FollowingApp following;
    PanelController& controller = *following.app().panelController;
    const CGRect frames[2] = {CGRect(300, 250, 700, 500), CGRect(320, 240, 700, 500)};
    std::int64_t shows = 0;
    for (auto _ : state) {
        controller.show(frames[++shows % 2], false);
    }
    if (!following.panelShown() ||
        controller.panel->frame().minX() != frames[shows % 2].maxX() + 8) {
        state.SkipWithError("the panel was not moved beside the frame");
    }
}
BENCHMARK(BM_PanelShowVisible);

} // namespace
