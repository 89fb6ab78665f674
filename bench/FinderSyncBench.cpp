// The extension's badge answer against its floor (a bare SQLite point read of the same key, in
// a read transaction of its own, on the same store) and against an in-memory hash lookup of
// the same keys, and the time from an app save in another process to the extension's badge set.
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
#include <sqlite3.h>
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

// What any answer that sees the latest commit pays: the engine's read transaction (its
// locks) and one probe of the badge index, read as the extension's connection reads it
// (mapped pages), with nothing of ours around it.
void BM_BareSqlitePointRead(benchmark::State& state) {
    AppSession session;
    bench::fillBadgeStore(recordCount);
    sqlite3* db = nullptr;
    sqlite3_stmt* statement = nullptr;
    const std::string path = AnnotationStore::defaultPath();
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) !=
            SQLITE_OK ||
        sqlite3_exec(db, "PRAGMA mmap_size=268435456", nullptr, nullptr, nullptr) != SQLITE_OK ||
        sqlite3_prepare_v3(db,
                           "SELECT status FROM annotations INDEXED BY annotations_badge"
                           " WHERE path = ?1",
                           -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) != SQLITE_OK) {
        state.SkipWithError(sqlite3_errmsg(db));
        sqlite3_close_v2(db);
        return;
    }
    const auto keys = shuffledKeys(recordCount);
    std::size_t next = 0;
    for (auto _ : state) {
        const std::string& key = keys[next++ % keys.size()];
        sqlite3_bind_text(statement, 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
        // Stepping in autocommit mode opens the read transaction; the reset ends it.
        if (sqlite3_step(statement) == SQLITE_ROW) {
            benchmark::DoNotOptimize(sqlite3_column_text(statement, 0));
        }
        sqlite3_reset(statement);
    }
    sqlite3_finalize(statement);
    sqlite3_close_v2(db);
}
BENCHMARK(BM_BareSqlitePointRead);

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
    bench::BadgeWriter writer(path);
    if (!writer.running()) {
        state.SkipWithError("no writer process");
        return;
    }
    const auto extension = FinderSyncExtension::make();
    FinderSyncController& controller = FinderSyncController::defaultController();
    RunLoop& loop = session.services().runLoop();
    std::vector<double> micros;
    std::string expected = "annotated";
    for (auto _ : state) {
        expected = expected == "flagged" ? "annotated" : "flagged";
        const std::size_t before = controller.badgeSets().size();
        if (!writer.save()) {
            state.SkipWithError("the writer is gone");
            break;
        }
        while (controller.badgeSets().size() == before ||
               controller.badgeSets().back().identifier != expected) {
            loop.runUntilIdle();
        }
        const auto setAt = std::chrono::steady_clock::now();
        const auto savedAt = writer.savedAt();
        if (!savedAt) {
            state.SkipWithError("the writer is gone");
            break;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(setAt - *savedAt).count());
    }
    bench::reportPercentiles(state, micros);
}
BENCHMARK(BM_BadgeChangeLatency)->UseRealTime()->Iterations(2000);

} // namespace

} // namespace scrivlet
