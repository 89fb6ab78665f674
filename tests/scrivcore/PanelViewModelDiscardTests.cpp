// Dropping the unsaved edits of a file whose record was deleted: they must never be written,
// neither by the save timer, nor by a retry, nor when the view model goes away.
#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/BadgeXattr.h"
#include "Scrivcore/PanelViewModel.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ManualScheduler.h"
#include "tests/support/RawSqlite.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>

using namespace scrivlet;

namespace fs = std::filesystem;

namespace {

class DiscardUnsavedEdits : public ::testing::Test {
protected:
    TempHome home;
    LogCapture log;
    ManualScheduler scheduler;
    std::shared_ptr<AnnotationStore> store =
        std::make_shared<AnnotationStore>(home.storePath().string());
    fs::path report = home.makeFile("Documents/report.txt", "text");
    fs::path photo = home.makeFile("Pictures/photo.jpg", "jpeg");
    std::unique_ptr<PanelViewModel> model = std::make_unique<PanelViewModel>(store, scheduler);

    void typeNote(const std::string& text) {
        model->editAnnotation([&](Annotation& record) { record.note = text; });
        model->scheduleSave();
    }
    void deleteRecord(const fs::path& file) {
        store->deleteByPath(file.string());
        BadgeXattr::clearAnnotated(file);
        model->discardUnsavedEdits(file);
    }
    bool stored(const fs::path& file) { return store->hasAnnotation(file.string()); }
};

TEST_F(DiscardUnsavedEdits, EditsOfTheShownFileAreNeverWritten) {
    model->beginAnnotation(report);
    typeNote("typed just before the removal");
    deleteRecord(report);
    EXPECT_FALSE(model->hasUnsavedChanges());
    EXPECT_EQ(scheduler.pendingTimers(), 0u);

    scheduler.advance(10);
    model->selectFile(photo);
    model.reset();
    EXPECT_FALSE(stored(report));
    EXPECT_FALSE(BadgeXattr::badgeValue(report));
}

TEST_F(DiscardUnsavedEdits, AFailedSaveOfTheFileIsNotRetried) {
    model->selectFile(report);
    typeNote("kept for a retry");
    runSql(store->path(), "DROP TABLE annotations; PRAGMA user_version = 0;");
    model->selectFile(photo); // the save fails and is kept for later
    AnnotationStore repaired(store->path());

    deleteRecord(report);
    scheduler.advance(10);
    model.reset();
    EXPECT_FALSE(stored(report));
}

TEST_F(DiscardUnsavedEdits, OtherFilesKeepTheirEdits) {
    model->selectFile(report);
    typeNote("not this one");
    deleteRecord(photo);
    EXPECT_TRUE(model->hasUnsavedChanges());
    scheduler.advance(1);
    ASSERT_TRUE(stored(report));
    EXPECT_EQ(store->fetch(report.string())->note, "not this one");
}

} // namespace
