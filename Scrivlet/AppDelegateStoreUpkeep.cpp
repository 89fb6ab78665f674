// Store upkeep at launch: records follow the files that moved since the last launch, then
// every annotated file's badge attribute is written again from its record.
#include "Platform/system/FileBookmark.h"
#include "Platform/system/FileBookmarkResolver.h"
#include "Platform/system/UserDirectories.h"
#include "Scrivcore/AnnotatedFileOpener.h"
#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/BadgeXattr.h"
#include "Scrivlet/AppDelegate.h"
#include "Scrivlet/AppLog.h"
#include "Scrivlet/CanonicalEquivalence.h"

#include <filesystem>

namespace scrivlet {

namespace fs = std::filesystem;

namespace {

void logBrokenBookmark(const std::string& storedPath, const std::string& reason) {
    appLog("Stale/broken bookmark for " + storedPath + ": " + reason);
}

// Stores a fresh bookmark of `file` in the record now keyed by `key`. A bookmark that cannot
// be made, or a record no longer there, is passed over: the next launch tries again.
void refreshBookmark(AnnotationStore& store, const std::string& storedPath, const std::string& key,
                     const fs::path& file) {
    std::error_code ignored;
    std::optional<std::vector<std::uint8_t>> fresh = FileBookmark::create(file, ignored);
    if (!fresh) {
        return;
    }
    try {
        std::optional<Annotation> record = store.fetch(key);
        if (!record) {
            return;
        }
        record->bookmarkData = std::move(fresh);
        store.save(*record);
    } catch (const std::exception& error) {
        logBrokenBookmark(storedPath, error.what());
        return;
    }
    appLog("Refreshed stale bookmark for " + file.filename().string());
}

// One record: re-keyed when its file moved, its bookmark renewed when stale. Every message
// names the path stored before this launch.
void resolveBookmark(AnnotationStore& store, FileBookmarkResolver& resolver,
                     const Annotation& record) {
    if (!record.bookmarkData) {
        return;
    }
    const std::string& storedPath = record.path;
    PlatformError error;
    const std::optional<ResolvedBookmark> resolved = resolver.resolve(*record.bookmarkData, error);
    if (!resolved) {
        logBrokenBookmark(storedPath, error.localizedDescription);
        return;
    }
    const std::string& resolvedPath = resolved->path;
    std::string key = storedPath;
    if (!isCanonicallyEquivalent(resolvedPath, storedPath)) {
        try {
            store.updatePath(storedPath, resolvedPath);
        } catch (const std::exception& rekeyError) {
            logBrokenBookmark(storedPath, rekeyError.what());
            return; // the stale bookmark waits for a launch where the re-key succeeds
        }
        appLog("Resolved moved file: " + storedPath + " \u2192 " + resolvedPath);
        key = resolvedPath;
    }
    if (resolved->isStale) {
        refreshBookmark(store, storedPath, key, resolvedPath);
    }
}

} // namespace

void AppDelegate::resolveBookmarks() {
    std::vector<Annotation> records;
    try {
        records = store->fetchAll();
    } catch (const std::exception& error) {
        appLog(std::string("Failed to fetch annotations for bookmark resolution: ") + error.what());
        return;
    }
    // The resolver searches the folders of all bookmarks for each moved file, and walks the
    // home folder at most once for all of them.
    std::vector<std::span<const std::uint8_t>> bookmarks;
    for (const Annotation& record : records) {
        if (record.bookmarkData) {
            bookmarks.emplace_back(*record.bookmarkData);
        }
    }
    FileBookmarkResolver resolver(std::move(bookmarks), UserDirectories::home());
    for (const Annotation& record : records) {
        resolveBookmark(*store, resolver, record);
    }
}

void AppDelegate::syncBadgeXattrs() {
    std::vector<Annotation> records;
    try {
        records = store->fetchAll();
    } catch (const std::exception& error) {
        appLog(std::string("Failed to sync badge xattrs: ") + error.what());
        return;
    }
    // Files are reached without following links, so that a link put on a record's path
    // cannot lead the badge elsewhere; the folder of one file stays open for the next. The
    // lookup is the existence test: a file that is not there is skipped silently.
    AnnotatedFileOpener files;
    for (const Annotation& record : records) {
        BadgeXattr::markAnnotatedIfPresent(fs::path(record.path), record.isFlagged(), files);
    }
    appLog("Synced badge xattrs for " + std::to_string(records.size()) + " annotations");
}

} // namespace scrivlet
