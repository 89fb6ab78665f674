// A URL opened in this process and handled in the app's: the real app runs in a temporary
// home, and each iteration hands it one "annotate" URL and waits for its answer, which comes
// once the app has handled the URL. Reports the median and the 99th percentile.
#include "Platform/system/URLDelivery.h"
#include "tests/support/TempHome.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

using namespace scrivlet;
using namespace std::chrono_literals;

namespace {

// The app in this benchmark's temporary home, for as long as the object lives.
class RunningApp {
public:
    RunningApp() {
        ::setenv("SCRIVLET_LOG_TO_STDERR", "1", 1);
        char* argv[] = {const_cast<char*>(SCRIVLET_APP_PATH), nullptr};
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        for (const int fd : {0, 1, 2}) {
            posix_spawn_file_actions_addopen(&files, fd, "/dev/null", O_RDWR, 0);
        }
        if (::posix_spawn(&pid_, argv[0], &files, nullptr, argv, environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&files);
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (URLDelivery::deliver("scrivlet", {}, 1s) &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
        }
    }
    ~RunningApp() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    RunningApp(const RunningApp&) = delete;
    RunningApp& operator=(const RunningApp&) = delete;

    bool isRunning() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
};

double percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
    return values[index];
}

void BM_OpenURLRoundTrip(benchmark::State& state) {
    TempHome home;
    const std::string file = home.makeFile("Documents/bench.txt", "b").string();
    const RunningApp app;
    if (!app.isRunning()) {
        state.SkipWithError("cannot start the app");
        return;
    }
    const std::vector<URL> url = {*URL::fromString("scrivlet://annotate?path=" + file)};
    std::vector<double> microseconds;
    for (auto _ : state) {
        const auto started = std::chrono::steady_clock::now();
        if (URLDelivery::deliver("scrivlet", url, 5s)) {
            state.SkipWithError("the app did not take the URL");
            break;
        }
        microseconds.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - started)
                .count());
    }
    if (!microseconds.empty()) {
        state.counters["p50_us"] = percentile(microseconds, 0.50);
        state.counters["p99_us"] = percentile(microseconds, 0.99);
    }
}
BENCHMARK(BM_OpenURLRoundTrip)->Unit(benchmark::kMicrosecond)->Iterations(5000);

} // namespace
