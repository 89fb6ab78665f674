// The emblem plug-in, loaded as the file manager loads it, asked for emblems while another
// process saves records as the app does, as fast as it can, for a number of seconds.
//
// Every file keeps a record for the whole run, so every answer must carry an emblem: an empty
// answer is the one that clears a correct emblem until the next redraw. Each save writes a
// version N whose status all readers can derive; when a record reads the same version before
// and after an emblem lookup, the emblem must be the one its status gives. Change signals are
// checked the same way. Answers that kept the caller over a millisecond are counted too (on a
// loaded machine the scheduler alone makes some).
//
// Usage: emblem-soak SECONDS     (prints the counts; fails on any wrong answer)
#include "Scrivcore/Annotation.h"
#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/BadgeRefreshNotifier.h"
#include "tests/e2e/SoakSupport.h"

#include <KOverlayIconPlugin>
#include <QApplication>
#include <QFileInfo>
#include <QPluginLoader>
#include <QUrl>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

using namespace scrivlet;
namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;

namespace {

using soak::pathAt;
using soak::pathCount;
using soak::statusOf;

std::string identifierOf(Annotation::Status status) {
    return status == Annotation::Status::flagged ? "flagged" : "annotated";
}

// The badge an emblem list shows: its image files are named after the badge identifier.
std::string identifierOf(const QStringList& overlays) {
    if (overlays.isEmpty()) {
        return "";
    }
    return QFileInfo(overlays.front()).fileName().section('-', 0, 0).toStdString();
}

void stamp(Annotation& record, unsigned long long version) {
    record.note = "v" + std::to_string(version);
    record.status = statusOf(version);
    record.modifiedAt = std::chrono::system_clock::now();
}

unsigned long long versionOf(const Annotation& record) {
    return std::stoull(record.note.substr(1));
}

[[noreturn]] void runWriter(const fs::path& folder, Steady::time_point deadline) {
    AnnotationStore store(AnnotationStore::defaultPath());
    std::mt19937 random(42);
    unsigned long long version = pathCount;
    unsigned long long saves = 0, errors = 0;
    while (Steady::now() < deadline) {
        const std::string path = pathAt(folder, static_cast<int>(random() % pathCount));
        try {
            Annotation record = store.fetch(path).value();
            stamp(record, ++version);
            store.save(record);
            ++saves;
        } catch (const std::exception& error) {
            std::cerr << "writer: " << error.what() << '\n';
            ++errors;
        }
        if (!BadgeRefreshNotifier::notifyChange(path)) {
            ++errors;
        }
    }
    std::cout << "writer: " << saves << " saves, " << errors << " errors" << std::endl;
    std::_Exit(errors == 0 ? 0 : 1);
}

struct ReaderCounts {
    unsigned long long lookups = 0, emptyAnswers = 0, wrongAnswers = 0, overOneMillisecond = 0,
                       changes = 0, emptyChanges = 0;
    double slowestMicros = 0;
};

class Reader {
public:
    Reader(KOverlayIconPlugin& plugin, const fs::path& folder)
        : plugin_(plugin), folder_(folder),
          records_(AnnotationStore::defaultPath(), AnnotationStore::Access::readOnly) {
        QObject::connect(&plugin_, &KOverlayIconPlugin::overlaysChanged, &plugin_,
                         [this](const QUrl& url, const QStringList& overlays) {
                             ++counts_.changes;
                             if (overlays.isEmpty()) {
                                 std::cerr << "reader: change cleared the emblem of "
                                           << url.toLocalFile().toStdString() << '\n';
                                 ++counts_.emptyChanges;
                             }
                         });
    }

    void askOnce(int index) {
        const std::string path = pathAt(folder_, index);
        const unsigned long long before = versionOf(records_.fetch(path).value());
        const QUrl url = QUrl::fromLocalFile(QString::fromStdString(path));
        const auto started = Steady::now();
        const QStringList overlays = plugin_.getOverlays(url);
        const double micros =
            std::chrono::duration<double, std::micro>(Steady::now() - started).count();
        const unsigned long long after = versionOf(records_.fetch(path).value());
        ++counts_.lookups;
        counts_.slowestMicros = std::max(counts_.slowestMicros, micros);
        counts_.overOneMillisecond += micros > 1000 ? 1 : 0;
        const std::string shown = identifierOf(overlays);
        if (shown.empty()) {
            std::cerr << "reader: no emblem for " << path << '\n';
            ++counts_.emptyAnswers;
        } else if (before == after && shown != identifierOf(statusOf(before))) {
            std::cerr << "reader: emblem \"" << shown << "\" for " << path << '\n';
            ++counts_.wrongAnswers;
        }
    }

    const ReaderCounts& counts() const { return counts_; }

private:
    KOverlayIconPlugin& plugin_;
    fs::path folder_;
    AnnotationStore records_; // waits for locks: the reference the answers are checked against
    ReaderCounts counts_;
};

int runReader(const fs::path& folder, pid_t writer) {
    int argc = 1;
    char name[] = "emblem-soak";
    char* argv[] = {name, nullptr};
    ::setenv("QT_QPA_PLATFORM", "minimal", 1);
    const QApplication app(argc, argv);
    QPluginLoader loader(SCRIVLET_OVERLAY_PLUGIN);
    auto* plugin = qobject_cast<KOverlayIconPlugin*>(loader.instance());
    if (plugin == nullptr) {
        std::cerr << "reader: " << loader.errorString().toStdString() << '\n';
        return 1;
    }
    Reader reader(*plugin, folder);
    std::mt19937 random(7);
    int status = 0;
    while (::waitpid(writer, &status, WNOHANG) == 0) {
        // As the file manager interleaves its redraws with the plug-in's change signals.
        QCoreApplication::processEvents();
        for (int i = 0; i < 20; ++i) {
            reader.askOnce(static_cast<int>(random() % pathCount));
        }
    }
    const ReaderCounts& counts = reader.counts();
    std::cout << "reader: " << counts.lookups << " emblem answers, " << counts.emptyAnswers
              << " without an emblem, " << counts.wrongAnswers << " with the wrong emblem, "
              << counts.overOneMillisecond << " over 1 ms (slowest " << counts.slowestMicros
              << " us); " << counts.changes << " change signals, " << counts.emptyChanges
              << " clearing the emblem" << std::endl;
    delete plugin;
    const bool writerClean = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    const bool right = counts.emptyAnswers + counts.wrongAnswers + counts.emptyChanges == 0;
    return writerClean && right && counts.lookups > 0 ? 0 : 1;
}

void seed(const fs::path& folder) {
    AnnotationStore store(AnnotationStore::defaultPath());
    for (int index = 0; index < pathCount; ++index) {
        Annotation record = Annotation::forFile(pathAt(folder, index), Date());
        stamp(record, static_cast<unsigned long long>(index));
        store.save(record);
    }
}

} // namespace

int main(int argc, char** argv) {
    const auto seconds = soak::secondsArgument(argc, argv, "emblem-soak");
    if (!seconds) {
        return 2;
    }
    const fs::path root = soak::makeSandbox("emblem-soak");
    const fs::path folder = root / "home";
    seed(folder);
    std::cout.flush();
    const auto deadline = Steady::now() + std::chrono::duration_cast<Steady::duration>(
                                              std::chrono::duration<double>(*seconds));
    // Forked before Qt starts threads of its own in this process.
    const pid_t writer = ::fork();
    if (writer == 0) {
        runWriter(folder, deadline);
    }
    const int result = writer > 0 ? runReader(folder, writer) : 1;
    std::error_code ignored;
    fs::remove_all(root, ignored);
    return result;
}
