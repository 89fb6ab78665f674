#include "Scrivcore/AnnotationWriter.h"

#include "Platform/system/FileBookmark.h"
#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/BadgeRefreshNotifier.h"
#include "Scrivcore/BadgeXattr.h"
#include "Scrivcore/FinderCommentSync.h"
#include "Scrivcore/FinderTagSync.h"
#include "Scrivcore/ScrivcoreLog.h"

#include <filesystem>

namespace scrivlet {

namespace AnnotationWriter {

namespace fs = std::filesystem;

void addBookmarkIfMissing(Annotation& record) {
    if (!record.bookmarkData) {
        std::error_code ignored;
        record.bookmarkData = FileBookmark::create(record.path, ignored);
    }
}

void syncFileAttributes(AnnotationStore& store, Annotation& record) {
    const fs::path file(record.path);
    BadgeXattr::markAnnotated(file, record.isFlagged());
    FinderCommentSync::syncComment(record.note, file);
    std::vector<std::string> owned = FinderTagSync::syncTags(record.tags, record.syncedTags, file);
    if (owned == record.syncedTags) {
        return;
    }
    // The file's tags changed: remember which ones are ours so a removal takes only those.
    record.syncedTags = std::move(owned);
    try {
        store.save(record);
    } catch (const StoreError& error) {
        ScrivcoreLog::store().error("Failed to record the synced tags of %{private}s: %{public}s",
                                    {record.path, error.what()});
    }
}

void save(AnnotationStore& store, Annotation& record) {
    addBookmarkIfMissing(record);
    store.save(record);
    syncFileAttributes(store, record);
    BadgeRefreshNotifier::notifyChange(record.path);
}

Annotation update(AnnotationStore& store, const std::string& path,
                  const std::function<void(Annotation&)>& change) {
    Annotation record;
    store.writeAtomically([&] {
        record =
            store.fetch(path).value_or(Annotation::forFile(path, std::chrono::system_clock::now()));
        change(record);
        addBookmarkIfMissing(record);
        store.save(record);
    });
    syncFileAttributes(store, record);
    BadgeRefreshNotifier::notifyChange(record.path);
    return record;
}

bool remove(AnnotationStore& store, const std::string& path) {
    const fs::path file(path);
    const std::optional<Annotation> annotation = store.fetch(path);
    if (annotation) {
        FinderCommentSync::clearComment(file);
        FinderTagSync::clearSyncedTags(annotation->syncedTags, file);
    }
    BadgeXattr::clearAnnotated(file);
    store.deleteByPath(path);
    BadgeRefreshNotifier::notifyChange(path);
    return annotation.has_value();
}

} // namespace AnnotationWriter

} // namespace scrivlet
