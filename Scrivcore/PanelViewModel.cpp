#include "Scrivcore/PanelViewModel.h"

#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/AnnotationWriter.h"
#include "Scrivcore/BadgeRefreshNotifier.h"
#include "Scrivcore/ScrivcoreLog.h"
#include "Scrivcore/TagRules.h"
#include "Scrivcore/detail/EditMerge.h"

#include <algorithm>
#include <utility>

namespace scrivlet {

namespace fs = std::filesystem;

namespace {

// The record key of a file: its absolute path without "." or ".." and without the trailing
// slash that names a folder ("/" itself stays).
fs::path recordPath(const fs::path& fileURL) {
    std::string path = fileURL.lexically_normal().string();
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

Date::duration secondsToDuration(double seconds) {
    return std::chrono::duration_cast<Date::duration>(std::chrono::duration<double>(seconds));
}

} // namespace

PanelViewModel::PanelViewModel(std::shared_ptr<AnnotationStore> store, Scheduler& scheduler,
                               SaveTiming timing)
    : store_(std::move(store)), scheduler_(scheduler), timing_(timing),
      retryDelay_(timing.saveDelay) {}

PanelViewModel::~PanelViewModel() {
    close();
}

void PanelViewModel::close() {
    mainThread_.check("PanelViewModel::close");
    cancelSaveTimer();
    if (savePending()) {
        return;
    }
    // Nothing comes after this: every edit the store did not take is lost, and says so.
    std::vector<Annotation> lost;
    if (dirty_ && annotation_) {
        lost.push_back(*annotation_);
    }
    lost.insert(lost.end(), failedSaves_.begin(), failedSaves_.end());
    failedSaves_.clear();
    dirty_ = false;
    firstUnsavedEdit_.reset();
    for (const Annotation& record : lost) {
        ScrivcoreLog::store().error("Could not save the annotation of %{private}s before closing",
                                    {record.path});
    }
}

void PanelViewModel::editAnnotation(const std::function<void(Annotation&)>& edit) {
    mainThread_.check("PanelViewModel::editAnnotation");
    if (!annotation_) {
        return;
    }
    edit(*annotation_);
    notifyObservers();
}

void PanelViewModel::selectFile(const std::optional<fs::path>& fileURL) {
    mainThread_.check("PanelViewModel::selectFile");
    show(fileURL, false);
}

void PanelViewModel::beginAnnotation(const fs::path& fileURL) {
    mainThread_.check("PanelViewModel::beginAnnotation");
    show(fileURL, true);
}

void PanelViewModel::show(const std::optional<fs::path>& fileURL, bool ensureRecord) {
    keepCurrentEdits();
    dirty_ = false;
    firstUnsavedEdit_.reset();
    annotation_.reset();
    base_.reset();
    tagDraft_.clear();
    tagsInUse_.reset();
    selectedFileURL_ = fileURL ? std::optional(recordPath(*fileURL)) : std::nullopt;
    if (selectedFileURL_) {
        annotation_ = loadAnnotation(*selectedFileURL_);
        if (ensureRecord && annotation_ && isDraft_) {
            dirty_ = true;
            if (failing_) {
                requestSave();
            } else {
                saveNow();
            }
        }
    }
    notifyObservers();
}

std::optional<Annotation> PanelViewModel::loadAnnotation(const fs::path& fileURL) {
    const std::string path = fileURL.string();
    isDraft_ = false;
    // Unsaved edits of this file are newer than the store's copy.
    auto failed = std::find_if(failedSaves_.begin(), failedSaves_.end(),
                               [&](const Annotation& record) { return record.path == path; });
    if (failed != failedSaves_.end()) {
        Annotation record = std::move(*failed);
        failedSaves_.erase(failed);
        // What the edits started from is gone; a change made elsewhere meanwhile gives way
        // to all of them.
        base_.reset();
        dirty_ = true;
        firstUnsavedEdit_ = scheduler_.now();
        requestSave();
        return record;
    }
    try {
        std::optional<Annotation> record = store_->fetch(path);
        if (!record) {
            isDraft_ = true;
            record = Annotation::forFile(path, scheduler_.now());
        }
        base_ = record;
        return record;
    } catch (const StoreError& error) {
        // Showing a draft here could overwrite a record we failed to read; show nothing.
        ScrivcoreLog::store().error("Failed to load the annotation of %{private}s: %{public}s",
                                    {path, error.what()});
        return std::nullopt;
    }
}

void PanelViewModel::scheduleSave() {
    mainThread_.check("PanelViewModel::scheduleSave");
    if (!annotation_) {
        return;
    }
    dirty_ = true;
    if (!firstUnsavedEdit_) {
        firstUnsavedEdit_ = scheduler_.now();
    }
    requestSave();
}

// While saves fail, an edit waits for the retry that is already scheduled: trying the store
// for each one would only fail again and log again.
void PanelViewModel::requestSave() {
    if (!failing_) {
        armSaveTimer();
    } else if (saveTimer_ == Scheduler::invalidTimer) {
        scheduleRetry(); // everything that waited was discarded since
    }
}

// Before another file is shown: its edits are written now, or, while saves fail (or when this
// write fails), join the edits that wait for the retry.
void PanelViewModel::keepCurrentEdits() {
    if (failing_) {
        if (dirty_ && annotation_) {
            failedSaves_.push_back(*annotation_);
        }
        return;
    }
    cancelSaveTimer();
    if (saveCurrent()) {
        return;
    }
    failedSaves_.push_back(*annotation_);
    scheduleRetry();
}

void PanelViewModel::saveNow() {
    mainThread_.check("PanelViewModel::saveNow");
    cancelSaveTimer();
    if (savePending()) {
        retryDelay_ = timing_.saveDelay;
        return;
    }
    scheduleRetry();
}

void PanelViewModel::discardUnsavedEdits(const fs::path& fileURL) {
    mainThread_.check("PanelViewModel::discardUnsavedEdits");
    const std::string path = recordPath(fileURL).string();
    std::erase_if(failedSaves_, [&](const Annotation& record) { return record.path == path; });
    if (dirty_ && selectedFileURL_ && selectedFileURL_->string() == path) {
        dirty_ = false;
        firstUnsavedEdit_.reset();
    }
    if (!dirty_ && failedSaves_.empty()) {
        cancelSaveTimer();
    }
}

// Trying again at once would spin on a store that just failed, and a fixed pace would log an
// error every half second for as long as the disk stays full: wait longer each time.
void PanelViewModel::scheduleRetry() {
    const double delay = retryDelay_;
    retryDelay_ = std::min(retryDelay_ * 2, std::max(timing_.maxRetryDelay, timing_.saveDelay));
    saveTimer_ = scheduler_.scheduleAfter(delay, [this] {
        saveTimer_ = Scheduler::invalidTimer;
        saveNow();
    });
}

// True when nothing of the current annotation is left to save.
bool PanelViewModel::saveCurrent() {
    if (!dirty_ || !annotation_) {
        return true;
    }
    Annotation record;
    bool storeChanged = false;
    const SaveOutcome outcome = persist(record, [&] {
        storeChanged = absorbStoreChanges();
        record = *annotation_;
    });
    if (storeChanged) {
        notifyObservers();
    }
    if (outcome == SaveOutcome::failedForNow) {
        return false;
    }
    dirty_ = false;
    firstUnsavedEdit_.reset();
    if (outcome == SaveOutcome::saved) {
        annotation_ = std::move(record);
        base_ = annotation_;
        isDraft_ = false;
        notifyObservers();
    }
    return true;
}

// Oldest first, and only until one fails: the store that failed it would fail the rest too,
// each after its own wait when another process holds it.
bool PanelViewModel::saveEarlierEdits() {
    while (!failedSaves_.empty()) {
        if (persist(failedSaves_.front()) == SaveOutcome::failedForNow) {
            return false;
        }
        failedSaves_.erase(failedSaves_.begin());
    }
    return true;
}

// True when nothing is left to save.
bool PanelViewModel::savePending() {
    return saveCurrent() && saveEarlierEdits();
}

PanelViewModel::SaveOutcome PanelViewModel::persist(Annotation& record,
                                                    const std::function<void()>& prepare) {
    try {
        store_->writeAtomically([&] {
            if (prepare) {
                prepare();
            }
            record.modifiedAt = scheduler_.now();
            AnnotationWriter::addBookmarkIfMissing(record);
            store_->save(record);
        });
    } catch (const StoreError& error) {
        lastSaveError_ = error.what();
        if (!error.canSucceedLater()) {
            ScrivcoreLog::store().error("Gave up saving the annotation of %{private}s: %{public}s",
                                        {record.path, error.what()});
            return SaveOutcome::refused;
        }
        if (!std::exchange(failing_, true)) {
            ScrivcoreLog::store().error("Failed to save the annotation of %{private}s: %{public}s",
                                        {record.path, error.what()});
        }
        return SaveOutcome::failedForNow;
    }
    lastSaveError_.reset();
    if (std::exchange(failing_, false)) {
        ScrivcoreLog::store().info("Saving annotations works again");
    }
    syncFileAttributes(record);
    BadgeRefreshNotifier::notifyChange(record.path);
    return SaveOutcome::saved;
}

void PanelViewModel::syncFileAttributes(Annotation& record) {
    AnnotationWriter::syncFileAttributes(*store_, record);
}

void PanelViewModel::armSaveTimer() {
    cancelSaveTimer();
    const Date now = scheduler_.now();
    Date deadline = now + secondsToDuration(timing_.saveDelay);
    if (firstUnsavedEdit_) {
        deadline = std::min(deadline, *firstUnsavedEdit_ + secondsToDuration(timing_.maxSaveDelay));
    }
    const double delay = std::max(0.0, std::chrono::duration<double>(deadline - now).count());
    saveTimer_ = scheduler_.scheduleAfter(delay, [this] {
        saveTimer_ = Scheduler::invalidTimer;
        saveNow();
    });
}

void PanelViewModel::cancelSaveTimer() {
    if (saveTimer_ != Scheduler::invalidTimer) {
        scheduler_.cancel(saveTimer_);
        saveTimer_ = Scheduler::invalidTimer;
    }
}

bool PanelViewModel::reloadFromStore() {
    mainThread_.check("PanelViewModel::reloadFromStore");
    if (!absorbStoreChanges()) {
        return false;
    }
    if (tagsInUse_) {
        loadTagsInUse();
    }
    notifyObservers();
    return true;
}

// Brings the shown record in step with the store; true when what is shown changed.
bool PanelViewModel::absorbStoreChanges() {
    if (!selectedFileURL_ || !annotation_) {
        return false;
    }
    const std::string path = selectedFileURL_->string();
    std::optional<Annotation> stored;
    try {
        stored = store_->fetch(path);
    } catch (const StoreError& error) {
        // What is shown stays; the next announcement or save reads again.
        ScrivcoreLog::store().error("Failed to reload the annotation of %{private}s: %{public}s",
                                    {path, error.what()});
        return false;
    }
    if (!stored) {
        return absorbRemoval();
    }
    if (base_ && *stored == *base_) {
        return false;
    }
    if (!dirty_) {
        annotation_ = stored;
    } else {
        scrivcore::detail::MergedEdits merged =
            scrivcore::detail::mergeUnsavedEdits(base_ ? *base_ : *stored, *annotation_, *stored);
        for (const std::string& field : merged.overridden) {
            ScrivcoreLog::store().info(
                "Kept the unsaved %{public}s of %{private}s over a change made elsewhere",
                {field, path});
        }
        annotation_ = std::move(merged.record);
    }
    base_ = std::move(stored);
    isDraft_ = false;
    return true;
}

// The shown record was removed elsewhere. Unsaved edits outlive it: they were typed after
// what was removed, and their save brings the record back.
bool PanelViewModel::absorbRemoval() {
    if (isDraft_) {
        return false;
    }
    const std::string path = selectedFileURL_->string();
    isDraft_ = true;
    if (!dirty_) {
        annotation_ = Annotation::forFile(path, scheduler_.now());
        base_ = annotation_;
        return true;
    }
    ScrivcoreLog::store().info(
        "Kept the unsaved edits of %{private}s, whose annotation was removed elsewhere", {path});
    // The removal took our tags off the file; none of those on it now are ours.
    annotation_->syncedTags.clear();
    base_.reset();
    return true;
}

void PanelViewModel::setTagDraft(std::string text) {
    mainThread_.check("PanelViewModel::setTagDraft");
    tagDraft_ = std::move(text);
    if (!tagDraft_.empty() && !tagsInUse_) {
        loadTagsInUse();
    }
    notifyObservers();
}

void PanelViewModel::loadTagsInUse() {
    try {
        tagsInUse_ = store_->tagsInUse();
    } catch (const StoreError& error) {
        // Completion is a convenience: the field works without it.
        ScrivcoreLog::store().error("Failed to list the tags in use: %{public}s", {error.what()});
        tagsInUse_ = std::vector<std::string>();
    }
}

std::vector<std::string> PanelViewModel::tagCompletions() const {
    if (!annotation_ || !tagsInUse_) {
        return {};
    }
    return TagRules::completions(tagDraft_, *tagsInUse_, annotation_->tags, maxTagCompletions);
}

bool PanelViewModel::addTag(std::string_view typed) {
    mainThread_.check("PanelViewModel::addTag");
    const std::optional<std::string> tag = TagRules::normalizedTag(typed);
    if (!annotation_ || !tag) {
        return false;
    }
    tagDraft_.clear();
    if (tagsInUse_) {
        *tagsInUse_ = TagRules::addingTag(std::move(*tagsInUse_), *tag);
    }
    const std::vector<std::string> tags = TagRules::addingTag(annotation_->tags, *tag);
    if (tags == annotation_->tags) {
        notifyObservers();
        return true;
    }
    editAnnotation([&tags](Annotation& record) { record.tags = tags; });
    scheduleSave();
    return true;
}

void PanelViewModel::removeTag(const std::string& tag) {
    mainThread_.check("PanelViewModel::removeTag");
    if (!annotation_ || std::find(annotation_->tags.begin(), annotation_->tags.end(), tag) ==
                            annotation_->tags.end()) {
        return;
    }
    editAnnotation([&tag](Annotation& record) { std::erase(record.tags, tag); });
    scheduleSave();
}

PanelViewModel::ObserverID PanelViewModel::addObserver(std::function<void()> observer) {
    const ObserverID id = nextObserverID_++;
    observers_.emplace(id, std::move(observer));
    return id;
}

void PanelViewModel::removeObserver(ObserverID id) {
    observers_.erase(id);
}

void PanelViewModel::notifyObservers() {
    // Copy: an observer may add or remove observers while being told.
    const auto observers = observers_;
    for (const auto& [id, observer] : observers) {
        observer();
    }
}

} // namespace scrivlet
