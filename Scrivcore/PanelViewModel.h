#pragma once

#include "Platform/base/Clock.h"
#include "Platform/base/ThreadAffinity.h"
#include "Scrivcore/Annotation.h"
#include "Scrivcore/Export.h"

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scrivlet {

class AnnotationStore;

// How long edits wait before they are written (seconds).
struct SCRIVCORE_API PanelSaveTiming {
    double saveDelay = 0.5;      // quiet time after the last edit
    double maxSaveDelay = 2.0;   // longest wait after the first unsaved edit
    double maxRetryDelay = 30.0; // failed saves wait twice as long each time, up to this
};

// What the annotation panel shows and edits: the selected file and its annotation.
// Main thread only; observers are told after every change.
//
// Selecting a file with no record shows a fresh draft that is stored at its first edit, so
// merely browsing files creates no records. `isVisible` is true while a file is selected and
// its annotation (record or draft) is loaded.
//
// Saves are coalesced: `scheduleSave()` writes `saveDelay` after the last edit, and never
// later than `maxSaveDelay` after the first unsaved one, so typing costs a few writes and an
// edit reaches the store within a bounded time. Pending edits are also written before another
// file is shown. A save that failed for a reason that can pass (a busy store, a full disk)
// starts a failure episode: it is logged once, its edits are kept, and every pending edit
// (the shown file's and those of files shown before) waits for the next retry, each retry
// after twice the wait of the one before, up to `maxRetryDelay`. Nothing else tries the store
// during an episode, so neither new edits nor browsing add attempts or log lines; the retry
// that gets through logs one line and ends the episode. A record the store refuses (it can
// never be saved as it is) is logged once and dropped.
//
// Another process may change the shown record (the command-line tool, say). The app calls
// `reloadFromStore()` when the store announces a change: without unsaved edits the panel
// shows the store's record as it is; with them, the user's edited fields keep the user's
// values and are saved over the other change (the last writer wins), while the fields the
// user did not touch take the new values. Each change of another process that an unsaved
// edit overrides is logged. The same merge runs before every save of the shown record, so a
// save that comes before the announcement cannot write stale values back either.
//
// `close()` is the last chance before the app ends: one more attempt for everything pending
// and one log line for each edit that still could not be stored. The destructor closes a view
// model that was not closed; a closed one no longer uses its scheduler.
class SCRIVCORE_API PanelViewModel {
public:
    using ObserverID = std::uint64_t;

    using SaveTiming = PanelSaveTiming;

    PanelViewModel(std::shared_ptr<AnnotationStore> store, Scheduler& scheduler,
                   SaveTiming timing = {});
    ~PanelViewModel();
    PanelViewModel(const PanelViewModel&) = delete;
    PanelViewModel& operator=(const PanelViewModel&) = delete;

    const std::optional<Annotation>& annotation() const { return annotation_; }
    // Changes the annotation in place (nothing happens without one) and tells observers.
    // Callers follow an edit with `scheduleSave()`.
    void editAnnotation(const std::function<void(Annotation&)>& edit);

    const std::optional<std::filesystem::path>& selectedFileURL() const { return selectedFileURL_; }
    bool isVisible() const { return selectedFileURL_.has_value() && annotation_.has_value(); }

    // Shows the file's annotation (or a draft); none clears the selection.
    void selectFile(const std::optional<std::filesystem::path>& fileURL);
    // Shows the file's annotation and makes sure the store holds a record for it.
    void beginAnnotation(const std::filesystem::path& fileURL);
    void scheduleSave();
    // Writes pending edits now, whatever the backoff.
    void saveNow();
    // Writes what is pending, once more, then logs each edit it could not store and drops
    // it; cancels the timer. The app calls this before it ends.
    void close();
    bool hasUnsavedChanges() const { return dirty_; }
    // The file's record was deleted: its unsaved edits are dropped, never written, so they
    // cannot bring the record back.
    void discardUnsavedEdits(const std::filesystem::path& fileURL);
    // Description of the last failed save, cleared by the next successful one.
    const std::optional<std::string>& lastSaveError() const { return lastSaveError_; }

    // The store changed, maybe in another process: shows the shown record's new values
    // (merged with unsaved edits, see above). Reading the store costs one lookup. True when
    // what is shown changed (never for the view model's own saves).
    bool reloadFromStore();

    // The tag field: what is typed there and not yet added. Cleared when another file is
    // shown. The first text typed loads the tags in use, which complete it.
    const std::string& tagDraft() const { return tagDraft_; }
    void setTagDraft(std::string text);
    // Tags in use that the draft begins (ignoring case) and the record lacks, most used first.
    std::vector<std::string> tagCompletions() const;
    // Adds the tag (normalized by TagRules) and schedules a save; clears the draft. False,
    // leaving everything as it was, when the text holds no tag or nothing is shown.
    bool addTag(std::string_view typed);
    // Removes the tag and schedules a save; nothing happens when the record lacks it.
    void removeTag(const std::string& tag);

    static constexpr std::size_t maxTagCompletions = 5;

    ObserverID addObserver(std::function<void()> observer);
    void removeObserver(ObserverID id);

private:
    void show(const std::optional<std::filesystem::path>& fileURL, bool ensureRecord);
    std::optional<Annotation> loadAnnotation(const std::filesystem::path& fileURL);
    enum class SaveOutcome { saved, failedForNow, refused };

    void keepCurrentEdits();
    void requestSave();
    bool savePending();
    bool saveCurrent();
    bool saveEarlierEdits();
    void scheduleRetry();
    // `prepare` runs first inside the same write transaction: what it reads of the store
    // cannot be overwritten by another writer before `record` is stored.
    SaveOutcome persist(Annotation& record, const std::function<void()>& prepare = {});
    void syncFileAttributes(Annotation& record);
    void armSaveTimer();
    void cancelSaveTimer();
    void notifyObservers();
    bool absorbStoreChanges();
    bool absorbRemoval();
    void loadTagsInUse();

    std::shared_ptr<AnnotationStore> store_;
    Scheduler& scheduler_;
    SaveTiming timing_;
    ThreadAffinity mainThread_;

    std::optional<Annotation> annotation_;
    // The shown record as the store held it when loaded or last saved (a draft as created):
    // what unsaved edits are measured against when another process changes the record.
    std::optional<Annotation> base_;
    std::string tagDraft_;
    std::optional<std::vector<std::string>> tagsInUse_;
    std::optional<std::filesystem::path> selectedFileURL_;
    bool dirty_ = false;
    bool isDraft_ = false;
    // Edits of files no longer shown that wait for the next retry, oldest first.
    std::vector<Annotation> failedSaves_;
    // In a failure episode: a save failed and none has succeeded since.
    bool failing_ = false;
    std::optional<Date> firstUnsavedEdit_;
    Scheduler::TimerID saveTimer_ = Scheduler::invalidTimer;
    double retryDelay_ = 0; // wait before the next retry; set from the timing at construction
    std::optional<std::string> lastSaveError_;

    std::map<ObserverID, std::function<void()>> observers_;
    ObserverID nextObserverID_ = 1;
};

} // namespace scrivlet
