// Saves that fail for a while (another program holds the store's write lock, or wrecked its
// table): one log line when they start failing and one when they work again, however many
// drafts come between; retries only on the backoff; and on closing, one line for every edit
// that could not be stored, the shown one included.
#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/PanelViewModel.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ManualScheduler.h"
#include "tests/support/RawSqlite.h"
#include "tests/support/TempHome.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <utility>

using namespace scrivlet;

namespace {

namespace fs = std::filesystem;

// Another process's write transaction, held until released.
class WriteLock {
public:
    explicit WriteLock(const fs::path& file) {
        EXPECT_EQ(sqlite3_open(file.c_str(), &db_), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db_, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    }
    ~WriteLock() { release(); }
    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;
    void release() {
        if (db_ != nullptr) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            sqlite3_close(db_);
            db_ = nullptr;
        }
    }

private:
    sqlite3* db_ = nullptr;
};

// Counts the timers the view model sets: each retry is one.
class CountingScheduler final : public Scheduler {
public:
    explicit CountingScheduler(Scheduler& inner) : inner_(inner) {}
    Date now() const override { return inner_.now(); }
    TimerID scheduleAfter(double delaySeconds, std::function<void()> action) override {
        ++scheduled;
        return inner_.scheduleAfter(delaySeconds, std::move(action));
    }
    void cancel(TimerID timer) override { inner_.cancel(timer); }
    int scheduled = 0;

private:
    Scheduler& inner_;
};

class SaveFailures : public ::testing::Test {
protected:
    TempHome home;
    LogCapture log;
    ManualScheduler scheduler;
    CountingScheduler timers{scheduler};
    std::shared_ptr<AnnotationStore> store = openStore(home.storePath());
    std::unique_ptr<PanelViewModel> model = std::make_unique<PanelViewModel>(store, timers);

    static std::shared_ptr<AnnotationStore> openStore(const fs::path& file) {
        auto opened = std::make_shared<AnnotationStore>(file.string());
        // A busy store fails at once rather than after a few seconds of the test's time.
        opened->setBusyTimeout(std::chrono::milliseconds(0));
        return opened;
    }

    fs::path draft(int number) const {
        return home.path() / "Documents" / ("draft-" + std::to_string(number) + ".txt");
    }
    void flag(const fs::path& file) {
        home.makeFile(fs::relative(file, home.path()).string(), "text");
        model->selectFile(file);
        model->editAnnotation(
            [](Annotation& record) { record.status = Annotation::Status::flagged; });
        model->scheduleSave();
    }
    std::size_t lines(const std::string& prefix) const {
        const auto messages = log.messages("store");
        return static_cast<std::size_t>(
            std::count_if(messages.begin(), messages.end(),
                          [&](const std::string& line) { return line.starts_with(prefix); }));
    }
    std::size_t stored(int count) {
        std::size_t found = 0;
        for (int number = 1; number <= count; ++number) {
            found += store->hasAnnotation(draft(number).string()) ? 1 : 0;
        }
        return found;
    }
};

// A full disk used to cost a line for every earlier failed save at each new draft: 1+2+...+50.
TEST_F(SaveFailures, ManyDraftsCostOneLineAndWaitForTheBackoff) {
    auto lock = std::make_unique<WriteLock>(store->path());
    for (int number = 1; number <= 50; ++number) {
        flag(draft(number));
        scheduler.advance(0.02);
    }
    scheduler.advance(100); // retries at 0.5, 1, 2 ... 30 s: the next one is 20 s away
    EXPECT_EQ(lines("Failed to save the annotation of"), 1u);
    // The first draft's save timer and the retries of the backoff, whatever the drafts.
    EXPECT_LE(timers.scheduled, 10);

    // The store takes writes again, but nothing tries it before the retry is due, however
    // many files are shown and edited meanwhile.
    lock.reset();
    flag(draft(51));
    flag(draft(52));
    scheduler.advance(1);
    EXPECT_EQ(stored(52), 0u);
    scheduler.advance(30);
    EXPECT_EQ(stored(52), 52u);
    EXPECT_EQ(lines("Saving annotations works again"), 1u);
    EXPECT_EQ(lines("Failed to save"), 1u);
    EXPECT_EQ(scheduler.pendingTimers(), 0u);
    EXPECT_FALSE(model->hasUnsavedChanges());
}

TEST_F(SaveFailures, ClosingLogsEachEditItCouldNotStoreTheShownOneIncluded) {
    WriteLock lock(store->path());
    flag(draft(1));
    flag(draft(2));
    flag(draft(3)); // shown, and not saved yet
    model->close();
    EXPECT_EQ(lines("Could not save the annotation of <private> before closing"), 3u);
    EXPECT_EQ(lines("Failed to save"), 1u);
    EXPECT_FALSE(model->hasUnsavedChanges());
    EXPECT_EQ(scheduler.pendingTimers(), 0u);

    lock.release();
    model.reset();
    EXPECT_EQ(lines("Could not save"), 3u) << "a closed view model has nothing left to lose";
    EXPECT_EQ(stored(3), 0u);
}

// The shown file's edit, whose save fails as the app ends, is the one that used to go unlogged.
TEST_F(SaveFailures, TheShownEditLostAtDestructionIsLogged) {
    flag(draft(1));
    runSql(store->path(), "DROP TABLE annotations; PRAGMA user_version = 0;");
    model.reset();
    EXPECT_EQ(lines("Failed to save the annotation of"), 1u);
    EXPECT_EQ(lines("Could not save the annotation of <private> before closing"), 1u);
}

TEST_F(SaveFailures, ClosingTriesOnceMoreWhateverTheBackoff) {
    auto lock = std::make_unique<WriteLock>(store->path());
    flag(draft(1));
    flag(draft(2));
    scheduler.advance(60); // the next retry is far off
    lock.reset();
    model->close();
    EXPECT_EQ(stored(2), 2u);
    EXPECT_EQ(lines("Saving annotations works again"), 1u);
    EXPECT_EQ(lines("Could not save"), 0u);
    EXPECT_EQ(scheduler.pendingTimers(), 0u);
}

} // namespace
