// The launch upkeep (bookmark resolution, then the badge attribute sync) at the size of a
// large collection: 100,000 annotated files in folders of a hundred, against the least the
// work needs, one stat and one getxattr per file, in the same run.
#include "Platform/system/FileBookmark.h"
#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/BadgeXattr.h"
#include "Scrivlet/AppDelegate.h"
#include "tests/support/AppSession.h"
#include "tests/support/TempHome.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <sys/xattr.h>

using namespace scrivlet;

namespace fs = std::filesystem;

namespace {

constexpr int fileCount = 100'000;
constexpr int filesPerFolder = 100;
constexpr int movedEvery = 100; // 1% of the files move in BM_LaunchUpkeepMoved

fs::path fileOf(const fs::path& root, int i) {
    return root / ("folder-" + std::to_string(i / filesPerFolder)) /
           ("file-" + std::to_string(i) + ".txt");
}

std::int64_t changeTime(const std::string& path) {
    struct statx info {};
    ::statx(AT_FDCWD, path.c_str(), 0, STATX_CTIME, &info);
    return info.stx_ctime.tv_sec * 1'000'000'000LL + info.stx_ctime.tv_nsec;
}

// The floor: what any upkeep must ask the file system for each file.
void bareSyscalls(const std::vector<std::string>& paths) {
    char value[64];
    for (const std::string& path : paths) {
        struct stat info {};
        benchmark::DoNotOptimize(::stat(path.c_str(), &info));
        benchmark::DoNotOptimize(
            ::getxattr(path.c_str(), BadgeXattr::attributeName, value, sizeof value));
    }
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// One launched app over a store of every file, badges set, shared by the benchmarks.
struct Collection {
    AppSession session;
    std::vector<std::string> paths;

    Collection() {
        const fs::path root = session.home().path() / "Collection";
        std::vector<Annotation> records;
        for (int i = 0; i < fileCount; ++i) {
            const fs::path file = fileOf(root, i);
            if (i % filesPerFolder == 0) {
                fs::create_directories(file.parent_path());
            }
            std::ofstream(file) << i;
            Annotation record = Annotation::forFile(file.string(), Date());
            record.status = i % 5 == 0 ? Annotation::Status::flagged : Annotation::Status::none;
            std::error_code error;
            record.bookmarkData = FileBookmark::create(file, error);
            BadgeXattr::markAnnotated(file, record.isFlagged());
            paths.push_back(file.string());
            records.push_back(std::move(record));
        }
        AnnotationStore(AnnotationStore::defaultPath()).saveAll(records);
        session.launch(); // the first upkeep runs here, and warms the caches
    }

    AppDelegate& app() { return *session.delegate(); }
};

Collection& collection() {
    static Collection shared;
    return shared;
}

void BM_LaunchUpkeep(benchmark::State& state) {
    Collection& c = collection();
    std::vector<std::int64_t> before;
    for (const std::string& path : c.paths) {
        before.push_back(changeTime(path));
    }
    // On a shared machine the pace changes from one second to the next: each iteration is
    // followed by a pass of the floor, untimed, so `xFloor` compares the two under the same
    // conditions.
    double upkeepSeconds = 0, floorSeconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        c.app().resolveBookmarks();
        c.app().syncBadgeXattrs();
        upkeepSeconds += secondsSince(start);
        state.PauseTiming();
        const auto floorStart = std::chrono::steady_clock::now();
        bareSyscalls(c.paths);
        floorSeconds += secondsSince(floorStart);
        state.ResumeTiming();
    }
    state.counters["xFloor"] = upkeepSeconds / floorSeconds;
    int touched = 0;
    for (std::size_t i = 0; i < c.paths.size(); ++i) {
        touched += changeTime(c.paths[i]) != before[i] ? 1 : 0;
    }
    state.counters["filesTouched"] = touched;
}
BENCHMARK(BM_LaunchUpkeep)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_BareSyscalls(benchmark::State& state) {
    Collection& c = collection();
    for (auto _ : state) {
        bareSyscalls(c.paths);
    }
}
BENCHMARK(BM_BareSyscalls)->Unit(benchmark::kMillisecond)->UseRealTime();

// Each step alone, to see where the time goes.
void BM_ResolveBookmarks(benchmark::State& state) {
    Collection& c = collection();
    for (auto _ : state) {
        c.app().resolveBookmarks();
    }
}
BENCHMARK(BM_ResolveBookmarks)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SyncBadgeXattrs(benchmark::State& state) {
    Collection& c = collection();
    for (auto _ : state) {
        c.app().syncBadgeXattrs();
    }
}
BENCHMARK(BM_SyncBadgeXattrs)->Unit(benchmark::kMillisecond)->UseRealTime();

// 1% of the files moved to the next folder since the last launch; each run moves them back
// and forth, so every iteration re-keys a thousand records.
void BM_LaunchUpkeepMoved(benchmark::State& state) {
    Collection& c = collection();
    const fs::path root = c.session.home().path() / "Collection";
    bool away = false;
    auto moveAll = [&] {
        for (int i = 0; i < fileCount; i += movedEvery) {
            const fs::path home = fileOf(root, i);
            const fs::path elsewhere =
                fileOf(root, (i + filesPerFolder) % fileCount).parent_path() / home.filename();
            fs::rename(away ? elsewhere : home, away ? home : elsewhere);
        }
        away = !away;
    };
    for (auto _ : state) {
        state.PauseTiming();
        moveAll();
        state.ResumeTiming();
        c.app().resolveBookmarks();
        c.app().syncBadgeXattrs();
    }
    if (away) { // leave the collection as the other benchmarks expect it
        moveAll();
        c.app().resolveBookmarks();
    }
}
BENCHMARK(BM_LaunchUpkeepMoved)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
