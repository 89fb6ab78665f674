#pragma once

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace scrivlet::bench {

// The badge benchmarks' store: records spread over 97 folders, a fifth of them flagged.
std::string badgePathOf(std::size_t index);
// Fills the store at the default path with `count` such records, with tags and a note.
void fillBadgeStore(std::size_t count);
// The files a view shows: each of the `count` recorded files and a file beside it without a
// record, in no order (the same every run).
std::vector<std::string> shownPaths(std::size_t count);

// The app's process, forked as it is made (before the benchmark's process starts threads of its
// own): for every save() it flips the status of the record at `path` and announces it, as a
// panel edit does; savedAt() answers when that save was committed (the steady clock is the
// same in both processes).
class BadgeWriter {
public:
    explicit BadgeWriter(const std::string& path);
    ~BadgeWriter();
    BadgeWriter(const BadgeWriter&) = delete;
    BadgeWriter& operator=(const BadgeWriter&) = delete;

    bool running() const { return process_ > 0; }
    // False when the process is gone.
    bool save();
    std::optional<std::chrono::steady_clock::time_point> savedAt();

private:
    pid_t process_ = -1;
    int requests_ = -1; // written here, one byte a save
    int saved_ = -1;    // read here, the clock's count a save
};

// The median and the 99th percentile of single calls, as the benchmark's counters.
void reportPercentiles(benchmark::State& state, std::vector<double>& micros);

// Times one call of `answer` an iteration, on `items` round and round, and reports the
// percentiles.
template <typename Item, typename Answer>
void timeSingleAnswers(benchmark::State& state, const std::vector<Item>& items, Answer answer) {
    using Clock = std::chrono::steady_clock;
    std::vector<double> micros;
    micros.reserve(state.max_iterations);
    std::size_t next = 0;
    for (auto _ : state) {
        const auto started = Clock::now();
        auto answered = answer(items[next++ % items.size()]);
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - started).count());
        benchmark::DoNotOptimize(answered);
    }
    reportPercentiles(state, micros);
}

} // namespace scrivlet::bench
