#include "library/FlightIndex.h"

#include "library/LibraryTable.h"

#include <sqlite3.h>

#include <chrono>
#include <cmath>
#include <iterator>
#include <ctime>
#include <utility>

namespace corvex::library {

namespace {

// Each step brings the file from the version before it to its own. A new column is a
// new step at the end; a step already shipped is never changed.
constexpr const char* migrations[] = {
    // 0 -> 1
    R"sql(
CREATE TABLE flights (
    id INTEGER PRIMARY KEY AUTOINCREMENT, -- never reused: scripts keep ids
    file TEXT NOT NULL UNIQUE,
    sha256 TEXT NOT NULL,
    size INTEGER NOT NULL,
    logger TEXT NOT NULL,
    serial TEXT NOT NULL DEFAULT '',
    logbook_minute INTEGER,
    takeoff INTEGER NOT NULL,
    landing INTEGER NOT NULL,
    duration INTEGER NOT NULL,
    takeoff_lat REAL NOT NULL,
    takeoff_lon REAL NOT NULL,
    landing_lat REAL NOT NULL,
    landing_lon REAL NOT NULL,
    max_pressure_alt INTEGER,
    min_pressure_alt INTEGER,
    max_gnss_alt INTEGER,
    min_gnss_alt INTEGER,
    best_climb REAL NOT NULL,
    best_sink REAL NOT NULL,
    track_m REAL NOT NULL,
    distance_m REAL NOT NULL,
    pilot TEXT NOT NULL,
    glider TEXT NOT NULL,
    fixes INTEGER NOT NULL,
    year INTEGER NOT NULL,
    added INTEGER NOT NULL
);
CREATE INDEX flights_takeoff ON flights(takeoff);
CREATE INDEX flights_logger ON flights(logger, takeoff);
CREATE INDEX flights_digest ON flights(sha256);
CREATE INDEX flights_logbook ON flights(serial, logbook_minute);
CREATE INDEX flights_year ON flights(year);
)sql",
    // 1 -> 2: the contest score (empty until a scorer fills it) and the OpenAir files
    // the user converted, uploaded or checked flights against.
    R"sql(
ALTER TABLE flights ADD COLUMN score_points REAL;
ALTER TABLE flights ADD COLUMN score_type TEXT;
ALTER TABLE flights ADD COLUMN score_distance_m REAL;
ALTER TABLE flights ADD COLUMN scorer_version INTEGER;
CREATE TABLE airspace_files (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    name TEXT NOT NULL,
    sha256 TEXT NOT NULL UNIQUE,
    file TEXT NOT NULL,
    kept INTEGER NOT NULL
);
CREATE TABLE airspace_uses (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    airspace_file INTEGER REFERENCES airspace_files(id), -- NULL: a set not made from a kept file
    reason TEXT NOT NULL,
    time INTEGER NOT NULL,
    serial TEXT NOT NULL DEFAULT '',
    set_sha256 TEXT NOT NULL DEFAULT ''
);
CREATE INDEX airspace_uses_upload ON airspace_uses(reason, serial, time);
CREATE INDEX airspace_uses_set ON airspace_uses(set_sha256);
)sql",
};
static_assert(std::size(migrations) == FlightIndex::schemaVersion);

constexpr const char* columns = "id, file, sha256, size, logger, serial, logbook_minute, takeoff, landing, duration, "
                                "takeoff_lat, takeoff_lon, landing_lat, landing_lon, max_pressure_alt, "
                                "min_pressure_alt, max_gnss_alt, min_gnss_alt, best_climb, best_sink, track_m, "
                                "distance_m, pilot, glider, fixes, added, score_points, score_type, score_distance_m, scorer_version";
// The columns an insert fills: a new flight has no score yet.
constexpr const char* insertedColumns = "file, sha256, size, logger, serial, logbook_minute, takeoff, landing, duration, "
                                        "takeoff_lat, takeoff_lon, landing_lat, landing_lon, max_pressure_alt, "
                                        "min_pressure_alt, max_gnss_alt, min_gnss_alt, best_climb, best_sink, track_m, "
                                        "distance_m, pilot, glider, fixes, added";
constexpr const char* airspaceFileColumns = "f.id, f.name, f.sha256, f.file, f.kept";

int yearOf(std::int64_t utcSeconds)
{
    using namespace std::chrono;
    return int(year_month_day(floor<days>(sys_seconds(seconds(utcSeconds)))).year());
}

// One prepared statement, finalized on every path out.
class Statement {
public:
    Statement(sqlite3* database, const std::string& sql)
    {
        if (sqlite3_prepare_v2(database, sql.c_str(), static_cast<int>(sql.size() + 1), &m_statement, nullptr) != SQLITE_OK)
            m_statement = nullptr;
    }
    ~Statement() { sqlite3_finalize(m_statement); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    explicit operator bool() const { return m_statement != nullptr; }
    sqlite3_stmt* get() const { return m_statement; }

    void bind(int index, std::int64_t value) { sqlite3_bind_int64(m_statement, index, value); }
    // Binds the values to the statement's parameters in order.
    void bindAll(const std::vector<std::variant<std::int64_t, std::string>>& values)
    {
        int i = 1;
        for (const auto& value : values) {
            if (const auto* number = std::get_if<std::int64_t>(&value))
                bind(i++, *number);
            else
                bind(i++, std::get<std::string>(value));
        }
    }
    void bind(int index, double value) { sqlite3_bind_double(m_statement, index, value); }
    void bind(int index, const std::string& text)
    {
        sqlite3_bind_text(m_statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    void bind(int index, const std::optional<int>& value)
    {
        if (value)
            sqlite3_bind_int64(m_statement, index, *value);
        else
            sqlite3_bind_null(m_statement, index);
    }
    void bind(int index, const std::optional<std::int64_t>& value)
    {
        if (value)
            sqlite3_bind_int64(m_statement, index, *value);
        else
            sqlite3_bind_null(m_statement, index);
    }

    std::int64_t integer(int column) const { return sqlite3_column_int64(m_statement, column); }
    double real(int column) const { return sqlite3_column_double(m_statement, column); }
    std::string text(int column) const
    {
        const auto* bytes = sqlite3_column_text(m_statement, column);
        return bytes ? std::string(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(sqlite3_column_bytes(m_statement, column)))
                     : std::string {};
    }
    std::optional<double> optionalReal(int column) const
    {
        if (sqlite3_column_type(m_statement, column) == SQLITE_NULL)
            return std::nullopt;
        return sqlite3_column_double(m_statement, column);
    }
    void bind(int index, const std::optional<double>& value)
    {
        if (value)
            sqlite3_bind_double(m_statement, index, *value);
        else
            sqlite3_bind_null(m_statement, index);
    }
    std::optional<int> optionalInt(int column) const
    {
        if (sqlite3_column_type(m_statement, column) == SQLITE_NULL)
            return std::nullopt;
        return static_cast<int>(sqlite3_column_int64(m_statement, column));
    }

private:
    sqlite3_stmt* m_statement { nullptr };
};

LibraryFlight flightFrom(const Statement& row)
{
    LibraryFlight flight;
    int c = 0;
    flight.id = row.integer(c++);
    flight.file = row.text(c++);
    flight.sha256 = row.text(c++);
    flight.size = row.integer(c++);
    flight.logger = row.text(c++);
    flight.serial = row.text(c++);
    if (sqlite3_column_type(row.get(), c) != SQLITE_NULL)
        flight.logBookMinute = row.integer(c);
    ++c;
    flight.takeoff = row.integer(c++);
    flight.landing = row.integer(c++);
    flight.durationSeconds = row.integer(c++);
    flight.takeoffLatitude = row.real(c++);
    flight.takeoffLongitude = row.real(c++);
    flight.landingLatitude = row.real(c++);
    flight.landingLongitude = row.real(c++);
    flight.maxPressureAltitude = row.optionalInt(c++);
    flight.minPressureAltitude = row.optionalInt(c++);
    flight.maxGnssAltitude = row.optionalInt(c++);
    flight.minGnssAltitude = row.optionalInt(c++);
    flight.bestClimb = row.real(c++);
    flight.bestSink = row.real(c++);
    flight.trackMetres = row.real(c++);
    flight.distanceMetres = row.real(c++);
    flight.pilot = row.text(c++);
    flight.glider = row.text(c++);
    flight.fixes = row.integer(c++);
    flight.added = row.integer(c++);
    flight.scorePoints = row.optionalReal(c++);
    flight.scoreType = row.text(c++);
    flight.scoreDistanceMetres = row.optionalReal(c++);
    flight.scorerVersion = row.optionalInt(c++);
    return flight;
}

std::string sqliteMessage(sqlite3* database)
{
    return database ? sqlite3_errmsg(database) : "out of memory";
}

} // namespace

int LibraryFlight::year() const { return yearOf(takeoff); }

FlightIndex::FlightIndex(sqlite3* database)
    : m_database(database)
{
}

FlightIndex::~FlightIndex() { sqlite3_close_v2(m_database); }

FlightIndex::FlightIndex(FlightIndex&& other) noexcept
    : m_database(std::exchange(other.m_database, nullptr))
    , m_lastError(std::move(other.m_lastError))
{
}

FlightIndex& FlightIndex::operator=(FlightIndex&& other) noexcept
{
    if (this != &other) {
        sqlite3_close_v2(m_database);
        m_database = std::exchange(other.m_database, nullptr);
        m_lastError = std::move(other.m_lastError);
    }
    return *this;
}

FlightIndex::Opened FlightIndex::open(const std::string& path)
{
    sqlite3* database = nullptr;
    const int opened = sqlite3_open_v2(path.c_str(), &database,
        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (opened != SQLITE_OK) {
        Opened result { nullptr, OpenProblem::Unusable, sqliteMessage(database) };
        sqlite3_close_v2(database);
        return result;
    }
    std::unique_ptr<FlightIndex> index(new FlightIndex(database));
    // A sync holding the write lock for a moment must not fail a window's read.
    sqlite3_busy_timeout(database, 5000);

    const auto damaged = [&](std::string reason) { return Opened { nullptr, OpenProblem::Damaged, std::move(reason) }; };
    const auto unusable = [&](std::string reason) { return Opened { nullptr, OpenProblem::Unusable, std::move(reason) }; };

    // The first read of a file that is not a database fails here, not at open.
    int version = 0;
    {
        Statement statement(database, "PRAGMA user_version");
        if (!statement || sqlite3_step(statement.get()) != SQLITE_ROW) {
            const int code = sqlite3_errcode(database);
            if (code == SQLITE_NOTADB || code == SQLITE_CORRUPT)
                return damaged(sqliteMessage(database));
            return unusable(sqliteMessage(database));
        }
        version = static_cast<int>(statement.integer(0));
    }
    if (version > schemaVersion)
        return damaged("it was written by a newer program (schema " + std::to_string(version) + ")");
    if (version > 0) {
        Statement check(database, "PRAGMA quick_check");
        if (!check || sqlite3_step(check.get()) != SQLITE_ROW)
            return damaged(sqliteMessage(database));
        if (const std::string verdict = check.text(0); verdict != "ok")
            return damaged("its integrity check says: " + verdict);
    }

    {
        Statement wal(database, "PRAGMA journal_mode=WAL");
        if (!wal || sqlite3_step(wal.get()) != SQLITE_ROW)
            return unusable(sqliteMessage(database));
    }
    // WAL with NORMAL sync is safe against a killed process and keeps the file
    // consistent after a power loss; the IGC files themselves are synced one by one.
    index->execute("PRAGMA synchronous=NORMAL");

    for (int step = version; step < schemaVersion; ++step) {
        Transaction transaction(*index);
        if (!index->execute(migrations[step])
            || !index->execute(("PRAGMA user_version=" + std::to_string(step + 1)).c_str()) || !transaction.commit())
            return unusable("cannot bring the index to version " + std::to_string(step + 1) + ": " + index->m_lastError);
    }
    return Opened { std::move(index), OpenProblem::None, {} };
}

bool FlightIndex::execute(const char* sql)
{
    char* message = nullptr;
    if (sqlite3_exec(m_database, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    m_lastError = message ? message : sqliteMessage(m_database);
    sqlite3_free(message);
    return false;
}

FlightIndex::Transaction::Transaction(FlightIndex& index)
    : m_index(&index)
{
    m_done = !m_index->execute("BEGIN IMMEDIATE");
}

FlightIndex::Transaction::~Transaction()
{
    if (!m_done)
        m_index->execute("ROLLBACK");
}

bool FlightIndex::Transaction::commit()
{
    if (m_done)
        return false;
    m_done = true;
    return m_index->execute("COMMIT");
}

std::optional<std::int64_t> FlightIndex::insert(const LibraryFlight& flight)
{
    Statement statement(m_database,
        std::string("INSERT INTO flights (") + insertedColumns
            + ", year) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
    if (!statement) {
        m_lastError = sqliteMessage(m_database);
        return std::nullopt;
    }
    int i = 1;
    statement.bind(i++, flight.file);
    statement.bind(i++, flight.sha256);
    statement.bind(i++, flight.size);
    statement.bind(i++, flight.logger);
    statement.bind(i++, flight.serial);
    statement.bind(i++, flight.logBookMinute);
    statement.bind(i++, flight.takeoff);
    statement.bind(i++, flight.landing);
    statement.bind(i++, flight.durationSeconds);
    statement.bind(i++, flight.takeoffLatitude);
    statement.bind(i++, flight.takeoffLongitude);
    statement.bind(i++, flight.landingLatitude);
    statement.bind(i++, flight.landingLongitude);
    statement.bind(i++, flight.maxPressureAltitude);
    statement.bind(i++, flight.minPressureAltitude);
    statement.bind(i++, flight.maxGnssAltitude);
    statement.bind(i++, flight.minGnssAltitude);
    statement.bind(i++, flight.bestClimb);
    statement.bind(i++, flight.bestSink);
    statement.bind(i++, flight.trackMetres);
    statement.bind(i++, flight.distanceMetres);
    statement.bind(i++, flight.pilot);
    statement.bind(i++, flight.glider);
    statement.bind(i++, flight.fixes);
    statement.bind(i++, flight.added);
    statement.bind(i++, static_cast<std::int64_t>(flight.year()));
    if (sqlite3_step(statement.get()) != SQLITE_DONE) {
        m_lastError = sqliteMessage(m_database);
        return std::nullopt;
    }
    return sqlite3_last_insert_rowid(m_database);
}

bool FlightIndex::setLogBookMinute(std::int64_t id, const std::string& serial, std::int64_t minute)
{
    Statement statement(m_database, "UPDATE flights SET serial = ?, logbook_minute = ? WHERE id = ?");
    statement.bind(1, serial);
    statement.bind(2, minute);
    statement.bind(3, id);
    if (!statement || sqlite3_step(statement.get()) != SQLITE_DONE) {
        m_lastError = sqliteMessage(m_database);
        return false;
    }
    return true;
}

bool FlightIndex::removeAll() { return execute("DELETE FROM flights"); }

bool FlightIndex::remove(std::int64_t id)
{
    Statement statement(m_database, "DELETE FROM flights WHERE id = ?");
    statement.bind(1, id);
    return statement && sqlite3_step(statement.get()) == SQLITE_DONE;
}

bool FlightIndex::removeFile(const std::string& file)
{
    Statement statement(m_database, "DELETE FROM flights WHERE file = ?");
    statement.bind(1, file);
    return statement && sqlite3_step(statement.get()) == SQLITE_DONE;
}

std::vector<LibraryFlight> FlightIndex::select(const std::string& where, const std::vector<Value>& values) const
{
    std::vector<LibraryFlight> flights;
    Statement statement(m_database,
        std::string("SELECT ") + columns + " FROM flights" + (where.empty() ? "" : " WHERE " + where)
            + " ORDER BY takeoff DESC, id DESC");
    if (!statement) {
        m_lastError = sqliteMessage(m_database);
        return flights;
    }
    statement.bindAll(values);
    while (sqlite3_step(statement.get()) == SQLITE_ROW)
        flights.push_back(flightFrom(statement));
    return flights;
}

std::optional<LibraryFlight> FlightIndex::flight(std::int64_t id) const
{
    auto found = select("id = ?", { id });
    return found.empty() ? std::nullopt : std::optional(std::move(found.front()));
}

std::optional<LibraryFlight> FlightIndex::flightWithDigest(const std::string& sha256) const
{
    auto found = select("sha256 = ?", { sha256 });
    return found.empty() ? std::nullopt : std::optional(std::move(found.front()));
}

std::optional<LibraryFlight> FlightIndex::flightOfLogger(const std::string& logger, std::int64_t takeoff) const
{
    auto found = select("logger = ? AND takeoff = ?", { logger, takeoff });
    return found.empty() ? std::nullopt : std::optional(std::move(found.front()));
}

std::optional<LibraryFlight> FlightIndex::flightOfLogBook(const std::string& serial, std::int64_t logBookMinute) const
{
    auto found = select("serial = ? AND logbook_minute = ?", { serial, logBookMinute });
    return found.empty() ? std::nullopt : std::optional(std::move(found.front()));
}

std::vector<LibraryFlight> FlightIndex::flights(const FlightFilter& filter) const
{
    std::string where;
    std::vector<Value> values;
    const auto also = [&](const char* condition) { where += where.empty() ? condition : std::string(" AND ") + condition; };
    if (filter.year) {
        also("year = ?");
        values.emplace_back(std::int64_t { *filter.year });
    }
    // The glider and the text by the one rule of the window too: SQL's lower() folds
    // ASCII only, so "süd" would miss "SÜD".
    auto flights = select(where, values);
    std::erase_if(flights, [&](const LibraryFlight& flight) { return !flightMatches(flight, filter); });
    return flights;
}

std::vector<std::string> FlightIndex::files() const
{
    std::vector<std::string> files;
    Statement statement(m_database, "SELECT file FROM flights");
    while (statement && sqlite3_step(statement.get()) == SQLITE_ROW)
        files.push_back(statement.text(0));
    return files;
}

std::vector<FlightTotals> FlightIndex::totals(const char* keyExpression) const
{
    std::vector<FlightTotals> totals;
    Statement statement(m_database,
        std::string("SELECT ") + keyExpression
            + ", count(*), sum(duration), sum(track_m), total(score_points), count(score_points) FROM flights GROUP BY 1 ORDER BY 1 DESC");
    while (statement && sqlite3_step(statement.get()) == SQLITE_ROW)
        totals.push_back({ statement.text(0), statement.integer(1), statement.integer(2), statement.real(3), statement.real(4),
            statement.integer(5) });
    return totals;
}

std::vector<FlightTotals> FlightIndex::totalsByYear() const { return totals("year"); }

std::vector<FlightTotals> FlightIndex::totalsByGlider() const { return totals("glider"); }

std::int64_t FlightIndex::count() const
{
    Statement statement(m_database, "SELECT count(*) FROM flights");
    return statement && sqlite3_step(statement.get()) == SQLITE_ROW ? statement.integer(0) : 0;
}

bool FlightIndex::setScore(std::int64_t id, const StoredScore& score)
{
    Statement statement(m_database,
        "UPDATE flights SET score_points = ?, score_type = ?, score_distance_m = ?, scorer_version = ? WHERE id = ?");
    if (!statement) {
        m_lastError = sqliteMessage(m_database);
        return false;
    }
    statement.bind(1, score.points);
    if (score.points)
        statement.bind(2, score.type);
    else
        sqlite3_bind_null(statement.get(), 2);
    statement.bind(3, score.distanceMetres);
    statement.bind(4, std::int64_t { score.scorerVersion });
    statement.bind(5, id);
    if (sqlite3_step(statement.get()) != SQLITE_DONE) {
        m_lastError = sqliteMessage(m_database);
        return false;
    }
    return true;
}

std::vector<std::pair<std::int64_t, std::string>> FlightIndex::flightsToScore(int scorerVersion) const
{
    std::vector<std::pair<std::int64_t, std::string>> flights;
    // Newest first: the flights the user just brought are the ones looked at.
    Statement statement(m_database,
        "SELECT id, file FROM flights WHERE scorer_version IS NULL OR scorer_version < ? ORDER BY takeoff DESC, id DESC");
    if (!statement) {
        m_lastError = sqliteMessage(m_database);
        return flights;
    }
    statement.bind(1, std::int64_t { scorerVersion });
    while (sqlite3_step(statement.get()) == SQLITE_ROW)
        flights.emplace_back(statement.integer(0), statement.text(1));
    return flights;
}

std::optional<std::int64_t> FlightIndex::insertAirspaceFile(const AirspaceFileRecord& record)
{
    Statement statement(m_database, "INSERT INTO airspace_files (name, sha256, file, kept) VALUES (?, ?, ?, ?)");
    if (!statement) {
        m_lastError = sqliteMessage(m_database);
        return std::nullopt;
    }
    statement.bind(1, record.name);
    statement.bind(2, record.sha256);
    statement.bind(3, record.file);
    statement.bind(4, record.kept);
    if (sqlite3_step(statement.get()) != SQLITE_DONE) {
        m_lastError = sqliteMessage(m_database);
        return std::nullopt;
    }
    return sqlite3_last_insert_rowid(m_database);
}

bool FlightIndex::insertAirspaceUse(const AirspaceUseRecord& use)
{
    Statement statement(m_database,
        "INSERT INTO airspace_uses (airspace_file, reason, time, serial, set_sha256) VALUES (?, ?, ?, ?, ?)");
    if (!statement) {
        m_lastError = sqliteMessage(m_database);
        return false;
    }
    statement.bind(1, use.fileId ? std::optional(use.fileId) : std::nullopt);
    statement.bind(2, use.reason);
    statement.bind(3, use.time);
    statement.bind(4, use.serial);
    statement.bind(5, use.setSha256);
    if (sqlite3_step(statement.get()) != SQLITE_DONE) {
        m_lastError = sqliteMessage(m_database);
        return false;
    }
    return true;
}

std::vector<AirspaceFileRecord> FlightIndex::selectAirspaceFiles(const std::string& sql, const std::vector<Value>& values) const
{
    std::vector<AirspaceFileRecord> files;
    Statement statement(m_database, std::string("SELECT ") + airspaceFileColumns + " " + sql);
    if (!statement) {
        m_lastError = sqliteMessage(m_database);
        return files;
    }
    statement.bindAll(values);
    while (sqlite3_step(statement.get()) == SQLITE_ROW)
        files.push_back({ statement.integer(0), statement.text(1), statement.text(2), statement.text(3), statement.integer(4) });
    return files;
}

std::optional<AirspaceFileRecord> FlightIndex::airspaceFile(std::int64_t id) const
{
    auto found = selectAirspaceFiles("FROM airspace_files f WHERE f.id = ?", { id });
    return found.empty() ? std::nullopt : std::optional(std::move(found.front()));
}

std::optional<AirspaceFileRecord> FlightIndex::airspaceFileWithDigest(const std::string& sha256) const
{
    auto found = selectAirspaceFiles("FROM airspace_files f WHERE f.sha256 = ?", { sha256 });
    return found.empty() ? std::nullopt : std::optional(std::move(found.front()));
}

std::optional<AirspaceFileRecord> FlightIndex::airspaceFileConvertedInto(const std::string& setSha256) const
{
    auto found = selectAirspaceFiles("FROM airspace_files f JOIN airspace_uses u ON u.airspace_file = f.id "
                                     "WHERE u.reason = 'converted' AND u.set_sha256 = ? ORDER BY u.time DESC, u.id DESC LIMIT 1",
        { setSha256 });
    return found.empty() ? std::nullopt : std::optional(std::move(found.front()));
}

std::optional<AirspaceFileRecord> FlightIndex::airspaceFileUploadedBy(const std::string& serial, std::int64_t time) const
{
    // Two uploads of one second: the one recorded last is what the instrument kept. The
    // last upload may be of a set no kept file was made into (from the approved list):
    // then the instrument held none of the kept files.
    Statement statement(m_database,
        "SELECT airspace_file FROM airspace_uses WHERE reason = 'uploaded' AND serial = ? AND time <= ? "
        "ORDER BY time DESC, id DESC LIMIT 1");
    if (!statement) {
        m_lastError = sqliteMessage(m_database);
        return std::nullopt;
    }
    statement.bind(1, serial);
    statement.bind(2, time);
    if (sqlite3_step(statement.get()) != SQLITE_ROW || sqlite3_column_type(statement.get(), 0) == SQLITE_NULL)
        return std::nullopt;
    return airspaceFile(statement.integer(0));
}

std::vector<AirspaceFileRecord> FlightIndex::airspaceFiles() const
{
    return selectAirspaceFiles("FROM airspace_files f ORDER BY f.kept, f.id", {});
}

std::vector<AirspaceUseRecord> FlightIndex::airspaceUses(std::int64_t fileId) const
{
    std::vector<AirspaceUseRecord> uses;
    Statement statement(m_database,
        "SELECT airspace_file, reason, time, serial, set_sha256 FROM airspace_uses WHERE airspace_file = ? ORDER BY time, id");
    if (!statement) {
        m_lastError = sqliteMessage(m_database);
        return uses;
    }
    statement.bind(1, fileId);
    while (sqlite3_step(statement.get()) == SQLITE_ROW)
        uses.push_back({ statement.integer(0), statement.text(1), statement.integer(2), statement.text(3), statement.text(4) });
    return uses;
}

} // namespace corvex::library
