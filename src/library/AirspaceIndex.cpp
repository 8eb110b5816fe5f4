#include "library/AirspaceIndex.h"

#include "library/FlightIndex.h"
#include "library/IndexDatabase.h"

namespace corvex::library {

namespace {

constexpr const char* fileColumns = "f.id, f.name, f.sha256, f.file, f.kept";

LibraryResult<std::vector<AirspaceFileRecord>> selectFiles(
    const IndexDatabase& database, const std::string& sql, const std::vector<SqlValue>& values)
{
    std::vector<AirspaceFileRecord> files;
    Statement statement(database, std::string("SELECT ") + fileColumns + " " + sql);
    statement.bindAll(values);
    for (;;) {
        const auto row = statement.step();
        if (!row)
            return Failure { row.error() };
        if (!*row)
            return files;
        files.push_back({ statement.integer(0), statement.text(1), statement.text(2), statement.text(3), statement.integer(4) });
    }
}

LibraryResult<AirspaceFileRecord> selectFile(
    const IndexDatabase& database, const std::string& sql, const SqlValue& value, const std::string& what)
{
    auto found = selectFiles(database, sql, { value });
    if (!found)
        return Failure { found.error() };
    if (found->empty())
        return libraryFailure(LibraryErrorKind::NotFound, "no airspace file " + what);
    return std::move(found->front());
}

} // namespace

AirspaceIndex::AirspaceIndex(const FlightIndex& sharingWith)
    : m_database(sharingWith.database())
{
}

AirspaceIndex::~AirspaceIndex() = default;

LibraryResult<std::int64_t> AirspaceIndex::insertFile(const AirspaceFileRecord& record)
{
    Statement statement(*m_database, "INSERT INTO airspace_files (name, sha256, file, kept) VALUES (?, ?, ?, ?)");
    statement.bind(1, record.name);
    statement.bind(2, record.sha256);
    statement.bind(3, record.file);
    statement.bind(4, record.kept);
    if (auto ran = statement.run(); !ran)
        return Failure { ran.error() };
    return std::int64_t { sqlite3_last_insert_rowid(m_database->get()) };
}

LibraryResult<void> AirspaceIndex::insertUse(const AirspaceUseRecord& use)
{
    Statement statement(*m_database,
        "INSERT INTO airspace_uses (airspace_file, reason, time, serial, set_sha256) VALUES (?, ?, ?, ?, ?)");
    statement.bind(1, use.fileId ? std::optional(use.fileId) : std::nullopt);
    statement.bind(2, use.reason);
    statement.bind(3, use.time);
    statement.bind(4, use.serial);
    statement.bind(5, use.setSha256);
    return statement.run();
}

LibraryResult<AirspaceFileRecord> AirspaceIndex::file(std::int64_t id) const
{
    return selectFile(*m_database, "FROM airspace_files f WHERE f.id = ?", id, "number " + std::to_string(id));
}

LibraryResult<AirspaceFileRecord> AirspaceIndex::fileWithDigest(const std::string& sha256) const
{
    return selectFile(*m_database, "FROM airspace_files f WHERE f.sha256 = ?", sha256, "with the digest " + sha256);
}

LibraryResult<AirspaceFileRecord> AirspaceIndex::fileConvertedInto(const std::string& setSha256) const
{
    return selectFile(*m_database, "FROM airspace_files f JOIN airspace_uses u ON u.airspace_file = f.id "
                      "WHERE u.reason = 'converted' AND u.set_sha256 = ? ORDER BY u.time DESC, u.id DESC LIMIT 1",
        setSha256, "was converted into the set " + setSha256);
}

LibraryResult<std::optional<AirspaceFileRecord>> AirspaceIndex::fileUploadedBy(const std::string& serial, std::int64_t time) const
{
    // Two uploads of one second: the one recorded last is what the instrument kept. The
    // last upload may be of a set no kept file was made into (from the approved list):
    // then the instrument held none of the kept files.
    Statement statement(*m_database,
        "SELECT airspace_file FROM airspace_uses WHERE reason = 'uploaded' AND serial = ? AND time <= ? "
        "ORDER BY time DESC, id DESC LIMIT 1");
    statement.bind(1, serial);
    statement.bind(2, time);
    const auto row = statement.step();
    if (!row)
        return Failure { row.error() };
    if (!*row || statement.isNull(0))
        return std::optional<AirspaceFileRecord> {};
    auto held = file(statement.integer(0));
    if (!held)
        return Failure { held.error() };
    return std::optional(std::move(*held));
}

LibraryResult<std::vector<AirspaceFileRecord>> AirspaceIndex::files() const
{
    return selectFiles(*m_database, "FROM airspace_files f ORDER BY f.kept, f.id", {});
}

LibraryResult<std::vector<AirspaceUseRecord>> AirspaceIndex::uses(std::int64_t fileId) const
{
    std::vector<AirspaceUseRecord> uses;
    Statement statement(*m_database,
        "SELECT airspace_file, reason, time, serial, set_sha256 FROM airspace_uses WHERE airspace_file = ? ORDER BY time, id");
    statement.bind(1, fileId);
    for (;;) {
        const auto row = statement.step();
        if (!row)
            return Failure { row.error() };
        if (!*row)
            return uses;
        uses.push_back({ statement.integer(0), statement.text(1), statement.integer(2), statement.text(3), statement.text(4) });
    }
}

} // namespace corvex::library
