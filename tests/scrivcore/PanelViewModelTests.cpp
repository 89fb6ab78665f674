#include "Platform/system/FileBookmark.h"
#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/BadgeRefreshNotifier.h"
#include "Scrivcore/BadgeXattr.h"
#include "Scrivcore/FinderCommentSync.h"
#include "Scrivcore/FinderTagSync.h"
#include "Scrivcore/PanelViewModel.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ManualScheduler.h"
#include "tests/support/RawSqlite.h"
#include "tests/support/TempHome.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace scrivlet;

namespace fs = std::filesystem;

namespace {

class PanelViewModelTest : public ::testing::Test {
protected:
    TempHome home;
    LogCapture log;
    ManualScheduler scheduler;
    std::shared_ptr<AnnotationStore> store =
        std::make_shared<AnnotationStore>(home.storePath().string());
    fs::path report = home.makeFile("Documents/report.txt", "text");
    fs::path photo = home.makeFile("Pictures/photo.jpg", "jpeg");

    std::unique_ptr<PanelViewModel> makeViewModel() {
        return std::make_unique<PanelViewModel>(store, scheduler);
    }

    void typeNote(PanelViewModel& model, const std::string& text) {
        model.editAnnotation([&](Annotation& record) { record.note = text; });
        model.scheduleSave();
    }
};

TEST_F(PanelViewModelTest, SelectingShowsADraftAndCreatesNoRecord) {
    auto model = makeViewModel();
    model->selectFile(report);
    ASSERT_TRUE(model->annotation());
    EXPECT_TRUE(model->isVisible());
    EXPECT_EQ(model->selectedFileURL(), report);
    EXPECT_EQ(model->annotation()->fileName, "report.txt");
    scheduler.advance(10);
    EXPECT_FALSE(store->hasAnnotation(report.string()));
    EXPECT_FALSE(BadgeXattr::badgeValue(report));

    model->selectFile(std::nullopt);
    EXPECT_FALSE(model->annotation());
    EXPECT_FALSE(model->isVisible());
    EXPECT_FALSE(model->selectedFileURL());
}

TEST_F(PanelViewModelTest, AFolderIsKeyedByItsPathWithoutTheTrailingSlash) {
    // Finder names a selected folder with a trailing slash; the record key must not keep it,
    // or the same folder would have two keys.
    const fs::path folder = home.path() / "Projects";
    fs::create_directories(folder);
    auto model = makeViewModel();
    model->selectFile(fs::path(folder.string() + "/"));
    EXPECT_EQ(model->selectedFileURL(), folder);
    typeNote(*model, "the whole project");
    scheduler.advance(1);
    ASSERT_TRUE(store->fetch(folder.string()));
    EXPECT_EQ(store->fetch(folder.string())->fileName, "Projects");
    EXPECT_FALSE(store->hasAnnotation(folder.string() + "/"));
}

TEST_F(PanelViewModelTest, FirstEditStoresTheDraftWithItsFileAttributes) {
    auto model = makeViewModel();
    model->selectFile(report);
    model->editAnnotation([](Annotation& record) {
        record.rating = 3;
        record.status = Annotation::Status::flagged;
        record.tags = {"urgent", "a,b"};
        record.note = "check figures";
    });
    model->scheduleSave();
    EXPECT_FALSE(store->hasAnnotation(report.string())) << "saves wait for the typing to pause";
    BadgeRefreshNotifier::drainPendingPaths();
    scheduler.advance(1);

    const auto stored = store->fetch(report.string());
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->rating, 3);
    EXPECT_EQ(stored->modifiedAt, scheduler.now() - std::chrono::milliseconds(500));
    EXPECT_TRUE(stored->bookmarkData);
    EXPECT_EQ(stored->syncedTags, std::vector<std::string>{"urgent"});
    EXPECT_EQ(BadgeXattr::badgeValue(report), "flagged");
    EXPECT_EQ(FinderTagSync::readTags(report), std::vector<std::string>{"urgent"});
    EXPECT_EQ(FinderCommentSync::readComment(report), "check figures");
    EXPECT_EQ(BadgeRefreshNotifier::drainPendingPaths(), std::vector<std::string>{report.string()});
    EXPECT_EQ(model->annotation(), stored);
}

TEST_F(PanelViewModelTest, BeginAnnotationMakesSureARecordExists) {
    auto model = makeViewModel();
    model->beginAnnotation(photo);
    const auto created = store->fetch(photo.string());
    ASSERT_TRUE(created);
    ASSERT_TRUE(created->bookmarkData) << "a record gets its bookmark at its first save";
    PlatformError error;
    EXPECT_EQ(FileBookmark::decode(*created->bookmarkData, error)->path, photo.string());
    EXPECT_TRUE(model->isVisible());
    EXPECT_EQ(BadgeXattr::badgeValue(photo), "annotated");

    scheduler.advance(60);
    model->beginAnnotation(photo);
    EXPECT_EQ(store->fetch(photo.string()), created) << "an existing record is left as it was";
    EXPECT_EQ(model->annotation(), created);
}

TEST_F(PanelViewModelTest, TypingABurstCostsAFewWritesAndStoresTheLastText) {
    auto model = makeViewModel();
    model->beginAnnotation(report);
    BadgeRefreshNotifier::drainPendingPaths();
    std::string text;
    int writes = 0;
    for (int key = 0; key < 1000; ++key) {
        text += static_cast<char>('a' + key % 26);
        typeNote(*model, text);
        scheduler.advance(0.005);
        // Each save announces the file once; saves are at least a save delay apart.
        writes += static_cast<int>(BadgeRefreshNotifier::drainPendingPaths().size());
    }
    scheduler.advance(1);
    writes += static_cast<int>(BadgeRefreshNotifier::drainPendingPaths().size());
    EXPECT_LE(writes, 5);
    EXPECT_GE(writes, 2) << "a long burst is still written within the bounded delay";
    EXPECT_EQ(store->fetch(report.string())->note, text);
}

TEST_F(PanelViewModelTest, PendingEditsAreWrittenBeforeAnotherFileAndAtDestruction) {
    auto model = makeViewModel();
    model->selectFile(report);
    typeNote(*model, "first");
    model->selectFile(photo);
    EXPECT_EQ(store->fetch(report.string())->note, "first");

    typeNote(*model, "second");
    model.reset();
    EXPECT_EQ(store->fetch(photo.string())->note, "second");
    EXPECT_EQ(scheduler.pendingTimers(), 0u);
}

TEST_F(PanelViewModelTest, ObserversHearSelectionsEditsAndSaves) {
    auto model = makeViewModel();
    int changes = 0;
    const auto id = model->addObserver([&] { ++changes; });
    model->selectFile(report);
    EXPECT_EQ(changes, 1);
    typeNote(*model, "x");
    EXPECT_EQ(changes, 2);
    scheduler.advance(1);
    EXPECT_EQ(changes, 3) << "the stored modification date is shown";
    model->removeObserver(id);
    model->selectFile(std::nullopt);
    EXPECT_EQ(changes, 3);
}

TEST_F(PanelViewModelTest, EditsWithoutAnAnnotationDoNothing) {
    auto model = makeViewModel();
    typeNote(*model, "lost in the void");
    EXPECT_FALSE(model->hasUnsavedChanges());
    EXPECT_EQ(scheduler.pendingTimers(), 0u);
}

TEST_F(PanelViewModelTest, AFailedSaveKeepsTheEditsAndRetries) {
    auto model = makeViewModel();
    model->selectFile(report);
    typeNote(*model, "precious");
    // Another program wrecks the table under us: every write now fails.
    runSql(store->path(), "DROP TABLE annotations; PRAGMA user_version = 0;");
    model->selectFile(photo);
    EXPECT_TRUE(log.contains("Failed to save the annotation of"));
    EXPECT_FALSE(model->isVisible()) << "a file whose record cannot be read is not shown";

    // The table comes back (a fresh open migrates the empty store again).
    AnnotationStore repaired(store->path());
    scheduler.advance(1);
    const auto stored = store->fetch(report.string());
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->note, "precious");
}

TEST_F(PanelViewModelTest, UnsavedEditsWinOverTheStoreWhenTheFileComesBack) {
    auto model = makeViewModel();
    model->selectFile(report);
    typeNote(*model, "draft text");
    runSql(store->path(), "DROP TABLE annotations; PRAGMA user_version = 0;");
    model->selectFile(photo);
    AnnotationStore repaired(store->path());
    model->selectFile(report);
    ASSERT_TRUE(model->annotation());
    EXPECT_EQ(model->annotation()->note, "draft text");
}

std::size_t countLines(const LogCapture& log, const std::string& prefix) {
    const auto lines = log.messages("store");
    return static_cast<std::size_t>(
        std::count_if(lines.begin(), lines.end(),
                      [&](const std::string& line) { return line.starts_with(prefix); }));
}

// A record the store refuses can never be saved as it is: trying again forever only fills
// the log.
TEST_F(PanelViewModelTest, ARefusedSaveIsLoggedOnceAndNotRetried) {
    auto model = makeViewModel();
    model->selectFile(report);
    model->editAnnotation([](Annotation& record) { record.rating = 9; });
    model->scheduleSave();
    scheduler.advance(120);
    EXPECT_EQ(countLines(log, "Gave up saving the annotation of"), 1u);
    EXPECT_EQ(countLines(log, "Failed to save"), 0u);
    EXPECT_FALSE(model->hasUnsavedChanges());
    EXPECT_EQ(scheduler.pendingTimers(), 0u);
    EXPECT_FALSE(log.contains(report.string())) << "the path is private";
}

// A store that fails for now is tried again, less and less often, and the edit lands once
// it recovers. The failure is one line however long it lasts, and so is the recovery.
TEST_F(PanelViewModelTest, FailingSavesBackOffAndLandWhenTheStoreRecovers) {
    auto model = makeViewModel();
    model->selectFile(report);
    typeNote(*model, "kept");
    runSql(store->path(), "DROP TABLE annotations; PRAGMA user_version = 0;");
    scheduler.advance(120);
    EXPECT_EQ(countLines(log, "Failed to save the annotation of"), 1u);
    EXPECT_EQ(countLines(log, "Gave up"), 0u);
    EXPECT_EQ(scheduler.pendingTimers(), 1u) << "the next retry waits";

    AnnotationStore repaired(store->path());
    scheduler.advance(30);
    const auto stored = store->fetch(report.string());
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->note, "kept");
    EXPECT_FALSE(model->hasUnsavedChanges());
    EXPECT_EQ(countLines(log, "Saving annotations works again"), 1u);
}

} // namespace
