#pragma once

#include "Scrivcore/StoreError.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace scrivlet {

namespace scrivcore::detail {

// A prepared statement that is kept and reused: `reset()` makes it ready for the next binding.
class Statement {
public:
    Statement(sqlite3* db, std::string_view sql, std::string storePath);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int index, std::string_view text);
    Statement& bind(int index, std::int64_t value);
    Statement& bindBlob(int index, std::span<const std::uint8_t> bytes);
    Statement& bindNull(int index);

    // Advances to the next row; false when the statement is done. Throws StoreError.
    bool step();
    void reset();

    std::string columnText(int index) const;
    // The text without a copy; valid until the statement steps or resets.
    std::string_view columnTextView(int index) const;
    std::int64_t columnInt(int index) const;
    std::optional<std::vector<std::uint8_t>> columnBlob(int index) const;

private:
    sqlite3* db_;
    sqlite3_stmt* statement_ = nullptr;
    std::string storePath_;
};

// Resets a statement when a scope ends, however it ends, so the next use finds it clean
// and no read transaction is left open.
class StatementScope {
public:
    explicit StatementScope(Statement& statement) : statement_(statement) {}
    ~StatementScope() { statement_.reset(); }
    StatementScope(const StatementScope&) = delete;
    StatementScope& operator=(const StatementScope&) = delete;

private:
    Statement& statement_;
};

class SqliteConnection {
public:
    static constexpr int busyTimeoutMilliseconds = 5000;

    enum class Mode { readWrite, createIfMissing, readOnly };
    // Opens the file; only createIfMissing makes a new one, and on a readOnly connection the
    // engine itself refuses every write. Throws StoreError.
    SqliteConnection(const std::string& path, Mode mode);
    ~SqliteConnection();
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;

    void execute(std::string_view sql);
    std::unique_ptr<Statement> prepare(std::string_view sql);
    // Runs a statement that answers one value in one row.
    std::string queryText(std::string_view sql);
    std::int64_t queryInt(std::string_view sql);

    int changes() const;
    // How long a call waits for a lock that another connection holds before failing busy.
    void setBusyTimeout(int milliseconds);
    bool isReadOnly() const;
    const std::string& path() const { return path_; }

private:
    sqlite3* db_ = nullptr;
    std::string path_;
};

// Turns an SQLite result code into our error, with the engine's message and the file.
[[noreturn]] void throwSqliteError(sqlite3* db, int code, std::string_view doing,
                                   const std::string& storePath);

// RAII transaction: BEGIN IMMEDIATE at construction, ROLLBACK unless committed.
class ImmediateTransaction {
public:
    explicit ImmediateTransaction(SqliteConnection& connection);
    ~ImmediateTransaction();
    ImmediateTransaction(const ImmediateTransaction&) = delete;
    ImmediateTransaction& operator=(const ImmediateTransaction&) = delete;
    void commit();

private:
    SqliteConnection& connection_;
    bool finished_ = false;
};

} // namespace scrivcore::detail

} // namespace scrivlet
