// The extension's module for the GTK file manager, loaded as the file manager loads it: the
// time of one emblem answer at 100,000 records, and the time from an app save in another
// process to the module telling the file manager that the file's emblem went stale. Both
// report the median and the 99th percentile of single calls.
#include "Scrivcore/AnnotationStore.h"
#include "bench/support/BadgeWorkload.h"
#include "tests/support/NautilusFileManagerSide.h"
#include "tests/support/TempHome.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <glib.h>

namespace scrivlet {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t recordCount = 100'000;

std::string uriOf(const std::string& path) {
    return "file://" + path;
}

// Half the files shown are annotated (a fifth of those flagged), half are not, in no order.
void BM_EmblemAnswer(benchmark::State& state) {
    TempHome home;
    bench::fillBadgeStore(recordCount);
    auto& module = nautilus::LoadedModule::open(SCRIVLET_NAUTILUS_MODULE);
    module.start();
    std::vector<std::string> shown;
    for (const std::string& path : bench::shownPaths(recordCount)) {
        shown.push_back(uriOf(path));
    }
    bench::timeSingleAnswers(state, shown,
                             [&](const std::string& uri) { return module.emblemsOf(uri); });
    module.stop();
}
BENCHMARK(BM_EmblemAnswer)->Iterations(200'000);

// With the store empty but for the changed file, and with 100,000 other records.
void BM_SaveToInvalidate(benchmark::State& state) {
    TempHome home;
    bench::fillBadgeStore(static_cast<std::size_t>(state.range(0)));
    const std::string path = "/home/user/latency.txt";
    // The writer is forked before GLib starts threads of its own in this process.
    bench::BadgeWriter writer(path);
    if (!writer.running()) {
        state.SkipWithError("no writer process");
        return;
    }
    auto& module = nautilus::LoadedModule::open(SCRIVLET_NAUTILUS_MODULE);
    module.start();
    nautilus::ShownFile& shown = nautilus::loadedFile(uriOf(path));
    std::vector<double> micros;
    for (auto _ : state) {
        const int before = shown.invalidated;
        if (!writer.save()) {
            state.SkipWithError("the writer is gone");
            break;
        }
        while (shown.invalidated == before) {
            g_main_context_iteration(nullptr, TRUE);
        }
        const auto invalidatedAt = Clock::now();
        const auto savedAt = writer.savedAt();
        if (!savedAt) {
            state.SkipWithError("the writer is gone");
            break;
        }
        micros.push_back(
            std::chrono::duration<double, std::micro>(invalidatedAt - *savedAt).count());
    }
    bench::reportPercentiles(state, micros);
    module.stop();
    nautilus::forgetLoadedFiles();
}
BENCHMARK(BM_SaveToInvalidate)->Arg(0)->Arg(recordCount)->UseRealTime()->Iterations(2000);

} // namespace

} // namespace scrivlet
