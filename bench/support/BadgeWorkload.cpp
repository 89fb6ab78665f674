#include "bench/support/BadgeWorkload.h"

#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/BadgeRefreshNotifier.h"

#include <algorithm>
#include <chrono>
#include <random>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace scrivlet::bench {

std::string badgePathOf(std::size_t index) {
    return "/home/user/Documents/project-" + std::to_string(index % 97) + "/file-" +
           std::to_string(index) + ".txt";
}

void fillBadgeStore(std::size_t count) {
    AnnotationStore store(AnnotationStore::defaultPath());
    std::vector<Annotation> records;
    records.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        Annotation record = Annotation::forFile(badgePathOf(i), Date());
        record.tags = {"work", "q3"};
        record.note = "A note of ordinary length for file " + std::to_string(i);
        record.status = i % 5 == 0 ? Annotation::Status::flagged : Annotation::Status::reviewed;
        records.push_back(std::move(record));
    }
    store.saveAll(records);
}

std::vector<std::string> shownPaths(std::size_t count) {
    std::vector<std::string> shown;
    shown.reserve(count * 2);
    for (std::size_t i = 0; i < count; ++i) {
        shown.push_back(badgePathOf(i));
        shown.push_back(badgePathOf(i) + ".plain");
    }
    std::shuffle(shown.begin(), shown.end(), std::mt19937(42));
    return shown;
}

namespace {

[[noreturn]] void runBadgeWriter(int requests, int saved, const std::string& path) {
    AnnotationStore store(AnnotationStore::defaultPath());
    Annotation record = Annotation::forFile(path, Date());
    char byte = 0;
    bool flagged = false;
    while (::read(requests, &byte, 1) == 1) {
        flagged = !flagged;
        record.status = flagged ? Annotation::Status::flagged : Annotation::Status::reviewed;
        store.save(record);
        const auto committed = std::chrono::steady_clock::now().time_since_epoch().count();
        BadgeRefreshNotifier::notifyChange(path);
        if (::write(saved, &committed, sizeof committed) != sizeof committed) {
            break;
        }
    }
    ::_exit(0);
}

} // namespace

BadgeWriter::BadgeWriter(const std::string& path) {
    int requestEnds[2];
    int savedEnds[2];
    if (::pipe(requestEnds) != 0) {
        return;
    }
    if (::pipe(savedEnds) != 0) {
        ::close(requestEnds[0]);
        ::close(requestEnds[1]);
        return;
    }
    process_ = ::fork();
    if (process_ == 0) {
        ::close(requestEnds[1]);
        ::close(savedEnds[0]);
        runBadgeWriter(requestEnds[0], savedEnds[1], path);
    }
    ::close(requestEnds[0]);
    ::close(savedEnds[1]);
    requests_ = requestEnds[1];
    saved_ = savedEnds[0];
}

BadgeWriter::~BadgeWriter() {
    // The writer ends when its requests do.
    if (requests_ >= 0) {
        ::close(requests_);
        ::close(saved_);
    }
    if (process_ > 0) {
        ::waitpid(process_, nullptr, 0);
    }
}

bool BadgeWriter::save() {
    return running() && ::write(requests_, "x", 1) == 1;
}

std::optional<std::chrono::steady_clock::time_point> BadgeWriter::savedAt() {
    std::chrono::steady_clock::rep committed = 0;
    if (!running() || ::read(saved_, &committed, sizeof committed) != sizeof committed) {
        return std::nullopt;
    }
    return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(committed));
}

void reportPercentiles(benchmark::State& state, std::vector<double>& micros) {
    std::sort(micros.begin(), micros.end());
    if (!micros.empty()) {
        state.counters["p50_us"] = micros[micros.size() / 2];
        state.counters["p99_us"] = micros[micros.size() * 99 / 100];
    }
}

} // namespace scrivlet::bench
