#include "Platform/ui/View.h"
#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/PanelViewModel.h"
#include "Scrivlet/PanelContentView.h"
#include "tests/support/ManualScheduler.h"
#include "tests/support/TempHome.h"

#include <benchmark/benchmark.h>

using namespace scrivlet;

namespace {

// The panel's tree is built again after every keystroke, so this is the cost of typing.
void BM_ContentRebuild(benchmark::State& state) {
    TempHome home;
    ManualScheduler scheduler;
    auto store = std::make_shared<AnnotationStore>(home.storePath().string());
    PanelViewModel model(store, scheduler);
    model.selectFile(home.makeFile("Documents/Reports/quarterly-summary.txt", "text"));
    model.editAnnotation([](Annotation& record) {
        record.rating = 4;
        record.status = Annotation::Status::reviewed;
        record.tags = {"finance", "q3", "draft", "needs-figures", "shared", "archive"};
        for (int line = 0; line < 6; ++line) {
            record.note += "Check the totals against the ledger before the review meeting. ";
        }
    });
    const PanelContentView content{model};
    for (auto _ : state) {
        ui::View tree = content.body();
        benchmark::DoNotOptimize(tree);
    }
}
BENCHMARK(BM_ContentRebuild);

} // namespace
