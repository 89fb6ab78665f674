// What `scrivlet find` spends in the store at 100,000 records: the query parsed, compiled and
// answered with the matching paths. Run with --benchmark_repetitions for medians.
#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/QueryParser.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>

using namespace scrivlet;

namespace fs = std::filesystem;

namespace {

constexpr int recordCount = 100'000;

Annotation recordFor(int i) {
    Annotation record =
        Annotation::forFile("/home/user/Projects/project-" + std::to_string(i % 97) + "/file-" +
                                std::to_string(i) + ".png",
                            Date(std::chrono::seconds(1'700'000'000 + i)));
    // One note in a hundred mentions the budget; every note has a dozen other words.
    record.note = "Reviewed colours and layout with the team, see ticket " + std::to_string(i) +
                  (i % 100 == 0 ? "; budget approved" : "; nothing else to add");
    record.tags = {"design", "client-" + std::to_string(i % 50)};
    record.rating = i % 6;
    record.status = Annotation::allStatuses[static_cast<std::size_t>(i % 5)];
    return record;
}

struct Collection {
    fs::path folder;
    std::unique_ptr<AnnotationStore> store;

    Collection() {
        std::string pattern = (fs::temp_directory_path() / "query-bench-XXXXXX").string();
        folder = ::mkdtemp(pattern.data());
        store = std::make_unique<AnnotationStore>((folder / "annotations.sqlite").string());
        std::vector<Annotation> records;
        records.reserve(recordCount);
        for (int i = 0; i < recordCount; ++i) {
            records.push_back(recordFor(i));
        }
        store->saveAll(records);
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

void find(benchmark::State& state, const char* text) {
    AnnotationStore& store = *collection().store;
    std::size_t found = 0;
    for (auto _ : state) {
        const auto root = query::parseQuery(text);
        found = store.findPaths({root.get(), std::nullopt}).size();
        benchmark::DoNotOptimize(found);
    }
    state.counters["matches"] = static_cast<double>(found);
}

} // namespace

// Indexed predicates: a fifth of the records, then one in fifty.
BENCHMARK_CAPTURE(find, status_flagged, "status:flagged")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(find, rating_at_least_5, "rating>=5")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(find, tag, "tag:CLIENT-7")->Unit(benchmark::kMillisecond);
// Words of the notes: one in a hundred, and a word every note holds.
BENCHMARK_CAPTURE(find, note_word, "note:budget")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(find, note_word_everywhere, "note:layout")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(find, combined, "note:budget and rating>=3 or tag:client-3 and status:approved")
    ->Unit(benchmark::kMillisecond);
