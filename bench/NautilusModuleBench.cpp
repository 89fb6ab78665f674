// The extension's module for the GTK file manager, loaded as the file manager loads it: the
// time of one emblem answer at 100,000 records, and the time from an app save in another
// process to the module telling the file manager that the file's emblem went stale. Both
// report the median and the 99th percentile of single calls.
#include "Scrivcore/AnnotationStore.h"
#include "bench/support/BadgeWorkload.h"
#include "tests/support/NautilusFileManagerSide.h"
#include "tests/support/TempHome.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <glib.h>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

namespace scrivlet {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t recordCount = 100'000;

void reportPercentiles(benchmark::State& state, std::vector<double>& micros) {
    std::sort(micros.begin(), micros.end());
    if (!micros.empty()) {
        state.counters["p50_us"] = micros[micros.size() / 2];
        state.counters["p99_us"] = micros[micros.size() * 99 / 100];
    }
}

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
    for (std::size_t i = 0; i < recordCount; ++i) {
        shown.push_back(uriOf(bench::badgePathOf(i)));
        shown.push_back(uriOf(bench::badgePathOf(i) + ".plain"));
    }
    std::shuffle(shown.begin(), shown.end(), std::mt19937(42));
    std::vector<double> micros;
    micros.reserve(state.max_iterations);
    std::size_t next = 0;
    for (auto _ : state) {
        const auto started = Clock::now();
        auto emblems = module.emblemsOf(shown[next++ % shown.size()]);
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - started).count());
        benchmark::DoNotOptimize(emblems);
    }
    reportPercentiles(state, micros);
    module.stop();
}
BENCHMARK(BM_EmblemAnswer)->Iterations(200'000);

// With the store empty but for the changed file, and with 100,000 other records.
void BM_SaveToInvalidate(benchmark::State& state) {
    TempHome home;
    bench::fillBadgeStore(static_cast<std::size_t>(state.range(0)));
    const std::string path = "/home/user/latency.txt";
    int requestEnds[2];
    int savedEnds[2];
    if (::pipe(requestEnds) != 0 || ::pipe(savedEnds) != 0) {
        state.SkipWithError("no pipe");
        return;
    }
    // The writer is forked before GLib starts threads of its own in this process.
    const pid_t writer = ::fork();
    if (writer == 0) {
        ::close(requestEnds[1]);
        bench::runBadgeWriter(requestEnds[0], savedEnds[1], path);
    }
    ::close(requestEnds[0]);
    auto& module = nautilus::LoadedModule::open(SCRIVLET_NAUTILUS_MODULE);
    module.start();
    nautilus::ShownFile& shown = nautilus::loadedFile(uriOf(path));
    std::vector<double> micros;
    for (auto _ : state) {
        const int before = shown.invalidated;
        if (::write(requestEnds[1], "x", 1) != 1) {
            state.SkipWithError("the writer is gone");
            break;
        }
        while (shown.invalidated == before) {
            g_main_context_iteration(nullptr, TRUE);
        }
        const auto invalidatedAt = Clock::now();
        Clock::rep committed = 0;
        if (::read(savedEnds[0], &committed, sizeof committed) != sizeof committed) {
            state.SkipWithError("the writer is gone");
            break;
        }
        const Clock::time_point savedAt{Clock::duration(committed)};
        micros.push_back(
            std::chrono::duration<double, std::micro>(invalidatedAt - savedAt).count());
    }
    ::close(requestEnds[1]);
    ::waitpid(writer, nullptr, 0);
    reportPercentiles(state, micros);
    module.stop();
    nautilus::forgetLoadedFiles();
}
BENCHMARK(BM_SaveToInvalidate)->Arg(0)->Arg(recordCount)->UseRealTime()->Iterations(2000);

} // namespace

} // namespace scrivlet
