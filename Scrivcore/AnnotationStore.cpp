#include "Scrivcore/AnnotationStore.h"

#include "Platform/system/UserDirectories.h"
#include "Scrivcore/ScrivcoreLog.h"
#include "Scrivcore/TagRules.h"
#include "Scrivcore/detail/QueryIndex.h"
#include "Scrivcore/detail/RecordRules.h"
#include "Scrivcore/detail/SqliteConnection.h"
#include "Scrivcore/detail/StoreSchema.h"
#include "Scrivcore/detail/TagList.h"

#include <algorithm>
#include <climits>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <sys/stat.h>

namespace scrivlet {

using scrivcore::detail::ImmediateTransaction;
using scrivcore::detail::SqliteConnection;
using scrivcore::detail::Statement;
using scrivcore::detail::StatementScope;

namespace fs = std::filesystem;

namespace {

constexpr const char* storeFileName = "annotations.sqlite";

constexpr const char* columns = "id, path, file_name, file_extension, note, tags, rating, status, "
                                "synced_tags, bookmark, created_at, modified_at";

std::int64_t microsecondsSinceEpoch(Date date) {
    return std::chrono::duration_cast<std::chrono::microseconds>(date.time_since_epoch()).count();
}

Date dateFromMicroseconds(std::int64_t micros) {
    return Date(std::chrono::duration_cast<Date::duration>(std::chrono::microseconds(micros)));
}

Date roundedToStoredPrecision(Date date) {
    return dateFromMicroseconds(microsecondsSinceEpoch(date));
}

// What is stored for a tag list: JSON holds only valid UTF-8, and the caller gets back what
// was stored, so a tag with stray bytes comes back with U+FFFD in their place.
std::vector<std::string> storableTags(const std::vector<std::string>& tags) {
    std::vector<std::string> result;
    result.reserve(tags.size());
    for (const std::string& tag : tags) {
        result.push_back(scrivcore::detail::replacingInvalidUTF8(tag));
    }
    return result;
}

// Refuses what SQLite would otherwise silently misread, before the engine touches it.
bool prepareLocation(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) {
            throw StoreError(StoreError::Kind::cannotOpen,
                             "The annotation store at " + path +
                                 " could not be opened: a folder is in the place of the file.");
        }
        return false;
    }
    const fs::path parent = fs::path(path).parent_path();
    if (std::error_code error = UserDirectories::ensureDirectory(parent)) {
        throw StoreError(StoreError::Kind::cannotOpen,
                         "The annotation store at " + path + " could not be created: its folder " +
                             parent.string() + " is not available (" + error.message() + ").");
    }
    return true;
}

} // namespace

std::string AnnotationStore::defaultPath() {
    return (UserDirectories::groupContainer() / storeFileName).string();
}

AnnotationStore::AnnotationStore(const std::string& path)
    : AnnotationStore(path, Access::readWrite) {}

AnnotationStore::AnnotationStore(const std::string& path, Access access) : path_(path) {
    if (path.empty()) {
        throw StoreError(StoreError::Kind::cannotOpen,
                         "No path was given for the annotation store.");
    }
    if (access == Access::readOnly) {
        openForReading();
    } else {
        openForWriting();
    }
    prepareStatements();
    ScrivcoreLog::store().debug("Opened annotation store at %{private}s", {path});
}

void AnnotationStore::openForWriting() {
    const bool creating = prepareLocation(path_);
    connection_ =
        std::make_unique<SqliteConnection>(path_, creating ? SqliteConnection::Mode::createIfMissing
                                                           : SqliteConnection::Mode::readWrite);
    scrivcore::detail::verifyStoreFile(*connection_);
    scrivcore::detail::prepareSchema(*connection_);
}

void AnnotationStore::openForReading() {
    connection_ = std::make_unique<SqliteConnection>(path_, SqliteConnection::Mode::readOnly);
    scrivcore::detail::verifyReadableStore(*connection_);
    // Pages read through a mapping skip a copy into the page cache on every lookup.
    connection_->execute("PRAGMA mmap_size=268435456");
}

void AnnotationStore::setBusyTimeout(std::chrono::milliseconds wait) {
    connection_->setBusyTimeout(
        static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(wait.count(), 0, INT_MAX)));
}

void AnnotationStore::prepareStatements() {
    fetchStatement_ = connection_->prepare(std::string("SELECT ") + columns +
                                           " FROM annotations WHERE path = ?1");
    fetchAllStatement_ =
        connection_->prepare(std::string("SELECT ") + columns + " FROM annotations ORDER BY path");
    upsertStatement_ = connection_->prepare(
        std::string("INSERT INTO annotations (") + columns +
        ") VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)"
        " ON CONFLICT (path) DO UPDATE SET file_name = excluded.file_name,"
        " file_extension = excluded.file_extension, note = excluded.note,"
        " tags = excluded.tags, rating = excluded.rating, status = excluded.status,"
        " synced_tags = excluded.synced_tags, bookmark = excluded.bookmark,"
        " created_at = excluded.created_at, modified_at = excluded.modified_at"
        " RETURNING id");
    countStatement_ = connection_->prepare("SELECT count(*) FROM annotations");
    deleteStatement_ = connection_->prepare("DELETE FROM annotations WHERE path = ?1");
    existsStatement_ = connection_->prepare("SELECT 1 FROM annotations WHERE path = ?1");
    rekeyStatement_ = connection_->prepare(
        "UPDATE annotations SET path = ?2, file_name = ?3, file_extension = ?4 WHERE path = ?1");
    statusStatement_ = prepareStatusStatement();
}

std::unique_ptr<scrivcore::detail::Statement> AnnotationStore::prepareStatusStatement() {
    // The planner prefers the table's own key, whose pages hold whole records; the badge
    // index answers from far fewer pages. A store whose writer has not added it yet is read
    // through the table.
    const std::string fields = "SELECT status, tags, synced_tags FROM annotations";
    const std::string where = " WHERE path = ?1";
    try {
        return connection_->prepare(fields + " INDEXED BY " + scrivcore::detail::badgeIndexName +
                                    where);
    } catch (const StoreError&) {
        return connection_->prepare(fields + where);
    }
}

AnnotationStore::~AnnotationStore() = default;

Annotation AnnotationStore::readRecord(const Statement& row) const {
    Annotation record;
    record.id = row.columnText(0);
    record.path = row.columnText(1);
    record.fileName = row.columnText(2);
    record.fileExtension = row.columnText(3);
    record.note = row.columnText(4);
    try {
        record.tags = scrivcore::detail::decodeTagList(row.columnTextView(5));
        record.syncedTags = scrivcore::detail::decodeTagList(row.columnTextView(8));
    } catch (const std::invalid_argument& error) {
        throw StoreError(StoreError::Kind::corrupt,
                         std::string("An annotation in the store is damaged: ") + error.what() +
                             ".");
    }
    record.rating = static_cast<int>(row.columnInt(6));
    const auto status = statusFromRawValue(row.columnTextView(7));
    if (!status) {
        throw StoreError(StoreError::Kind::corrupt,
                         "An annotation in the store is damaged: its status is unknown.");
    }
    record.status = *status;
    record.bookmarkData = row.columnBlob(9);
    record.createdAt = dateFromMicroseconds(row.columnInt(10));
    record.modifiedAt = dateFromMicroseconds(row.columnInt(11));
    return record;
}

std::optional<Annotation> AnnotationStore::fetch(std::string_view path) {
    StatementScope scope(*fetchStatement_);
    fetchStatement_->bind(1, path);
    if (!fetchStatement_->step()) {
        return std::nullopt;
    }
    return readRecord(*fetchStatement_);
}

std::vector<Annotation> AnnotationStore::fetchAll() {
    std::vector<Annotation> records;
    // Counting first spares the list its growing pains: a record is large to move, and
    // collections are large.
    records.reserve(static_cast<std::size_t>(countAll()));
    StatementScope scope(*fetchAllStatement_);
    while (fetchAllStatement_->step()) {
        try {
            records.push_back(readRecord(*fetchAllStatement_));
        } catch (const StoreError& error) {
            // One damaged record must not hide all the others from the callers' loops.
            ScrivcoreLog::store().error("Skipped the damaged annotation of %{private}s: %{public}s",
                                        {fetchAllStatement_->columnText(1), error.what()});
        }
    }
    return records;
}

std::int64_t AnnotationStore::countAll() {
    StatementScope scope(*countStatement_);
    return countStatement_->step() ? countStatement_->columnInt(0) : 0;
}

void AnnotationStore::save(Annotation& record) {
    writeRecord(record);
}

void AnnotationStore::saveAll(std::vector<Annotation>& records) {
    ImmediateTransaction transaction(*connection_);
    for (Annotation& record : records) {
        writeRecord(record);
    }
    transaction.commit();
}

void AnnotationStore::writeAtomically(const std::function<void()>& body) {
    ImmediateTransaction transaction(*connection_);
    body();
    transaction.commit();
}

void AnnotationStore::writeRecord(Annotation& record) {
    scrivcore::detail::validateRecord(record);
    Annotation stored = record;
    stored.tags = TagRules::storedTags(stored.tags);
    stored.syncedTags = storableTags(stored.syncedTags);
    if (stored.id.empty()) {
        stored.id = Annotation::makeID();
    }
    if (stored.fileName.empty()) {
        stored.fileName = fileNameOfPath(stored.path);
        stored.fileExtension = fileExtensionOfName(stored.fileName);
    }
    stored.createdAt = roundedToStoredPrecision(stored.createdAt);
    stored.modifiedAt = roundedToStoredPrecision(stored.modifiedAt);

    StatementScope scope(*upsertStatement_);
    Statement& upsert = *upsertStatement_;
    upsert.bind(1, stored.id).bind(2, stored.path).bind(3, stored.fileName);
    upsert.bind(4, stored.fileExtension).bind(5, stored.note);
    upsert.bind(6, scrivcore::detail::encodeTagList(stored.tags));
    upsert.bind(7, std::int64_t{stored.rating}).bind(8, rawValue(stored.status));
    upsert.bind(9, scrivcore::detail::encodeTagList(stored.syncedTags));
    if (stored.bookmarkData) {
        upsert.bindBlob(10, *stored.bookmarkData);
    } else {
        upsert.bindNull(10);
    }
    upsert.bind(11, microsecondsSinceEpoch(stored.createdAt));
    upsert.bind(12, microsecondsSinceEpoch(stored.modifiedAt));
    if (upsert.step()) {
        stored.id = upsert.columnText(0);
    }
    // Drain the statement so the write is committed before we report success.
    while (upsert.step()) {
    }
    record = std::move(stored);
}

void AnnotationStore::deleteByPath(std::string_view path) {
    StatementScope scope(*deleteStatement_);
    deleteStatement_->bind(1, path);
    deleteStatement_->step();
}

bool AnnotationStore::hasAnnotation(std::string_view path) {
    StatementScope scope(*existsStatement_);
    existsStatement_->bind(1, path);
    return existsStatement_->step();
}

std::optional<Annotation::Status> AnnotationStore::fetchStatus(std::string_view path) {
    StatementScope scope(*statusStatement_);
    statusStatement_->bind(1, path);
    if (!statusStatement_->step()) {
        return std::nullopt;
    }
    // The same refusals as readRecord, so a damaged record is no more readable here.
    if (!scrivcore::detail::isTagList(statusStatement_->columnText(1)) ||
        !scrivcore::detail::isTagList(statusStatement_->columnText(2))) {
        throw StoreError(StoreError::Kind::corrupt, "The annotation for " + std::string(path) +
                                                        " is damaged: its tag list is unreadable.");
    }
    const auto status = statusFromRawValue(statusStatement_->columnText(0));
    if (!status) {
        throw StoreError(StoreError::Kind::corrupt,
                         "The annotation for " + std::string(path) + " has an unknown status.");
    }
    return status;
}

std::vector<std::string> AnnotationStore::tagsInUse() {
    if (scrivcore::detail::hasQueryIndex(*connection_)) {
        // The search index keeps one row per tag of each record: counted there, no record is
        // read. A damaged list gave the index no rows, as the fallback below skips it.
        const auto counts = connection_->prepare("SELECT tag FROM annotation_tags GROUP BY tag "
                                                 "ORDER BY count(*) DESC, tag");
        StatementScope scope(*counts);
        std::vector<std::string> tags;
        while (counts->step()) {
            tags.push_back(counts->columnText(0));
        }
        return tags;
    }
    // A store opened read-only before the index was added: records share few distinct lists
    // (most have none), so each list is decoded once.
    const auto lists = connection_->prepare(
        "SELECT tags, count(*) FROM annotations WHERE tags <> '[]' GROUP BY tags");
    StatementScope scope(*lists);
    std::map<std::string, std::int64_t> uses;
    while (lists->step()) {
        try {
            std::vector<std::string> tags =
                scrivcore::detail::decodeTagList(lists->columnTextView(0));
            std::sort(tags.begin(), tags.end());
            tags.erase(std::unique(tags.begin(), tags.end()), tags.end());
            for (std::string& tag : tags) {
                uses[std::move(tag)] += lists->columnInt(1);
            }
        } catch (const std::invalid_argument&) {
            ScrivcoreLog::store().error("Skipped a damaged tag list while listing the tags in use");
        }
    }
    std::vector<std::pair<std::string, std::int64_t>> ranked(uses.begin(), uses.end());
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    std::vector<std::string> tags;
    tags.reserve(ranked.size());
    for (auto& entry : ranked) {
        tags.push_back(std::move(entry.first));
    }
    return tags;
}

void AnnotationStore::updatePath(std::string_view from, std::string_view to) {
    if (const auto problem = scrivcore::detail::pathProblem(to)) {
        throw StoreError(StoreError::Kind::invalidRecord,
                         "The annotation cannot be moved: the new path " + *problem + ".");
    }
    ImmediateTransaction transaction(*connection_);
    if (from != to && hasAnnotation(to)) {
        throw StoreError(StoreError::Kind::duplicatePath,
                         "The annotation cannot be moved: the new path already has an annotation.");
    }
    {
        StatementScope scope(*rekeyStatement_);
        const std::string fileName = fileNameOfPath(to);
        rekeyStatement_->bind(1, from).bind(2, to).bind(3, fileName);
        rekeyStatement_->bind(4, fileExtensionOfName(fileName));
        rekeyStatement_->step();
    }
    if (connection_->changes() == 0) {
        throw StoreError(StoreError::Kind::missingRecord,
                         "The annotation cannot be moved: its old path has no annotation.");
    }
    transaction.commit();
}

} // namespace scrivlet
