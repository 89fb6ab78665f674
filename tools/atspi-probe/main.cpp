// Prints the file manager's selection, as the AT-SPI backend reads it, on every change:
//   <wall-clock milliseconds> selection <path>|none
// and with --scans one line per look at the view:
//   <wall-clock milliseconds> scan cells=<in view> read=<asked> seconds=<rescan>
//   cell-seconds=<items> longest-slice=<seconds>
// Usage: scrivlet-atspi-probe [--pid PID] [--cap N] [--scans]
// Without --pid it follows the first running process named "dolphin" (waiting for one).
#include "Platform/backends/atspi/AtspiFileManagerSelection.h"
#include "Platform/base/RunLoop.h"
#include "Platform/system/TerminationSignals.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace {

using namespace scrivlet;

long long wallMilliseconds() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

const char* countedBy(atspi::ScanReport::CountedBy who) {
    switch (who) {
    case atspi::ScanReport::CountedBy::fileManager:
        return "file-manager";
    case atspi::ScanReport::CountedBy::items:
        return "items";
    case atspi::ScanReport::CountedBy::nobody:
        break;
    }
    return "nobody";
}

std::optional<pid_t> findFileManager() {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::ifstream comm(entry.path() / "comm");
        std::string command;
        if (std::getline(comm, command) && command == "dolphin") {
            return static_cast<pid_t>(std::stol(name));
        }
    }
    return std::nullopt;
}

int usage() {
    std::fprintf(stderr, "usage: scrivlet-atspi-probe [--pid PID] [--cap N] [--scans]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::optional<pid_t> pid;
    atspi::AtspiSelectionOptions options;
    bool printScans = false;
    try {
        for (int i = 1; i < argc; ++i) {
            const std::string argument = argv[i];
            if (argument == "--pid" && i + 1 < argc) {
                pid = static_cast<pid_t>(std::stol(argv[++i]));
            } else if (argument == "--cap" && i + 1 < argc) {
                options.cellCap = std::stoul(argv[++i]);
            } else if (argument == "--scans") {
                printScans = true;
            } else {
                return usage();
            }
        }
    } catch (const std::exception&) {
        return usage();
    }
    if (printScans) {
        options.onScan = [](const atspi::ScanReport& report) {
            std::printf("%lld scan cells=%zu read=%zu seconds=%.6f cell-seconds=%.6f "
                        "longest-slice=%.6f counted-by=%s\n",
                        wallMilliseconds(), report.cellsInView, report.cellsRead, report.seconds,
                        report.cellSeconds, report.longestSliceSeconds,
                        countedBy(report.countedBy));
            std::fflush(stdout);
        };
    }

    RunLoop loop(makeRealRunLoopBackend());
    RunLoop::setMain(&loop);
    const auto signals = TerminationSignals::install(loop, [&loop](int) { loop.stop(); });
    auto selection = atspi::makeAtspiFileManagerSelection(loop, options);
    if (!selection->isAvailable()) {
        std::fprintf(stderr, "scrivlet-atspi-probe: the accessibility bus does not answer\n");
        return 1;
    }
    const auto report = [&selection] {
        const std::optional<std::string> path = selection->singleSelectedPath();
        std::printf("%lld selection %s\n", wallMilliseconds(), path ? path->c_str() : "none");
        std::fflush(stdout);
    };
    const auto start = [&] {
        selection->follow(*pid, report);
        std::printf("%lld following %d\n", wallMilliseconds(), static_cast<int>(*pid));
        std::fflush(stdout);
    };
    if (pid) {
        start();
    } else {
        // Wait for the file manager to start.
        loop.addTimer(0.1, true, [&] {
            if (!pid && (pid = findFileManager())) {
                start();
            }
        });
    }
    loop.run();
    return 0;
}
