#include "Platform/backends/simulated/SimulatedFinder.h"
#include "Platform/control/DesktopControl.h"
#include "Scrivlet/SelectionTracker.h"
#include "tests/support/AppSession.h"
#include "tests/support/TempHome.h"

#include <benchmark/benchmark.h>
#include <cstdint>
#include <memory>
#include <vector>

using namespace scrivlet;

namespace {

constexpr int finderWindowCount = 20;

// Finder running with twenty windows of different sizes, one file selected, and a started
// tracker that has already published that file.
struct BusyFinder {
    AppSession session;
    SelectionTracker tracker;
    std::vector<std::uint32_t> windows; // oldest (backmost) first
    int publications = 0;
    AnyCancellable subscription;

    BusyFinder() {
        SimulatedFinder& finder = session.desktop().finder();
        finder.launch();
        for (int i = 0; i < finderWindowCount; ++i) {
            windows.push_back(
                finder.openWindow(CGRect(20.0 * i, 30 + 10.0 * i, 600 + 7.0 * i, 400 + 5.0 * i)));
        }
        finder.select({session.home().makeFile("Documents/notes.txt").string()});
        session.desktop().settle();
        subscription = tracker.selectionSubject.publisher().sink(
            [this](const std::optional<URL>&) { ++publications; });
        tracker.start();
        session.desktop().settle();
    }
};

// What every selection notification that changes nothing costs: the script and the compare.
void BM_RefreshSelectionUnchanged(benchmark::State& state) {
    BusyFinder finder;
    const int before = finder.publications;
    for (auto _ : state) {
        finder.tracker.refreshSelection();
    }
    if (finder.publications != before || !finder.tracker.lastPath) {
        state.SkipWithError("an unchanged selection was published or lost");
    }
}
BENCHMARK(BM_RefreshSelectionUnchanged);

// One window's frame from the window list, as the drag poll reads it; the backmost window,
// so the whole list is walked.
void BM_WindowListFrame(benchmark::State& state) {
    BusyFinder finder;
    const std::uint32_t window = finder.windows.front();
    for (auto _ : state) {
        auto frame = finder.tracker.windowListFrame(window);
        benchmark::DoNotOptimize(frame);
    }
    if (!finder.tracker.windowListFrame(window)) {
        state.SkipWithError("the window was not found");
    }
}
BENCHMARK(BM_WindowListFrame);

// Finding the window-list entry of the focused window from its accessibility size.
void BM_MatchingWindowID(benchmark::State& state) {
    BusyFinder finder;
    const std::uint32_t expected = finder.windows[finderWindowCount / 2];
    const double width = 600 + 7.0 * (finderWindowCount / 2);
    const double height = 400 + 5.0 * (finderWindowCount / 2);
    for (auto _ : state) {
        auto match = finder.tracker.matchingWindowID(width, height);
        benchmark::DoNotOptimize(match);
    }
    if (finder.tracker.matchingWindowID(width, height) != expected) {
        state.SkipWithError("the wrong window matched");
    }
}
BENCHMARK(BM_MatchingWindowID);

} // namespace
