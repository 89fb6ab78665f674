#include "Scrivcore/detail/StoreSchema.h"

#include "Scrivcore/ScrivcoreLog.h"
#include "Scrivcore/detail/QueryIndex.h"

#include <array>
#include <string>

namespace scrivlet {

namespace scrivcore::detail {

namespace {

// Migration N takes a store from version N to N + 1. Never edit a shipped step: add one.
constexpr std::array<std::string_view, currentSchemaVersion> migrations{
    R"sql(
    CREATE TABLE annotations (
        id             TEXT    NOT NULL UNIQUE,
        path           TEXT    NOT NULL PRIMARY KEY,
        file_name      TEXT    NOT NULL,
        file_extension TEXT    NOT NULL DEFAULT '',
        note           TEXT    NOT NULL DEFAULT '',
        tags           TEXT    NOT NULL DEFAULT '[]',
        rating         INTEGER NOT NULL DEFAULT 0 CHECK (rating BETWEEN 0 AND 5),
        status         TEXT    NOT NULL DEFAULT 'none'
                       CHECK (status IN ('none', 'reviewed', 'flagged', 'approved', 'needs-work')),
        synced_tags    TEXT    NOT NULL DEFAULT '[]',
        bookmark       BLOB,
        created_at     INTEGER NOT NULL,
        modified_at    INTEGER NOT NULL
    ) WITHOUT ROWID;
    )sql",
};

void requireIntact(SqliteConnection& connection) {
    // quick_check reads every page but skips the costly index cross-checks; it is what
    // tells a damaged file from a healthy one before we write anything to it.
    const std::string verdict = connection.queryText("PRAGMA quick_check(1)");
    if (verdict != "ok") {
        throw StoreError(StoreError::Kind::corrupt, "The annotation store at " + connection.path() +
                                                        " is damaged: " + verdict);
    }
}

// A store written by a newer version is never read, let alone downgraded.
void refuseNewerFormat(const SqliteConnection& connection, std::int64_t version) {
    if (version > currentSchemaVersion) {
        throw StoreError(StoreError::Kind::newerVersion,
                         "The annotation store at " + connection.path() +
                             " was written by a newer version of Scrivlet (format " +
                             std::to_string(version) + "); this version reads format " +
                             std::to_string(currentSchemaVersion) + " or older.");
    }
}

void ensureBadgeIndex(SqliteConnection& connection) {
    const std::string exists = std::string("SELECT count(*) FROM sqlite_schema WHERE type = "
                                           "'index' AND name = '") +
                               badgeIndexName + "'";
    if (connection.queryInt(exists) > 0) {
        return;
    }
    // Only a speed-up: a store that is busy or full opens without it and gets it next time.
    try {
        ImmediateTransaction transaction(connection);
        connection.execute(std::string("CREATE INDEX IF NOT EXISTS ") + badgeIndexName +
                           " ON annotations (path, status, tags, synced_tags)");
        transaction.commit();
    } catch (const StoreError& error) {
        ScrivcoreLog::store().error("Could not add the badge index to %{private}s: %{public}s",
                                    {connection.path(), error.what()});
    }
}

void migrate(SqliteConnection& connection) {
    // A store that is already current needs no write lock: opening it must not queue behind
    // a busy writer in the other process.
    if (connection.queryInt("PRAGMA user_version") >= currentSchemaVersion) {
        return;
    }
    ImmediateTransaction transaction(connection);
    // Re-read inside the lock: the other process may have migrated while we waited.
    std::int64_t version = connection.queryInt("PRAGMA user_version");
    if (version >= currentSchemaVersion) {
        return;
    }
    for (; version < currentSchemaVersion; ++version) {
        connection.execute(migrations[static_cast<std::size_t>(version)]);
    }
    connection.execute("PRAGMA user_version=" + std::to_string(currentSchemaVersion));
    transaction.commit();
}

} // namespace

void verifyStoreFile(SqliteConnection& connection) {
    // Before the first read: reading a store in write-ahead mode through a read-only
    // connection creates its -wal and -shm files, which closing that connection cannot
    // remove, and which keep the file's read-only mode after the user makes it writable again.
    if (connection.isReadOnly()) {
        throw StoreError(StoreError::Kind::readOnly,
                         "The annotation store at " + connection.path() + " is read-only.");
    }
    // The first read of the schema is where the engine notices a file that is no database.
    const std::int64_t objectCount = connection.queryInt("SELECT count(*) FROM sqlite_schema");
    requireIntact(connection);
    const std::int64_t version = connection.queryInt("PRAGMA user_version");
    refuseNewerFormat(connection, version);
    if (version == 0 && objectCount > 0 &&
        connection.queryInt("SELECT count(*) FROM sqlite_schema WHERE NOT " +
                            searchObjectCondition()) > 0) {
        throw StoreError(StoreError::Kind::notADatabase,
                         "The file at " + connection.path() +
                             " is a database of another program, not an annotation store.");
    }
}

void verifyReadableStore(SqliteConnection& connection) {
    // The first read of the schema is where the engine notices a file that is no database.
    connection.queryInt("SELECT count(*) FROM sqlite_schema");
    const std::int64_t version = connection.queryInt("PRAGMA user_version");
    refuseNewerFormat(connection, version);
    // A reader cannot migrate: version 0 is a database the app has not set up (or another
    // program's).
    if (version < 1) {
        throw StoreError(StoreError::Kind::notADatabase,
                         "The file at " + connection.path() + " is not an annotation store.");
    }
}

void prepareSchema(SqliteConnection& connection) {
    if (connection.queryText("PRAGMA journal_mode") != "wal") {
        const std::string mode = connection.queryText("PRAGMA journal_mode=WAL");
        if (mode != "wal") {
            throw StoreError(StoreError::Kind::io, "The annotation store at " + connection.path() +
                                                       " cannot use write-ahead logging.");
        }
    }
    // FULL makes each committed save durable across a power cut, not only a crash.
    connection.execute("PRAGMA synchronous=FULL");
    migrate(connection);
    ensureBadgeIndex(connection);
    ensureQueryIndex(connection);
}

} // namespace scrivcore::detail

} // namespace scrivlet
