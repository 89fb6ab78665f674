// Store figures at the size of a large collection: 100,000 annotated files.
#include "Scrivcore/AnnotationStore.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <unordered_map>

using namespace scrivlet;

namespace fs = std::filesystem;

namespace {

constexpr int recordCount = 100'000;

std::string pathOf(int i) {
    return "/home/user/Projects/project-" + std::to_string(i % 97) + "/assets/file-" +
           std::to_string(i) + ".png";
}

Annotation recordFor(int i) {
    Annotation record = Annotation::forFile(pathOf(i), Date(std::chrono::seconds(1'700'000'000)));
    record.note = "Reviewed colours and layout; see ticket " + std::to_string(i);
    record.tags = {"design", "review"};
    record.rating = i % 6;
    record.status = Annotation::allStatuses[static_cast<std::size_t>(i % 5)];
    return record;
}

// One populated store for every benchmark of the run, in a temporary folder removed at exit.
struct Collection {
    fs::path folder;
    std::unique_ptr<AnnotationStore> store;
    std::vector<std::string> lookupOrder;
    std::unordered_map<std::string, Annotation> inMemory;

    Collection() {
        std::string pattern = (fs::temp_directory_path() / "scrivcore-bench-XXXXXX").string();
        folder = ::mkdtemp(pattern.data());
        store = std::make_unique<AnnotationStore>((folder / "annotations.sqlite").string());
        std::vector<Annotation> records;
        records.reserve(recordCount);
        for (int i = 0; i < recordCount; ++i) {
            records.push_back(recordFor(i));
        }
        store->saveAll(records);
        for (Annotation& record : records) {
            lookupOrder.push_back(record.path);
            inMemory.emplace(record.path, std::move(record));
        }
        std::shuffle(lookupOrder.begin(), lookupOrder.end(), std::mt19937(7));
    }
    ~Collection() {
        store.reset();
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
};

Collection& collection() {
    static Collection shared;
    return shared;
}

void BM_FetchByPath(benchmark::State& state) {
    Collection& c = collection();
    std::size_t next = 0;
    for (auto _ : state) {
        auto record = c.store->fetch(c.lookupOrder[next]);
        benchmark::DoNotOptimize(record);
        next = (next + 1) % c.lookupOrder.size();
    }
}
BENCHMARK(BM_FetchByPath);

// The floor for a lookup: a hash map of the same records, returning a copy as a fetch does.
void BM_HashMapLookup(benchmark::State& state) {
    Collection& c = collection();
    std::size_t next = 0;
    for (auto _ : state) {
        auto found = c.inMemory.find(c.lookupOrder[next]);
        std::optional<Annotation> record =
            found == c.inMemory.end() ? std::nullopt : std::optional<Annotation>(found->second);
        benchmark::DoNotOptimize(record);
        next = (next + 1) % c.lookupOrder.size();
    }
}
BENCHMARK(BM_HashMapLookup);

void BM_FetchAll(benchmark::State& state) {
    Collection& c = collection();
    for (auto _ : state) {
        auto records = c.store->fetchAll();
        benchmark::DoNotOptimize(records);
    }
    state.SetItemsProcessed(state.iterations() * recordCount);
}
BENCHMARK(BM_FetchAll)->Unit(benchmark::kMillisecond);

// One durable save of an edited record into the full store.
void BM_Save(benchmark::State& state) {
    Collection& c = collection();
    Annotation record = recordFor(42);
    int revision = 0;
    for (auto _ : state) {
        record.note = "revision " + std::to_string(++revision);
        c.store->save(record);
    }
}
// Real time: the CPU time of a save leaves out its wait for the disk flush.
BENCHMARK(BM_Save)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

namespace {

// Opening checks the whole file before anything is written to it; this is its price.
void BM_OpenStore(benchmark::State& state) {
    Collection& c = collection();
    for (auto _ : state) {
        AnnotationStore reopened(c.store->path());
        benchmark::DoNotOptimize(reopened);
    }
}
BENCHMARK(BM_OpenStore)->Unit(benchmark::kMillisecond);

} // namespace
