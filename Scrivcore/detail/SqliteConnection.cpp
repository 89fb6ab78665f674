#include "Scrivcore/detail/SqliteConnection.h"

#include <sqlite3.h>

namespace scrivlet {

namespace scrivcore::detail {

namespace {

StoreError::Kind kindOf(int code) {
    switch (code & 0xff) {
    case SQLITE_NOTADB:
        return StoreError::Kind::notADatabase;
    case SQLITE_CORRUPT:
        return StoreError::Kind::corrupt;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return StoreError::Kind::busy;
    case SQLITE_READONLY:
        return StoreError::Kind::readOnly;
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return StoreError::Kind::cannotOpen;
    case SQLITE_CONSTRAINT:
        return StoreError::Kind::invalidRecord;
    default:
        return StoreError::Kind::io;
    }
}

} // namespace

void throwSqliteError(sqlite3* db, int code, std::string_view doing, const std::string& storePath) {
    std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(code);
    throw StoreError(kindOf(code), "The annotation store at " + storePath + " could not " +
                                       std::string(doing) + ": " + message);
}

Statement::Statement(sqlite3* db, std::string_view sql, std::string storePath)
    : db_(db), storePath_(std::move(storePath)) {
    const int code = sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()),
                                        SQLITE_PREPARE_PERSISTENT, &statement_, nullptr);
    if (code != SQLITE_OK) {
        throwSqliteError(db, code, "prepare a query", storePath_);
    }
}

Statement::~Statement() {
    sqlite3_finalize(statement_);
}

Statement& Statement::bind(int index, std::string_view text) {
    sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
    return *this;
}

Statement& Statement::bind(int index, std::int64_t value) {
    sqlite3_bind_int64(statement_, index, value);
    return *this;
}

Statement& Statement::bindBlob(int index, std::span<const std::uint8_t> bytes) {
    sqlite3_bind_blob(statement_, index, bytes.data(), static_cast<int>(bytes.size()),
                      SQLITE_TRANSIENT);
    return *this;
}

Statement& Statement::bindNull(int index) {
    sqlite3_bind_null(statement_, index);
    return *this;
}

bool Statement::step() {
    const int code = sqlite3_step(statement_);
    if (code == SQLITE_ROW) {
        return true;
    }
    if (code == SQLITE_DONE) {
        return false;
    }
    throwSqliteError(db_, code, "run a query", storePath_);
}

void Statement::reset() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
}

std::string Statement::columnText(int index) const {
    const auto* text = sqlite3_column_text(statement_, index);
    const int size = sqlite3_column_bytes(statement_, index);
    return text ? std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(size))
                : std::string();
}

std::string_view Statement::columnTextView(int index) const {
    const auto* text = sqlite3_column_text(statement_, index);
    const int size = sqlite3_column_bytes(statement_, index);
    return text ? std::string_view(reinterpret_cast<const char*>(text),
                                   static_cast<std::size_t>(size))
                : std::string_view();
}

std::int64_t Statement::columnInt(int index) const {
    return sqlite3_column_int64(statement_, index);
}

std::optional<std::vector<std::uint8_t>> Statement::columnBlob(int index) const {
    if (sqlite3_column_type(statement_, index) == SQLITE_NULL) {
        return std::nullopt;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_column_blob(statement_, index));
    const int size = sqlite3_column_bytes(statement_, index);
    return std::vector<std::uint8_t>(bytes, bytes + size);
}

namespace {

int openFlags(SqliteConnection::Mode mode) {
    const int common = SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_EXRESCODE;
    switch (mode) {
    case SqliteConnection::Mode::readOnly:
        return common | SQLITE_OPEN_READONLY;
    case SqliteConnection::Mode::createIfMissing:
        return common | SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    case SqliteConnection::Mode::readWrite:
        break;
    }
    return common | SQLITE_OPEN_READWRITE;
}

} // namespace

SqliteConnection::SqliteConnection(const std::string& path, Mode mode) : path_(path) {
    const int flags = openFlags(mode);
    const int code = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
    if (code != SQLITE_OK) {
        std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(code);
        sqlite3_close_v2(db_);
        db_ = nullptr;
        throw StoreError(kindOf(code),
                         "The annotation store at " + path + " could not be opened: " + message);
    }
    // Another process (the extension reading, or a second writer) may hold a lock for a
    // moment; waiting for it beats reporting a spurious failure.
    sqlite3_busy_timeout(db_, busyTimeoutMilliseconds);
}

void SqliteConnection::setBusyTimeout(int milliseconds) {
    sqlite3_busy_timeout(db_, milliseconds);
}

SqliteConnection::~SqliteConnection() {
    sqlite3_close_v2(db_);
}

void SqliteConnection::execute(std::string_view sql) {
    char* error = nullptr;
    const int code = sqlite3_exec(db_, std::string(sql).c_str(), nullptr, nullptr, &error);
    sqlite3_free(error);
    if (code != SQLITE_OK) {
        throwSqliteError(db_, code, "be updated", path_);
    }
}

std::unique_ptr<Statement> SqliteConnection::prepare(std::string_view sql) {
    return std::make_unique<Statement>(db_, sql, path_);
}

std::string SqliteConnection::queryText(std::string_view sql) {
    Statement statement(db_, sql, path_);
    return statement.step() ? statement.columnText(0) : std::string();
}

std::int64_t SqliteConnection::queryInt(std::string_view sql) {
    Statement statement(db_, sql, path_);
    return statement.step() ? statement.columnInt(0) : 0;
}

int SqliteConnection::changes() const {
    return sqlite3_changes(db_);
}

bool SqliteConnection::isReadOnly() const {
    return sqlite3_db_readonly(db_, "main") == 1;
}

ImmediateTransaction::ImmediateTransaction(SqliteConnection& connection) : connection_(connection) {
    connection_.execute("BEGIN IMMEDIATE");
}

ImmediateTransaction::~ImmediateTransaction() {
    if (!finished_) {
        try {
            connection_.execute("ROLLBACK");
        } catch (const StoreError&) {
            // The transaction is gone already (the engine rolled it back on the error).
        }
    }
}

void ImmediateTransaction::commit() {
    connection_.execute("COMMIT");
    finished_ = true;
}

} // namespace scrivcore::detail

} // namespace scrivlet
