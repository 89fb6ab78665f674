// The file manager's emblem plug-in, loaded as the file manager loads it: the time of one
// getOverlays at 100,000 records, and the time from an app save in another process to the
// plug-in's overlaysChanged (the file manager's redraw request). Both report the median and
// the 99th percentile of single calls.
#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/BadgeRefreshNotifier.h"
#include "bench/support/BadgeWorkload.h"
#include "tests/support/TempHome.h"

#include <KOverlayIconPlugin>
#include <QApplication>
#include <QPluginLoader>
#include <QUrl>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>

namespace scrivlet {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t recordCount = 100'000;

QApplication& application() {
    static int argc = 1;
    static char name[] = "file-manager-bench";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        ::setenv("QT_QPA_PLATFORM", "minimal", 1);
        return new QApplication(argc, argv);
    }();
    return *app;
}

KOverlayIconPlugin* loadPlugin() {
    QPluginLoader loader(SCRIVLET_OVERLAY_PLUGIN);
    return qobject_cast<KOverlayIconPlugin*>(loader.instance());
}

// Half the files shown are annotated (a fifth of those flagged), half are not, in no order.
void BM_GetOverlays(benchmark::State& state) {
    TempHome home;
    bench::fillBadgeStore(recordCount);
    application();
    KOverlayIconPlugin* plugin = loadPlugin();
    if (plugin == nullptr) {
        state.SkipWithError("the plug-in does not load");
        return;
    }
    std::vector<QUrl> shown;
    for (const std::string& path : bench::shownPaths(recordCount)) {
        shown.push_back(QUrl::fromLocalFile(QString::fromStdString(path)));
    }
    bench::timeSingleAnswers(state, shown,
                             [&](const QUrl& url) { return plugin->getOverlays(url); });
    delete plugin;
}
BENCHMARK(BM_GetOverlays)->Iterations(200'000);

// With the store empty but for the changed file, and with 100,000 other records.
void BM_SaveToOverlaysChanged(benchmark::State& state) {
    TempHome home;
    bench::fillBadgeStore(static_cast<std::size_t>(state.range(0)));
    const std::string path = "/home/user/latency.txt";
    // The writer is forked before Qt starts threads of its own in this process.
    bench::BadgeWriter writer(path);
    if (!writer.running()) {
        state.SkipWithError("no writer process");
        return;
    }
    application();
    KOverlayIconPlugin* plugin = loadPlugin();
    if (plugin == nullptr) {
        state.SkipWithError("the plug-in does not load");
        return;
    }
    std::size_t changes = 0;
    Clock::time_point signalledAt;
    QObject::connect(plugin, &KOverlayIconPlugin::overlaysChanged, plugin,
                     [&](const QUrl&, const QStringList&) {
                         ++changes;
                         signalledAt = Clock::now();
                     });
    std::vector<double> micros;
    for (auto _ : state) {
        const std::size_t before = changes;
        if (!writer.save()) {
            state.SkipWithError("the writer is gone");
            break;
        }
        while (changes == before) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        const auto savedAt = writer.savedAt();
        if (!savedAt) {
            state.SkipWithError("the writer is gone");
            break;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(signalledAt - *savedAt).count());
    }
    bench::reportPercentiles(state, micros);
    delete plugin;
}
BENCHMARK(BM_SaveToOverlaysChanged)->Arg(0)->Arg(recordCount)->UseRealTime()->Iterations(2000);

} // namespace

} // namespace scrivlet
