#pragma once

#include "Scrivcore/Annotation.h"
#include "Scrivcore/Export.h"
#include "Scrivcore/StoreError.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace scrivlet {

namespace query {
struct Node;
} // namespace query

namespace scrivcore::detail {
class SqliteConnection;
class Statement;
} // namespace scrivcore::detail

// The annotation store: one SQLite database in the folder that the app and the extension
// share, one record per file keyed by its absolute path. The app writes it; the extension
// only reads it, from another process, at the same time.
//
// Every operation throws StoreError with a readable description. An object is used from one
// thread at a time.
class SCRIVCORE_API AnnotationStore {
public:
    // <group container>/annotations.sqlite; the container moves with $SCRIVLET_CONTAINER.
    static std::string defaultPath();

    // Opens the store at `path`, creating the file and its folder when missing. A file that
    // is damaged, is not an annotation store, was written by a newer version, or a folder
    // in its place makes this throw, and such a file is left exactly as it was.
    explicit AnnotationStore(const std::string& path);

    // How a process uses the store. A reader (the extension) never changes the file: its
    // connection is opened read-only, so the engine itself refuses any write; the file must
    // exist already; and its open checks only what reading needs (an SQLite file of a format
    // version this code reads) instead of reading every page as the writer's open does.
    enum class Access { readWrite, readOnly };
    AnnotationStore(const std::string& path, Access access);
    ~AnnotationStore();
    AnnotationStore(const AnnotationStore&) = delete;
    AnnotationStore& operator=(const AnnotationStore&) = delete;

    // Throws when the record cannot be read (kind corrupt).
    std::optional<Annotation> fetch(std::string_view path);
    // Every readable record, ordered by path. A damaged record is logged and left out, so
    // that one bad record never hides the others; only a store that cannot be read throws.
    std::vector<Annotation> fetchAll();
    // Inserts or replaces the record with the same path. On return `record` is what was
    // stored: a new record gets its id, an existing path keeps its first id, the dates are
    // rounded to the microseconds the store keeps, and bytes of a tag that are not valid
    // UTF-8 are replaced by U+FFFD. Error descriptions never hold the record's path.
    void save(Annotation& record);
    // Saves many records in one transaction: all of them, or (when it throws) none.
    void saveAll(std::vector<Annotation>& records);
    // Runs `body` (fetches and saves on this store) in one write transaction, so that no
    // other writer's save lands between what it read and what it wrote. All of its saves
    // are kept, or (when it throws) none.
    void writeAtomically(const std::function<void()>& body);
    // Removes the record of `path`; a path without a record is not an error.
    // (`delete` is a keyword, hence the name.)
    void deleteByPath(std::string_view path);
    // Re-keys one record. Throws when `from` has no record, when `to` already has one (a
    // move never overwrites another file's annotation) or when `save` would refuse `to`.
    void updatePath(std::string_view from, std::string_view to);
    bool hasAnnotation(std::string_view path);
    // The status of the record of `path` alone, or nothing without a record. It throws
    // exactly when fetch(path) would, so a caller that only needs the status gets the same
    // answer as from the full record, at the cost of one column.
    std::optional<Annotation::Status> fetchStatus(std::string_view path);
    // Every tag that some record carries, once each, the most used first (ties in byte
    // order). Damaged tag lists are left out, as fetchAll leaves out damaged records.
    std::vector<std::string> tagsInUse();

    // How long an operation waits for a lock that another process holds (a few seconds unless
    // set). With zero it never waits: an operation that meets such a lock throws (kind busy)
    // at once, as a reader inside another program's event loop needs.
    void setBusyTimeout(std::chrono::milliseconds wait);

    const std::string& path() const { return path_; }

    // Searching (AnnotationStoreSearch.cpp). `query` is a parsed query (QueryParser.h),
    // null for every record; `under` keeps only that folder and what lies below it. Answers
    // are ordered by path. A store without its search index (it could not be added, see
    // detail/QueryIndex.h) throws, as does a store that cannot be read.
    struct Search {
        const query::Node* query = nullptr;
        std::optional<std::string> under;
    };
    std::vector<std::string> findPaths(const Search& search);
    // Damaged records are logged and left out, as fetchAll does.
    std::vector<Annotation> findRecords(const Search& search);
    std::int64_t countMatching(const Search& search);
    // Every tag in use with the number of records carrying it, ordered by tag.
    std::vector<std::pair<std::string, std::int64_t>> tagCounts();

private:
    std::unique_ptr<scrivcore::detail::Statement> prepareSearch(const std::string& fields,
                                                                const Search& search);

    void openForReading();
    void openForWriting();
    void prepareStatements();
    std::unique_ptr<scrivcore::detail::Statement> prepareStatusStatement();
    std::int64_t countAll();
    void writeRecord(Annotation& record);
    Annotation readRecord(const scrivcore::detail::Statement& row) const;

    std::string path_;
    std::unique_ptr<scrivcore::detail::SqliteConnection> connection_;
    std::unique_ptr<scrivcore::detail::Statement> fetchStatement_;
    std::unique_ptr<scrivcore::detail::Statement> fetchAllStatement_;
    std::unique_ptr<scrivcore::detail::Statement> countStatement_;
    std::unique_ptr<scrivcore::detail::Statement> upsertStatement_;
    std::unique_ptr<scrivcore::detail::Statement> deleteStatement_;
    std::unique_ptr<scrivcore::detail::Statement> existsStatement_;
    std::unique_ptr<scrivcore::detail::Statement> statusStatement_;
    std::unique_ptr<scrivcore::detail::Statement> rekeyStatement_;
};

} // namespace scrivlet
