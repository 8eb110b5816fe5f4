#pragma once

// The index file's one SQLite connection and its prepared statements, shared by the
// indexes of its tables (FlightIndex, AirspaceIndex). Only the library's own sources
// include this.

#include "library/LibraryError.h"

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace corvex::library {

class IndexDatabase {
public:
    explicit IndexDatabase(sqlite3* database)
        : m_database(database)
    {
    }
    ~IndexDatabase() { sqlite3_close_v2(m_database); }
    IndexDatabase(const IndexDatabase&) = delete;
    IndexDatabase& operator=(const IndexDatabase&) = delete;

    sqlite3* get() const { return m_database; }
    LibraryResult<void> execute(const std::string& sql);
    // The connection's last failure, as a kind the caller can act on.
    LibraryError lastError(const std::string& doing = {}) const;

private:
    sqlite3* m_database { nullptr };
};

// What a failing SQLite result code means to the library.
LibraryErrorKind libraryErrorKindOf(int sqliteCode);

using SqlValue = std::variant<std::int64_t, std::string>;

// One prepared statement, finalized on every path out. A statement that could not be
// prepared fails at its first step with the reason.
class Statement {
public:
    Statement(const IndexDatabase& database, const std::string& sql);
    ~Statement() { sqlite3_finalize(m_statement); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // A row (true), the end (false), or why it failed.
    LibraryResult<bool> step();
    // Runs a statement that returns no rows.
    LibraryResult<void> run();

    void bind(int index, std::int64_t value) { sqlite3_bind_int64(m_statement, index, value); }
    void bind(int index, int value) { sqlite3_bind_int64(m_statement, index, value); }
    void bind(int index, double value) { sqlite3_bind_double(m_statement, index, value); }
    void bind(int index, const std::string& text)
    {
        sqlite3_bind_text(m_statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    template<typename T>
    void bind(int index, const std::optional<T>& value)
    {
        if (value)
            bind(index, *value);
        else
            sqlite3_bind_null(m_statement, index);
    }
    // Binds the values to the parameters from `first` on, in order.
    void bindAll(const std::vector<SqlValue>& values, int first = 1);

    bool isNull(int column) const { return sqlite3_column_type(m_statement, column) == SQLITE_NULL; }
    std::int64_t integer(int column) const { return sqlite3_column_int64(m_statement, column); }
    double real(int column) const { return sqlite3_column_double(m_statement, column); }
    std::string text(int column) const;

    // Reads a column into a field of its type; NULL is nothing for an optional.
    void read(int column, std::int64_t& value) const { value = integer(column); }
    void read(int column, int& value) const { value = static_cast<int>(integer(column)); }
    void read(int column, double& value) const { value = real(column); }
    void read(int column, std::string& value) const { value = text(column); }
    template<typename T>
    void read(int column, std::optional<T>& value) const
    {
        if (isNull(column)) {
            value.reset();
        } else {
            T present {};
            read(column, present);
            value = present;
        }
    }

private:
    const IndexDatabase& m_database;
    sqlite3_stmt* m_statement { nullptr };
    std::optional<LibraryError> m_prepareError;
};

} // namespace corvex::library
