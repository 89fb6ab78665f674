#include "tests/support/RawSqlite.h"

#include <sqlite3.h>
#include <stdexcept>

namespace scrivlet {

namespace {

struct Connection {
    explicit Connection(const std::filesystem::path& file) {
        if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) {
            const std::string message = sqlite3_errmsg(db);
            sqlite3_close(db);
            throw std::runtime_error("cannot open " + file.string() + ": " + message);
        }
    }
    ~Connection() { sqlite3_close(db); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    [[noreturn]] void fail(const std::string& sql) const {
        throw std::runtime_error(sql + ": " + sqlite3_errmsg(db));
    }
    sqlite3* db = nullptr;
};

} // namespace

void runSql(const std::filesystem::path& file, const std::string& sql) {
    Connection connection(file);
    if (sqlite3_exec(connection.db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
        connection.fail(sql);
    }
}

std::string querySqlText(const std::filesystem::path& file, const std::string& sql) {
    Connection connection(file);
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(connection.db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        connection.fail(sql);
    }
    std::string text;
    if (sqlite3_step(statement) == SQLITE_ROW && sqlite3_column_text(statement, 0) != nullptr) {
        text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    }
    sqlite3_finalize(statement);
    return text;
}

} // namespace scrivlet
