#include "Scrivcore/detail/QueryIndex.h"

#include "Scrivcore/ScrivcoreLog.h"

#include <string>

namespace scrivlet {

namespace scrivcore::detail {

namespace {

// Bumped only when the statements below change; a store holding an older marker gets the
// newer objects added by a step of its own, never by editing this one.
constexpr std::int64_t searchIndexVersion = 1;

constexpr const char* markerTable = "search_index_state";

// Only built-in SQL here: the triggers also run inside older versions and other programs,
// which register no functions of ours. A tag list that is not JSON (a damaged record) yields
// no tags rather than failing the write.
constexpr const char* tagsOfNew =
    "SELECT new.path, value FROM json_each(CASE WHEN json_valid(new.tags) THEN new.tags "
    "ELSE '[]' END) WHERE type = 'text'";

constexpr const char* additions = R"sql(
    CREATE TABLE annotation_tags (
        path TEXT NOT NULL,
        tag  TEXT NOT NULL,
        PRIMARY KEY (path, tag)
    ) WITHOUT ROWID;
    CREATE INDEX annotation_tags_by_tag ON annotation_tags (tag);
    CREATE TABLE annotation_keys (
        key  INTEGER PRIMARY KEY,
        path TEXT NOT NULL UNIQUE
    );
    CREATE VIRTUAL TABLE annotation_words USING fts5 (
        note, tokenize = 'unicode61 remove_diacritics 2'
    );
    CREATE INDEX annotations_status ON annotations (status);
    CREATE INDEX annotations_rating ON annotations (rating);
    CREATE INDEX annotations_modified ON annotations (modified_at);
    CREATE INDEX annotations_created ON annotations (created_at);
)sql";

std::string triggers() {
    const std::string insertTags =
        std::string("INSERT OR IGNORE INTO annotation_tags ") + tagsOfNew + ";";
    return std::string(R"sql(
    CREATE TRIGGER annotations_search_insert AFTER INSERT ON annotations BEGIN
        INSERT INTO annotation_keys (path) VALUES (new.path);
        INSERT INTO annotation_words (rowid, note)
            SELECT key, new.note FROM annotation_keys WHERE path = new.path;
        )sql") +
           insertTags +
           R"sql(
    END;
    CREATE TRIGGER annotations_search_update AFTER UPDATE ON annotations BEGIN
        UPDATE annotation_keys SET path = new.path WHERE path = old.path;
        DELETE FROM annotation_words
            WHERE rowid = (SELECT key FROM annotation_keys WHERE path = new.path);
        INSERT INTO annotation_words (rowid, note)
            SELECT key, new.note FROM annotation_keys WHERE path = new.path;
        DELETE FROM annotation_tags WHERE path = old.path;
        )sql" +
           insertTags +
           R"sql(
    END;
    CREATE TRIGGER annotations_search_delete AFTER DELETE ON annotations BEGIN
        DELETE FROM annotation_words
            WHERE rowid = (SELECT key FROM annotation_keys WHERE path = old.path);
        DELETE FROM annotation_keys WHERE path = old.path;
        DELETE FROM annotation_tags WHERE path = old.path;
    END;
)sql";
}

constexpr const char* backfill = R"sql(
    INSERT INTO annotation_keys (path) SELECT path FROM annotations;
    INSERT INTO annotation_words (rowid, note)
        SELECT k.key, a.note FROM annotation_keys k JOIN annotations a ON a.path = k.path;
    INSERT OR IGNORE INTO annotation_tags (path, tag)
        SELECT a.path, t.value FROM annotations a,
            json_each(CASE WHEN json_valid(a.tags) THEN a.tags ELSE '[]' END) t
        WHERE t.type = 'text';
)sql";

// What a step left that did not finish, or what outlived the records table it served.
constexpr const char* leftovers = R"sql(
    DROP TABLE IF EXISTS search_index_state;
    DROP TABLE IF EXISTS annotation_tags;
    DROP TABLE IF EXISTS annotation_keys;
    DROP TABLE IF EXISTS annotation_words;
    DROP TRIGGER IF EXISTS annotations_search_insert;
    DROP TRIGGER IF EXISTS annotations_search_update;
    DROP TRIGGER IF EXISTS annotations_search_delete;
    DROP INDEX IF EXISTS annotations_status;
    DROP INDEX IF EXISTS annotations_rating;
    DROP INDEX IF EXISTS annotations_modified;
    DROP INDEX IF EXISTS annotations_created;
)sql";

void addQueryIndex(SqliteConnection& connection) {
    connection.execute(leftovers);
    connection.execute(additions);
    connection.execute(backfill);
    connection.execute(triggers());
    connection.execute(std::string("CREATE TABLE ") + markerTable + " (version INTEGER NOT NULL)");
    connection.execute(std::string("INSERT INTO ") + markerTable + " VALUES (" +
                       std::to_string(searchIndexVersion) + ")");
}

} // namespace

bool hasQueryIndex(SqliteConnection& connection) {
    const std::string exists =
        std::string("SELECT count(*) FROM sqlite_schema WHERE type = 'table' AND name = '") +
        markerTable + "'";
    if (connection.queryInt(exists) == 0 ||
        connection.queryInt(std::string("SELECT max(version) FROM ") + markerTable) <
            searchIndexVersion) {
        return false;
    }
    // The triggers go with the records table: a table dropped and made again (by hand, or by
    // a program that rebuilds it) leaves the index without them, stale from then on.
    return connection.queryInt("SELECT count(*) FROM sqlite_schema WHERE type = 'trigger' AND "
                               "name GLOB 'annotations_search_*'") == 3;
}

std::string searchObjectCondition() {
    return std::string("(name IN ('") + markerTable +
           "', 'annotation_tags', 'annotation_tags_by_tag', 'annotation_keys', "
           "'sqlite_autoindex_annotation_keys_1') OR name GLOB 'annotation_words*')";
}

void ensureQueryIndex(SqliteConnection& connection) {
    // The usual open finds the marker and takes no write lock.
    if (hasQueryIndex(connection)) {
        return;
    }
    try {
        ImmediateTransaction transaction(connection);
        // Another process may have added them while we waited for the lock.
        if (hasQueryIndex(connection)) {
            return;
        }
        addQueryIndex(connection);
        transaction.commit();
        ScrivcoreLog::store().debug("Added the search index to %{private}s", {connection.path()});
    } catch (const StoreError& error) {
        ScrivcoreLog::store().error("Could not add the search index to %{private}s: %{public}s",
                                    {connection.path(), error.what()});
    }
}

} // namespace scrivcore::detail

} // namespace scrivlet
