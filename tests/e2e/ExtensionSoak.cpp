// The store under load across processes: one process writes as the app does (saves, status
// changes, removes, each followed by the badge notice) while another runs the extension and
// asks it for badges and lets it drain the notices, for a number of seconds.
//
// Every write carries a version N that all its fields derive from (note "vN", tags, rating,
// status), so a reader can tell a torn record: one whose fields disagree with each other. When
// a record reads the same version before and after a badge lookup, the badge must be the one
// its status gives. After the last write every path's badge, both as asked and as last set by
// a drain, must match the writer's final state.
//
// Usage: extension-soak SECONDS     (prints the counts; fails on any error or wrong badge)
#include "Platform/Services.h"
#include "Platform/backends/simulated/SimulatedDesktop.h"
#include "Platform/base/RunLoop.h"
#include "Platform/desktop/FinderSyncController.h"
#include "Platform/system/Bundle.h"
#include "Scrivcore/Annotation.h"
#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/BadgeRefreshNotifier.h"
#include "ScrivletFinderSync/FinderSyncExtension.h"
#include "tests/e2e/SoakSupport.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace scrivlet;
namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;

namespace {

using soak::pathAt;
using soak::pathCount;
using soak::statusOf;

std::string identifierOf(std::optional<Annotation::Status> status) {
    if (!status) {
        return "";
    }
    return *status == Annotation::Status::flagged ? FinderSyncExtension::flaggedIdentifier
                                                  : FinderSyncExtension::annotatedIdentifier;
}

void stamp(Annotation& record, unsigned long long version) {
    record.note = "v" + std::to_string(version);
    record.tags = {"v" + std::to_string(version), "r" + std::to_string(version % 7)};
    record.rating = static_cast<int>(version % 6);
    record.status = statusOf(version);
    record.modifiedAt = std::chrono::system_clock::now();
}

// The version a record was written with, or nothing when its fields disagree (torn).
std::optional<unsigned long long> versionOf(const Annotation& record, const std::string& path) {
    if (record.note.size() < 2 || record.note[0] != 'v') {
        return std::nullopt;
    }
    unsigned long long version = 0;
    try {
        version = std::stoull(record.note.substr(1));
    } catch (const std::exception&) {
        return std::nullopt;
    }
    Annotation expected = record;
    stamp(expected, version);
    const bool agrees = record.path == path && record.fileName == fileNameOfPath(path) &&
                        record.tags == expected.tags && record.rating == expected.rating &&
                        record.status == expected.status;
    return agrees ? std::optional(version) : std::nullopt;
}

// Writes until `deadline`, then leaves each path's final badge identifier in `expected`.
int runWriter(const fs::path& folder, Steady::time_point deadline, const fs::path& expected) {
    AnnotationStore store(AnnotationStore::defaultPath());
    std::mt19937 random(42);
    std::map<int, std::optional<Annotation::Status>> finalStatus;
    unsigned long long version = 0;
    unsigned long long saves = 0, statusChanges = 0, removes = 0, errors = 0;
    while (Steady::now() < deadline) {
        const int index = static_cast<int>(random() % pathCount);
        const std::string path = pathAt(folder, index);
        ++version;
        try {
            const unsigned kind = random() % 10;
            if (kind < 2) {
                store.deleteByPath(path);
                finalStatus[index] = std::nullopt;
                ++removes;
            } else if (auto record = store.fetch(path); record && kind < 6) {
                stamp(*record, version); // a status change on the stored record
                store.save(*record);
                finalStatus[index] = record->status;
                ++statusChanges;
            } else {
                Annotation fresh = Annotation::forFile(path, std::chrono::system_clock::now());
                stamp(fresh, version);
                store.save(fresh);
                finalStatus[index] = fresh.status;
                ++saves;
            }
        } catch (const std::exception& error) {
            std::cerr << "writer: " << error.what() << '\n';
            ++errors;
        }
        if (!BadgeRefreshNotifier::notifyChange(path)) {
            ++errors;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    std::ofstream out(expected);
    for (int index = 0; index < pathCount; ++index) {
        const auto found = finalStatus.find(index);
        out << (found == finalStatus.end() ? "untouched" : identifierOf(found->second)) << '\n';
    }
    std::cout << "writer: " << saves << " saves, " << statusChanges << " status changes, "
              << removes << " removes, " << errors << " errors" << std::endl;
    return errors == 0 ? 0 : 1;
}

struct ReaderCounts {
    unsigned long long lookups = 0, records = 0, torn = 0, errors = 0, wrongBadges = 0,
                       drainedBadges = 0, finalWrong = 0;
};

// Asks badges and reads records until the writer has finished (`done` exists), then checks
// every badge against the writer's final state.
int runReader(const fs::path& folder, const fs::path& done, const fs::path& expected) {
    Services services(std::make_unique<RunLoop>(makeRealRunLoopBackend()),
                      std::make_unique<SimulatedDesktop>(),
                      std::make_unique<Bundle>("com.scrivlet.ExtensionSoak", folder,
                                               "extension-soak", std::vector<std::string>{}));
    ReaderCounts counts;
    std::map<std::string, std::string> drained;
    FinderSyncController::defaultController().setBadgeObserver(
        [&](const FinderSyncController::BadgeSet& set) {
            const auto path = set.url.fileSystemPath();
            drained[path ? path->string() : ""] = set.identifier;
            ++counts.drainedBadges;
        });
    const auto extension = FinderSyncExtension::make();
    if (!extension->store) {
        std::cerr << "reader: the extension did not open the store\n";
        return 1;
    }
    AnnotationStore records(AnnotationStore::defaultPath(), AnnotationStore::Access::readOnly);
    auto readVersion = [&](const std::string& path) -> std::optional<unsigned long long> {
        const auto record = records.fetch(path);
        if (!record) {
            return 0; // no record: version 0 stands for "absent"
        }
        ++counts.records;
        const auto version = versionOf(*record, path);
        if (!version) {
            std::cerr << "reader: torn record for " << path << ": " << record->note << '\n';
            ++counts.torn;
        }
        return version;
    };
    std::mt19937 random(7);
    while (!fs::exists(done)) {
        services.runLoop().runUntilIdle();
        for (int i = 0; i < 20; ++i) {
            const std::string path = pathAt(folder, static_cast<int>(random() % pathCount));
            try {
                const auto before = readVersion(path);
                const std::string badge = extension->badgeIdentifier(path);
                const auto after = readVersion(path);
                ++counts.lookups;
                if (before && after && *before == *after) {
                    const auto status =
                        *before == 0 ? std::nullopt : std::optional(statusOf(*before));
                    if (badge != identifierOf(status)) {
                        std::cerr << "reader: badge \"" << badge << "\" for " << path << '\n';
                        ++counts.wrongBadges;
                    }
                }
            } catch (const std::exception& error) {
                std::cerr << "reader: " << error.what() << '\n';
                ++counts.errors;
            }
        }
    }
    // The writer is done: whatever notices are left get drained, then every badge is checked.
    extension->refreshPendingBadges();
    services.runLoop().runUntilIdle();
    std::ifstream in(expected);
    std::string want;
    for (int index = 0; index < pathCount && std::getline(in, want); ++index) {
        const std::string path = pathAt(folder, index);
        if (want == "untouched") {
            continue;
        }
        const auto last = drained.find(path);
        if (extension->badgeIdentifier(path) != want || last == drained.end() ||
            last->second != want) {
            std::cerr << "reader: final badge of " << path << " is not \"" << want << "\"\n";
            ++counts.finalWrong;
        }
    }
    std::cout << "reader: " << counts.lookups << " badge lookups, " << counts.records
              << " records read, " << counts.drainedBadges << " badges set by drains, "
              << counts.errors << " errors, " << counts.torn << " torn records, "
              << counts.wrongBadges << " wrong badges, " << counts.finalWrong
              << " wrong final badges" << std::endl;
    const bool clean = counts.errors + counts.torn + counts.wrongBadges + counts.finalWrong == 0;
    return clean && counts.lookups > 0 && counts.drainedBadges > 0 ? 0 : 1;
}

int waitFor(pid_t child) {
    int status = 0;
    if (::waitpid(child, &status, 0) != child) {
        return 1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

} // namespace

int main(int argc, char** argv) {
    const auto seconds = soak::secondsArgument(argc, argv, "extension-soak");
    if (!seconds) {
        return 2;
    }
    const fs::path root = soak::makeSandbox("extension-soak");
    ::setenv("SCRIVLET_LOG_TO_STDERR", "1", 1);
    const fs::path folder = root / "home";
    const fs::path done = root / "writer-done";
    const fs::path expected = root / "final-badges";
    // The app creates the store before any extension can open it.
    { const AnnotationStore created(AnnotationStore::defaultPath()); }
    std::cout.flush();

    const pid_t reader = ::fork();
    if (reader == 0) {
        std::_Exit(runReader(folder, done, expected));
    }
    const auto deadline = Steady::now() + std::chrono::duration_cast<Steady::duration>(
                                              std::chrono::duration<double>(*seconds));
    const pid_t writer = ::fork();
    if (writer == 0) {
        std::_Exit(runWriter(folder, deadline, expected));
    }
    const int writerStatus = writer > 0 ? waitFor(writer) : 1;
    std::ofstream{done}.close();
    const int readerStatus = reader > 0 ? waitFor(reader) : 1;
    std::error_code ignored;
    fs::remove_all(root, ignored);
    return writerStatus == 0 && readerStatus == 0 ? 0 : 1;
}
