#include "library/IndexDatabase.h"

namespace corvex::library {

LibraryErrorKind libraryErrorKindOf(int sqliteCode)
{
    switch (sqliteCode & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return LibraryErrorKind::Busy;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
        return LibraryErrorKind::Damaged;
    case SQLITE_IOERR:
    case SQLITE_FULL:
    case SQLITE_CANTOPEN:
    case SQLITE_READONLY:
    case SQLITE_PERM:
        return LibraryErrorKind::Io;
    default:
        // A schema that lost a table, a closed connection: retrying will not help.
        return LibraryErrorKind::Unusable;
    }
}

const char* libraryErrorKindName(LibraryErrorKind kind)
{
    switch (kind) {
    case LibraryErrorKind::Damaged:
        return "damaged";
    case LibraryErrorKind::Unusable:
        return "unusable";
    case LibraryErrorKind::NotFound:
        return "not found";
    case LibraryErrorKind::Io:
        return "input/output";
    case LibraryErrorKind::Busy:
        return "busy";
    }
    return "unknown";
}

LibraryError IndexDatabase::lastError(const std::string& doing) const
{
    const std::string message = m_database ? sqlite3_errmsg(m_database) : "out of memory";
    return LibraryError::of(libraryErrorKindOf(m_database ? sqlite3_extended_errcode(m_database) : SQLITE_NOMEM),
        doing.empty() ? message : doing + ": " + message);
}

LibraryResult<void> IndexDatabase::execute(const std::string& sql)
{
    char* message = nullptr;
    const int code = sqlite3_exec(m_database, sql.c_str(), nullptr, nullptr, &message);
    if (code == SQLITE_OK)
        return {};
    LibraryError error = LibraryError::of(libraryErrorKindOf(code), message ? message : lastError().message);
    sqlite3_free(message);
    return Failure { std::move(error) };
}

Statement::Statement(const IndexDatabase& database, const std::string& sql)
    : m_database(database)
{
    if (sqlite3_prepare_v2(database.get(), sql.c_str(), static_cast<int>(sql.size() + 1), &m_statement, nullptr) != SQLITE_OK) {
        m_prepareError = database.lastError();
        sqlite3_finalize(m_statement);
        m_statement = nullptr;
    }
}

LibraryResult<bool> Statement::step()
{
    if (m_prepareError)
        return Failure { *m_prepareError };
    switch (sqlite3_step(m_statement)) {
    case SQLITE_ROW:
        return true;
    case SQLITE_DONE:
        return false;
    default:
        return Failure { m_database.lastError() };
    }
}

LibraryResult<void> Statement::run()
{
    const auto stepped = step();
    if (!stepped)
        return Failure { stepped.error() };
    return {};
}

void Statement::bindAll(const std::vector<SqlValue>& values, int first)
{
    int i = first;
    for (const auto& value : values) {
        if (const auto* number = std::get_if<std::int64_t>(&value))
            bind(i++, *number);
        else
            bind(i++, std::get<std::string>(value));
    }
}

std::string Statement::text(int column) const
{
    const auto* bytes = sqlite3_column_text(m_statement, column);
    return bytes ? std::string(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(sqlite3_column_bytes(m_statement, column)))
                 : std::string {};
}

} // namespace corvex::library
