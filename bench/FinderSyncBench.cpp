// The extension's badge answer against an in-memory hash lookup of the same keys, and the
// time from an app save in another process to the extension's badge set.
#include "Platform/Services.h"
#include "Platform/base/RunLoop.h"
#include "Platform/desktop/FinderSyncController.h"
#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/BadgeRefreshNotifier.h"
#include "ScrivletFinderSync/FinderSyncExtension.h"
#include "bench/support/BadgeWorkload.h"
#include "tests/support/AppSession.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <csignal>
#include <random>
#include <sys/wait.h>
#include <unistd.h>
#include <unordered_map>

namespace scrivlet {

namespace {

constexpr std::size_t recordCount = 100'000;

std::vector<std::string> shuffledKeys(std::size_t count) {
    std::vector<std::string> keys;
    for (std::size_t i = 0; i < count; ++i) {
        keys.push_back(bench::badgePathOf(i));
    }
    std::shuffle(keys.begin(), keys.end(), std::mt19937(42));
    return keys;
}

void BM_BadgeIdentifierForPath(benchmark::State& state) {
    AppSession session;
    bench::fillBadgeStore(recordCount);
    const auto extension = FinderSyncExtension::make();
    const auto keys = shuffledKeys(recordCount);
    std::size_t next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(extension->badgeIdentifier(keys[next++ % keys.size()]));
    }
}
BENCHMARK(BM_BadgeIdentifierForPath);

void BM_HashMapLookup(benchmark::State& state) {
    std::unordered_map<std::string, std::string> badges;
    for (std::size_t i = 0; i < recordCount; ++i) {
        badges.emplace(bench::badgePathOf(i), i % 5 == 0 ? "flagged" : "annotated");
    }
    const auto keys = shuffledKeys(recordCount);
    std::size_t next = 0;
    for (auto _ : state) {
        // With a copy of the answer, as the badge answer hands back its own string.
        const auto found = badges.find(keys[next++ % keys.size()]);
        std::string answer = found == badges.end() ? std::string() : found->second;
        benchmark::DoNotOptimize(answer);
    }
}
BENCHMARK(BM_HashMapLookup);

void BM_BadgeChangeLatency(benchmark::State& state) {
    AppSession session;
    const std::string path = "/home/user/latency.txt";
    { AnnotationStore create(AnnotationStore::defaultPath()); }
    int pipeEnds[2];
    int savedEnds[2];
    if (::pipe(pipeEnds) != 0 || ::pipe(savedEnds) != 0) {
        state.SkipWithError("no pipe");
        return;
    }
    const pid_t writer = ::fork();
    if (writer == 0) {
        ::close(pipeEnds[1]);
        bench::runBadgeWriter(pipeEnds[0], savedEnds[1], path);
    }
    ::close(pipeEnds[0]);
    const auto extension = FinderSyncExtension::make();
    FinderSyncController& controller = FinderSyncController::defaultController();
    RunLoop& loop = session.services().runLoop();
    std::vector<double> micros;
    std::string expected = "annotated";
    for (auto _ : state) {
        expected = expected == "flagged" ? "annotated" : "flagged";
        const std::size_t before = controller.badgeSets().size();
        if (::write(pipeEnds[1], "x", 1) != 1) {
            state.SkipWithError("the writer is gone");
            break;
        }
        while (controller.badgeSets().size() == before ||
               controller.badgeSets().back().identifier != expected) {
            loop.runUntilIdle();
        }
        const auto setAt = std::chrono::steady_clock::now();
        std::chrono::steady_clock::rep committed = 0;
        if (::read(savedEnds[0], &committed, sizeof committed) != sizeof committed) {
            state.SkipWithError("the writer is gone");
            break;
        }
        const std::chrono::steady_clock::time_point savedAt{
            std::chrono::steady_clock::duration(committed)};
        micros.push_back(std::chrono::duration<double, std::micro>(setAt - savedAt).count());
    }
    ::close(pipeEnds[1]);
    ::waitpid(writer, nullptr, 0);
    std::sort(micros.begin(), micros.end());
    if (!micros.empty()) {
        state.counters["p50_us"] = micros[micros.size() / 2];
        state.counters["p99_us"] = micros[micros.size() * 99 / 100];
    }
}
BENCHMARK(BM_BadgeChangeLatency)->UseRealTime()->Iterations(2000);

} // namespace

} // namespace scrivlet
