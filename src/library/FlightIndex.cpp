#include "library/FlightIndex.h"

#include "library/IndexDatabase.h"
#include "library/LibraryTable.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <iterator>
#include <sys/stat.h>
#include <utility>

namespace corvex::library {

namespace {

int yearOf(std::int64_t utcSeconds)
{
    using namespace std::chrono;
    return int(year_month_day(floor<days>(sys_seconds(seconds(utcSeconds)))).year());
}

// One column of the flights table: the only place that spells it. The CREATE of the
// first schema, the ADD COLUMN of a later one, the insert, the figures' update, the
// select and the reading of a row all come from this table.
struct FlightColumn {
    const char* name;
    const char* declaration; // its type and constraints, as CREATE TABLE or ADD COLUMN takes them
    int since; // the schema version that added it; a shipped row never changes
    bool figure; // computed from the IGC file: the figures pass writes it again
    // Nothing for the id (SQLite gives it) and for what is not read back (year).
    void (*bind)(Statement&, int, const LibraryFlight&);
    void (*read)(const Statement&, int, LibraryFlight&);
};

template<auto member>
void bindMember(Statement& statement, int index, const LibraryFlight& flight)
{
    statement.bind(index, flight.*member);
}

template<auto member>
void readMember(const Statement& statement, int column, LibraryFlight& flight)
{
    statement.read(column, flight.*member);
}

template<auto member>
constexpr FlightColumn column(const char* name, const char* declaration, int since, bool figure = false)
{
    return { name, declaration, since, figure, &bindMember<member>, &readMember<member> };
}

constexpr bool figure = true;

constexpr FlightColumn flightColumns[] = {
    // Never reused (AUTOINCREMENT): scripts keep ids.
    { "id", "INTEGER PRIMARY KEY AUTOINCREMENT", 1, false, nullptr, &readMember<&LibraryFlight::id> },
    // Version 1 made it UNIQUE; version 4 made the table again without, since a file
    // with a landing and a relaunch holds several flights (UNIQUE (file, part) instead).
    column<&LibraryFlight::file>("file", "TEXT NOT NULL", 1),
    column<&LibraryFlight::sha256>("sha256", "TEXT NOT NULL", 1),
    column<&LibraryFlight::size>("size", "INTEGER NOT NULL", 1),
    column<&LibraryFlight::logger>("logger", "TEXT NOT NULL", 1),
    column<&LibraryFlight::serial>("serial", "TEXT NOT NULL DEFAULT ''", 1),
    column<&LibraryFlight::logBookMinute>("logbook_minute", "INTEGER", 1),
    column<&LibraryFlight::takeoff>("takeoff", "INTEGER NOT NULL", 1, figure),
    column<&LibraryFlight::landing>("landing", "INTEGER NOT NULL", 1, figure),
    column<&LibraryFlight::durationSeconds>("duration", "INTEGER NOT NULL", 1, figure),
    column<&LibraryFlight::takeoffLatitude>("takeoff_lat", "REAL NOT NULL", 1, figure),
    column<&LibraryFlight::takeoffLongitude>("takeoff_lon", "REAL NOT NULL", 1, figure),
    column<&LibraryFlight::landingLatitude>("landing_lat", "REAL NOT NULL", 1, figure),
    column<&LibraryFlight::landingLongitude>("landing_lon", "REAL NOT NULL", 1, figure),
    column<&LibraryFlight::maxPressureAltitude>("max_pressure_alt", "INTEGER", 1, figure),
    column<&LibraryFlight::minPressureAltitude>("min_pressure_alt", "INTEGER", 1, figure),
    column<&LibraryFlight::maxGnssAltitude>("max_gnss_alt", "INTEGER", 1, figure),
    column<&LibraryFlight::minGnssAltitude>("min_gnss_alt", "INTEGER", 1, figure),
    column<&LibraryFlight::bestClimb>("best_climb", "REAL NOT NULL", 1, figure),
    column<&LibraryFlight::bestSink>("best_sink", "REAL NOT NULL", 1, figure),
    column<&LibraryFlight::trackMetres>("track_m", "REAL NOT NULL", 1, figure),
    column<&LibraryFlight::distanceMetres>("distance_m", "REAL NOT NULL", 1, figure),
    column<&LibraryFlight::pilot>("pilot", "TEXT NOT NULL", 1, figure),
    column<&LibraryFlight::glider>("glider", "TEXT NOT NULL", 1, figure),
    column<&LibraryFlight::fixes>("fixes", "INTEGER NOT NULL", 1, figure),
    // The take-off's UTC year, for the filter and the totals; not read back.
    { "year", "INTEGER NOT NULL", 1, figure,
        [](Statement& statement, int index, const LibraryFlight& flight) { statement.bind(index, flight.year()); }, nullptr },
    column<&LibraryFlight::added>("added", "INTEGER NOT NULL", 1),
    // The rows of an index older than the figures' version were made by its first one.
    column<&LibraryFlight::figuresMadeBy>("figures_version", "INTEGER NOT NULL DEFAULT 1", 3, figure),
    column<&LibraryFlight::altitudeSource>("altitude_source", "TEXT NOT NULL DEFAULT ''", 4, figure),
    column<&LibraryFlight::part>("part", "INTEGER NOT NULL DEFAULT 0", 4),
    column<&LibraryFlight::recordingOf>("recording_of", "INTEGER", 4),
    column<&LibraryFlight::removed>("removed", "INTEGER", 4),
    column<&LibraryFlight::gliderEdit>("glider_edit", "TEXT", 4),
    column<&LibraryFlight::pilotEdit>("pilot_edit", "TEXT", 4),
    column<&LibraryFlight::site>("site", "TEXT NOT NULL DEFAULT ''", 4),
    column<&LibraryFlight::comment>("comment", "TEXT NOT NULL DEFAULT ''", 4),
    column<&LibraryFlight::scoredTrack>("scored_track", "TEXT NOT NULL DEFAULT ''", 4),
};

// The condition of the flights the pilot sees: not removed, not a second recording.
constexpr const char* shownFlights = "f.removed IS NULL AND f.recording_of IS NULL";

// Each step brings the file from the version before it to its own: first the flights
// columns the table above gives that version (the CREATE TABLE of version 1, an ADD
// COLUMN after it), then the SQL here. A new column is a row above and a new step at
// the end; a step already shipped is never changed.
constexpr const char* migrations[] = {
    // 0 -> 1
    R"sql(
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
    // 2 -> 3: the figures' version, and a score per flight and rule set; the one score
    // of version 2 was XContest's, and its scorer's version 1 is figures version 1.
    R"sql(
CREATE TABLE scores (
    flight INTEGER NOT NULL,
    rule_set TEXT NOT NULL,
    points REAL, -- NULL: the flight has no score under these rules
    type TEXT,
    distance_m REAL,
    version INTEGER NOT NULL,
    PRIMARY KEY (flight, rule_set)
) WITHOUT ROWID;
CREATE TRIGGER flights_scores_go AFTER DELETE ON flights BEGIN DELETE FROM scores WHERE flight = old.id; END;
INSERT INTO scores (flight, rule_set, points, type, distance_m, version)
    SELECT id, 'xcontest', score_points, score_type, score_distance_m, scorer_version FROM flights
    WHERE scorer_version IS NOT NULL;
ALTER TABLE flights DROP COLUMN score_points;
ALTER TABLE flights DROP COLUMN score_type;
ALTER TABLE flights DROP COLUMN score_distance_m;
ALTER TABLE flights DROP COLUMN scorer_version;
)sql",
    // 3 -> 4: the trusted library's columns (above), then the table made again without
    // the file's UNIQUE (flights_v4, written by migrationTo), keeping the ids never
    // given again; the part of the track each score used.
    R"sql(
CREATE TEMP TABLE flights_sequence AS SELECT seq FROM sqlite_sequence WHERE name = 'flights';
DROP TABLE flights;
ALTER TABLE flights_v4 RENAME TO flights;
DELETE FROM sqlite_sequence WHERE name = 'flights';
INSERT INTO sqlite_sequence (name, seq)
    SELECT 'flights', max(coalesce((SELECT seq FROM temp.flights_sequence), 0), coalesce((SELECT max(id) FROM flights), 0));
DROP TABLE temp.flights_sequence;
CREATE INDEX flights_takeoff ON flights(takeoff);
CREATE INDEX flights_logger ON flights(logger, takeoff);
CREATE INDEX flights_digest ON flights(sha256);
CREATE INDEX flights_logbook ON flights(serial, logbook_minute);
CREATE INDEX flights_year ON flights(year);
CREATE UNIQUE INDEX flights_file_part ON flights(file, part);
CREATE INDEX flights_recording ON flights(recording_of);
CREATE TRIGGER flights_scores_go AFTER DELETE ON flights BEGIN DELETE FROM scores WHERE flight = old.id; END;
ALTER TABLE scores ADD COLUMN from_time INTEGER;
ALTER TABLE scores ADD COLUMN to_time INTEGER;
)sql",
    // 4 -> 5: the debrief totals, a row per analysed flight (none: not analysed yet, for
    // the background pass to fill); NULL thermals: the file could not be analysed.
    R"sql(
CREATE TABLE debriefs (
    flight INTEGER PRIMARY KEY,
    version INTEGER NOT NULL,
    thermals INTEGER,
    failed_attempts INTEGER,
    avg_climb REAL,
    circling_share REAL,
    left_share REAL,
    height_gained_m REAL,
    glide_ratio REAL,
    altitude_source TEXT
);
CREATE TRIGGER flights_debriefs_go AFTER DELETE ON flights BEGIN DELETE FROM debriefs WHERE flight = old.id; END;
)sql",
};
static_assert(std::size(migrations) == FlightIndex::schemaVersion);

constexpr bool everyColumnBelongsToAStep()
{
    for (const FlightColumn& each : flightColumns)
        if (each.since < 1 || each.since > FlightIndex::schemaVersion)
            return false;
    return true;
}
static_assert(everyColumnBelongsToAStep());

// The SQL of step `version` (1 for the first): its flights columns, then its own.
std::string migrationTo(int version)
{
    std::string sql;
    for (const FlightColumn& each : flightColumns) {
        if (each.since != version)
            continue;
        if (version == 1)
            sql += std::string(sql.empty() ? "CREATE TABLE flights (\n    " : ",\n    ") + each.name + " " + each.declaration;
        else
            sql += std::string("ALTER TABLE flights ADD COLUMN ") + each.name + " " + each.declaration + ";\n";
    }
    if (version == 1)
        sql += "\n);\n";
    if (version == 4) {
        // SQLite cannot drop a constraint: the table is made again, every column of the
        // versions up to this one in the table's order.
        std::string declarations, names;
        for (const FlightColumn& each : flightColumns) {
            if (each.since > version)
                continue;
            declarations += std::string(declarations.empty() ? "" : ",\n    ") + each.name + " " + each.declaration;
            names += std::string(names.empty() ? "" : ", ") + each.name;
        }
        sql += "CREATE TABLE flights_v4 (\n    " + declarations + "\n);\n";
        sql += "INSERT INTO flights_v4 (" + names + ") SELECT " + names + " FROM flights;\n";
    }
    return sql + migrations[version - 1];
}

// "f.id, f.file, ...": what a select reads, in the table's order.
std::string selectedColumns()
{
    std::string list;
    for (const FlightColumn& each : flightColumns)
        if (each.read)
            list += std::string(list.empty() ? "" : ", ") + "f." + each.name;
    return list;
}

LibraryFlight flightFrom(const Statement& row)
{
    LibraryFlight flight;
    int c = 0;
    for (const FlightColumn& each : flightColumns)
        if (each.read)
            each.read(row, c++, flight);
    // What the pilot named wins over what the file says.
    if (flight.gliderEdit)
        flight.glider = *flight.gliderEdit;
    if (flight.pilotEdit)
        flight.pilot = *flight.pilotEdit;
    // The listed rule set's score follows the flight's own columns.
    row.read(c++, flight.scorePoints);
    if (flight.scorePoints)
        row.read(c, flight.scoreType);
    ++c;
    row.read(c++, flight.scoreDistanceMetres);
    row.read(c++, flight.scorerVersion);
    row.read(c++, flight.debriefMadeBy);
    if (flight.debriefMadeBy && !row.isNull(c)) {
        StoredDebrief debrief;
        row.read(c, debrief.thermals);
        row.read(c + 1, debrief.failedAttempts);
        row.read(c + 2, debrief.avgClimbMs);
        row.read(c + 3, debrief.circlingShare);
        row.read(c + 4, debrief.leftShare);
        row.read(c + 5, debrief.heightGainedMetres);
        row.read(c + 6, debrief.avgGlideRatio);
        row.read(c + 7, debrief.altitudeSource);
        flight.debrief = std::move(debrief);
    }
    return flight;
}

// Binds the columns the predicate picks, from parameter 1 on; returns the next.
template<typename Picked>
int bindColumns(Statement& statement, const LibraryFlight& flight, Picked picked)
{
    int i = 1;
    for (const FlightColumn& each : flightColumns)
        if (each.bind && picked(each))
            each.bind(statement, i++, flight);
    return i;
}

template<typename T>
LibraryResult<std::vector<T>> collect(Statement& statement, T (*rowOf)(const Statement&))
{
    std::vector<T> rows;
    for (;;) {
        const auto row = statement.step();
        if (!row)
            return Failure { row.error() };
        if (!*row)
            return rows;
        rows.push_back(rowOf(statement));
    }
}

} // namespace

int LibraryFlight::year() const { return yearOf(takeoff); }

FlightIndex::FlightIndex(std::shared_ptr<IndexDatabase> database)
    : m_database(std::move(database))
{
}

FlightIndex::~FlightIndex() = default;
FlightIndex::FlightIndex(FlightIndex&&) noexcept = default;
FlightIndex& FlightIndex::operator=(FlightIndex&&) noexcept = default;

namespace {

// A path as an SQLite URI's file name: the characters that would end it or start an
// escape are escaped.
std::string uriPath(const std::string& path)
{
    std::string uri = "file:";
    for (const char c : path) {
        if (c == '?' || c == '#' || c == '%') {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
            uri += escaped;
        } else {
            uri += c;
        }
    }
    return uri;
}

// What is not a file of our own at the index's place: a link would have the schema
// written through it into whatever it names.
std::optional<std::string> notAnIndexFile(const std::string& path)
{
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0)
        return std::nullopt; // not there: made anew, or the open says why
    if (S_ISLNK(status.st_mode))
        return "it is a symbolic link, which the library does not follow: move the link away (the index is made "
               "again from the IGC files), or put the index itself there";
    if (!S_ISREG(status.st_mode))
        return "it is not a regular file: move it away (the index is made again from the IGC files)";
    return std::nullopt;
}

} // namespace

LibraryResult<std::unique_ptr<FlightIndex>> FlightIndex::open(const std::string& path, Access access)
{
    const auto damaged = [&](std::string reason) { return libraryFailure(LibraryErrorKind::Damaged, std::move(reason)); };
    const auto unusable = [&](std::string reason) { return libraryFailure(LibraryErrorKind::Unusable, std::move(reason)); };
    if (const auto refused = notAnIndexFile(path))
        return unusable(*refused);
    const bool readOnly = access == Access::ReadOnly;
    const auto connect = [&](const std::string& name, int flags, std::shared_ptr<IndexDatabase>& database) {
        sqlite3* connection = nullptr;
        const int opened = sqlite3_open_v2(name.c_str(), &connection, flags | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW, nullptr);
        database = std::make_shared<IndexDatabase>(connection);
        // A sync holding the write lock for a moment must not fail a window's read.
        if (opened == SQLITE_OK)
            sqlite3_busy_timeout(connection, 5000);
        return opened;
    };
    // The first read of a file that is not a database fails here, not at open.
    const auto readVersion = [](const IndexDatabase& database) -> LibraryResult<int> {
        Statement statement(database, "PRAGMA user_version");
        const auto row = statement.step();
        if (!row || !*row)
            return Failure { row ? database.lastError() : row.error() };
        return static_cast<int>(statement.integer(0));
    };

    std::shared_ptr<IndexDatabase> database;
    if (connect(path, readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, database) != SQLITE_OK)
        return unusable(database->lastError().message);
    auto version = readVersion(*database);
    if (!version && readOnly && version.error().kind != LibraryErrorKind::Damaged) {
        // A WAL file in a folder we may not write has no shared memory file to read
        // through: read it as a file that nobody changes (a read-only mount, or a
        // folder only its owner could change back).
        if (connect(uriPath(path) + "?immutable=1", SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, database) != SQLITE_OK)
            return unusable(database->lastError().message);
        version = readVersion(*database);
    }
    if (!version) {
        if (version.error().kind == LibraryErrorKind::Damaged)
            return Failure { version.error() };
        return unusable(version.error().message);
    }
    std::unique_ptr<FlightIndex> index(new FlightIndex(database));

    std::int64_t application = 0;
    std::int64_t tables = 0;
    {
        Statement statement(*database, "SELECT (SELECT application_id FROM pragma_application_id), "
                                       "(SELECT count(*) FROM sqlite_schema)");
        const auto row = statement.step();
        if (!row || !*row)
            return damaged(row ? database->lastError().message : row.error().message);
        application = statement.integer(0);
        tables = statement.integer(1);
    }
    const std::string leftAlone = "it is left as it is; move it away, or choose another folder for the library";
    if (application != 0 && application != applicationId) {
        char id[16];
        std::snprintf(id, sizeof id, "0x%08llx", static_cast<unsigned long long>(application & 0xffffffff));
        return unusable(std::string("it is another program's database (application id ") + id + "): " + leftAlone);
    }
    if (application == 0 && *version == 0 && tables > 0)
        return unusable("it is another program's database (it holds tables that are not the library's): " + leftAlone);
    if (*version > schemaVersion)
        return damaged("it was written by a newer program (schema " + std::to_string(*version) + ")");
    if (*version > 0) {
        Statement check(*database, "PRAGMA quick_check");
        const auto row = check.step();
        if (!row || !*row)
            return damaged(row ? database->lastError().message : row.error().message);
        if (const std::string verdict = check.text(0); verdict != "ok")
            return damaged("its integrity check says: " + verdict);
    }
    if (readOnly) {
        if (*version < schemaVersion)
            return unusable("it is of an older version (schema " + std::to_string(*version)
                + "), which a library that cannot be written cannot bring up to date");
        return index;
    }

    {
        Statement wal(*database, "PRAGMA journal_mode=WAL");
        const auto row = wal.step();
        if (!row || !*row)
            return unusable(row ? database->lastError().message : row.error().message);
    }
    // WAL with NORMAL sync is safe against a killed process and keeps the file
    // consistent after a power loss; the IGC files themselves are synced one by one.
    (void)database->execute("PRAGMA synchronous=NORMAL");

    const std::string markOurs = "PRAGMA application_id=" + std::to_string(applicationId);
    for (int step = *version; step < schemaVersion; ++step) {
        Transaction transaction(*index);
        auto done = database->execute(migrationTo(step + 1));
        if (done)
            done = database->execute("PRAGMA user_version=" + std::to_string(step + 1));
        if (done)
            done = database->execute(markOurs);
        if (done)
            done = transaction.commit();
        if (!done)
            return unusable("cannot bring the index to version " + std::to_string(step + 1) + ": " + done.error().message);
    }
    // An index of ours made before it carried the mark.
    if (application == 0 && *version == schemaVersion) {
        Transaction transaction(*index);
        auto done = database->execute(markOurs);
        if (done)
            done = transaction.commit();
        if (!done)
            return unusable("cannot mark the index as the library's: " + done.error().message);
    }
    return index;
}

FlightIndex::Transaction::Transaction(FlightIndex& index)
    : m_index(&index)
{
    if (auto began = m_index->m_database->execute("BEGIN IMMEDIATE"); !began) {
        m_done = true;
        m_beginError = began.error();
    }
}

FlightIndex::Transaction::~Transaction()
{
    if (!m_done)
        (void)m_index->m_database->execute("ROLLBACK");
}

LibraryResult<void> FlightIndex::Transaction::commit()
{
    if (m_beginError)
        return Failure { *m_beginError };
    if (m_done)
        return libraryFailure(LibraryErrorKind::Unusable, "the transaction was committed already");
    m_done = true;
    auto committed = m_index->m_database->execute("COMMIT");
    // A commit that failed may leave the transaction open (busy, a deferred check): what
    // comes next on this connection must not join it.
    if (!committed && sqlite3_get_autocommit(m_index->m_database->get()) == 0)
        (void)m_index->m_database->execute("ROLLBACK");
    return committed;
}

LibraryResult<std::int64_t> FlightIndex::insert(const LibraryFlight& flight)
{
    std::string names, placeholders;
    for (const FlightColumn& each : flightColumns) {
        if (!each.bind)
            continue;
        names += std::string(names.empty() ? "" : ", ") + each.name;
        placeholders += placeholders.empty() ? "?" : ",?";
    }
    if (flight.id > 0) {
        names += ", id";
        placeholders += ",?";
    }
    Statement statement(*m_database, "INSERT INTO flights (" + names + ") VALUES (" + placeholders + ")");
    const int next = bindColumns(statement, flight, [](const FlightColumn&) { return true; });
    if (flight.id > 0)
        statement.bind(next, flight.id);
    if (auto ran = statement.run(); !ran)
        return Failure { ran.error() };
    return std::int64_t { sqlite3_last_insert_rowid(m_database->get()) };
}

LibraryResult<void> FlightIndex::setFigures(const LibraryFlight& flight)
{
    std::string assignments;
    for (const FlightColumn& each : flightColumns)
        if (each.bind && each.figure)
            assignments += std::string(assignments.empty() ? "" : ", ") + each.name + " = ?";
    Statement statement(*m_database, "UPDATE flights SET " + assignments + " WHERE id = ?");
    const int next = bindColumns(statement, flight, [](const FlightColumn& each) { return each.figure; });
    statement.bind(next, flight.id);
    return statement.run();
}

LibraryResult<void> FlightIndex::replaceFile(const LibraryFlight& flight)
{
    const auto replaced = [](const FlightColumn& each) {
        const std::string_view name = each.name;
        return each.figure || name == "file" || name == "sha256" || name == "size" || name == "serial"
            || name == "logbook_minute" || name == "part";
    };
    std::string assignments;
    for (const FlightColumn& each : flightColumns)
        if (each.bind && replaced(each))
            assignments += std::string(assignments.empty() ? "" : ", ") + each.name + " = ?";
    Statement statement(*m_database, "UPDATE flights SET " + assignments + " WHERE id = ?");
    const int next = bindColumns(statement, flight, replaced);
    statement.bind(next, flight.id);
    if (auto ran = statement.run(); !ran)
        return ran;
    Statement scores(*m_database, "DELETE FROM scores WHERE flight = ?");
    scores.bind(1, flight.id);
    if (auto ran = scores.run(); !ran)
        return ran;
    Statement debrief(*m_database, "DELETE FROM debriefs WHERE flight = ?");
    debrief.bind(1, flight.id);
    return debrief.run();
}

LibraryResult<void> FlightIndex::setRecordingOf(std::int64_t id, std::optional<std::int64_t> of)
{
    Statement statement(*m_database,
        of ? "UPDATE flights SET recording_of = ?1 WHERE id = ?2 OR recording_of = ?2"
           : "UPDATE flights SET recording_of = NULL WHERE id = ?2");
    if (of)
        statement.bind(1, *of);
    statement.bind(2, id);
    return statement.run();
}

LibraryResult<void> FlightIndex::setLogBookMinute(std::int64_t id, const std::string& serial, std::int64_t minute)
{
    Statement statement(*m_database, "UPDATE flights SET serial = ?, logbook_minute = ? WHERE id = ?");
    statement.bind(1, serial);
    statement.bind(2, minute);
    statement.bind(3, id);
    return statement.run();
}

LibraryResult<void> FlightIndex::removeAll() { return m_database->execute("DELETE FROM flights"); }

LibraryResult<void> FlightIndex::remove(std::int64_t id)
{
    Statement statement(*m_database, "DELETE FROM flights WHERE id = ?");
    statement.bind(1, id);
    return statement.run();
}

LibraryResult<void> FlightIndex::removeFile(const std::string& file)
{
    Statement statement(*m_database, "DELETE FROM flights WHERE file = ?");
    statement.bind(1, file);
    return statement.run();
}

LibraryResult<std::int64_t> FlightIndex::largestId() const
{
    Statement statement(*m_database,
        "SELECT max(coalesce((SELECT seq FROM sqlite_sequence WHERE name = 'flights'), 0), "
        "coalesce((SELECT max(id) FROM flights), 0))");
    const auto row = statement.step();
    if (!row)
        return Failure { row.error() };
    return statement.integer(0);
}

LibraryResult<void> FlightIndex::reserveIds(std::int64_t id)
{
    Statement raise(*m_database, "UPDATE sqlite_sequence SET seq = ?1 WHERE name = 'flights' AND seq < ?1");
    raise.bind(1, id);
    if (auto ran = raise.run(); !ran)
        return ran;
    Statement first(*m_database,
        "INSERT INTO sqlite_sequence (name, seq) SELECT 'flights', ?1 "
        "WHERE NOT EXISTS (SELECT 1 FROM sqlite_sequence WHERE name = 'flights')");
    first.bind(1, id);
    return first.run();
}

LibraryResult<void> FlightIndex::setRemoved(std::int64_t id, std::optional<std::int64_t> removed)
{
    Statement statement(*m_database, "UPDATE flights SET removed = ? WHERE id = ?");
    statement.bind(1, removed);
    statement.bind(2, id);
    return statement.run();
}

LibraryResult<void> FlightIndex::moveFile(const std::string& from, const std::string& to)
{
    Statement statement(*m_database, "UPDATE flights SET file = ? WHERE file = ?");
    statement.bind(1, to);
    statement.bind(2, from);
    return statement.run();
}

LibraryResult<void> FlightIndex::setEdits(const LibraryFlight& flight)
{
    Statement statement(*m_database,
        "UPDATE flights SET glider_edit = ?, pilot_edit = ?, site = ?, comment = ?, scored_track = ? WHERE id = ?");
    statement.bind(1, flight.gliderEdit);
    statement.bind(2, flight.pilotEdit);
    statement.bind(3, flight.site);
    statement.bind(4, flight.comment);
    statement.bind(5, flight.scoredTrack);
    statement.bind(6, flight.id);
    return statement.run();
}

LibraryResult<void> FlightIndex::forgetScores(std::int64_t id)
{
    Statement statement(*m_database, "DELETE FROM scores WHERE flight = ?");
    statement.bind(1, id);
    return statement.run();
}

LibraryResult<std::vector<LibraryFlight>> FlightIndex::select(const std::string& where, const std::vector<Value>& values) const
{
    // The listed rule set is parameter 1; the condition's values follow.
    Statement statement(*m_database,
        "SELECT " + selectedColumns()
            + ", s.points, s.type, s.distance_m, s.version, d.version, d.thermals, d.failed_attempts, d.avg_climb, "
              "d.circling_share, d.left_share, d.height_gained_m, d.glide_ratio, d.altitude_source FROM flights f "
              "LEFT JOIN scores s ON s.flight = f.id AND s.rule_set = ? LEFT JOIN debriefs d ON d.flight = f.id"
            + (where.empty() ? "" : " WHERE " + where) + " ORDER BY f.takeoff DESC, f.id DESC");
    statement.bind(1, m_listedRuleSet);
    statement.bindAll(values, 2);
    auto flights = collect(statement, &flightFrom);
    if (flights) {
        const GliderNames* names = m_gliderNames ? &m_gliderNames() : nullptr;
        for (LibraryFlight& flight : *flights) {
            flight.scoreRuleSet = m_listedRuleSet;
            if (names && !flight.gliderEdit)
                if (const auto renamed = names->find(flight.glider); renamed != names->end())
                    flight.glider = renamed->second;
        }
    }
    return flights;
}

LibraryResult<LibraryFlight> FlightIndex::selectOne(const std::string& where, const std::vector<Value>& values) const
{
    auto found = select(where, values);
    if (!found)
        return Failure { found.error() };
    if (found->empty())
        return libraryFailure(LibraryErrorKind::NotFound, "the library has no such flight");
    return std::move(found->front());
}

LibraryResult<LibraryFlight> FlightIndex::flight(std::int64_t id) const { return selectOne("f.id = ?", { id }); }

LibraryResult<LibraryFlight> FlightIndex::flightWithDigest(const std::string& sha256) const
{
    return selectOne("sha256 = ?", { sha256 });
}

LibraryResult<LibraryFlight> FlightIndex::flightOfLogger(const std::string& logger, std::int64_t takeoff) const
{
    return selectOne("logger = ? AND takeoff = ?", { logger, takeoff });
}

LibraryResult<LibraryFlight> FlightIndex::flightOfLogBook(const std::string& serial, std::int64_t logBookMinute) const
{
    return selectOne("serial = ? AND logbook_minute = ?", { serial, logBookMinute });
}

LibraryResult<std::vector<LibraryFlight>> FlightIndex::flights(const FlightFilter& filter) const
{
    std::string where;
    std::vector<Value> values;
    const auto also = [&](const char* condition) { where += where.empty() ? condition : std::string(" AND ") + condition; };
    also(filter.removed ? "f.removed IS NOT NULL" : shownFlights);
    if (filter.year) {
        also("year = ?");
        values.emplace_back(std::int64_t { *filter.year });
    }
    // The glider and the text by the one rule of the window too: SQL's lower() folds
    // ASCII only, so "süd" would miss "SÜD".
    auto flights = select(where, values);
    if (flights)
        std::erase_if(*flights, [&](const LibraryFlight& flight) { return !flightMatches(flight, filter); });
    return flights;
}

namespace {
// No flight lasts longer: the bound that lets the take-off index find the flights in
// the air at a moment.
constexpr std::int64_t longestFlightSeconds = 2 * 86400;
} // namespace

LibraryResult<std::vector<LibraryFlight>> FlightIndex::flightsInAir(std::int64_t from, std::int64_t to) const
{
    return select("f.takeoff BETWEEN ? AND ? AND f.landing >= ? AND f.removed IS NULL",
        { from - longestFlightSeconds, to, from });
}

LibraryResult<std::vector<LibraryFlight>> FlightIndex::flightsOfLoggerInAir(
    const std::string& logger, std::int64_t from, std::int64_t to) const
{
    return select("f.logger = ? AND f.takeoff BETWEEN ? AND ? AND f.landing >= ? AND f.removed IS NULL",
        { logger, from - longestFlightSeconds, to, from });
}

LibraryResult<std::vector<LibraryFlight>> FlightIndex::recordingsOf(std::int64_t id) const
{
    return select("f.recording_of = ? AND f.removed IS NULL", { id });
}

LibraryResult<std::vector<LibraryFlight>> FlightIndex::removedRecordingsOf(std::int64_t id) const
{
    return select("f.recording_of = ? AND f.removed IS NOT NULL", { id });
}

LibraryResult<std::vector<LibraryFlight>> FlightIndex::everyFlight() const { return select("", {}); }

LibraryResult<std::vector<LibraryFlight>> FlightIndex::flightsOfFile(const std::string& file) const
{
    return select("f.file = ?", { file });
}

LibraryResult<std::vector<std::string>> FlightIndex::files() const
{
    Statement statement(*m_database, "SELECT file FROM flights");
    return collect<std::string>(statement, [](const Statement& row) { return row.text(0); });
}

LibraryResult<std::vector<FlightTotals>> FlightIndex::totals(const char* keyExpression) const
{
    Statement statement(*m_database,
        std::string("SELECT ") + keyExpression
            + ", count(*), sum(duration), sum(track_m), total(s.points), count(s.points) FROM flights f "
              "LEFT JOIN scores s ON s.flight = f.id AND s.rule_set = ? WHERE "
            + shownFlights + " GROUP BY 1 ORDER BY 1 DESC");
    statement.bind(1, m_listedRuleSet);
    return collect<FlightTotals>(statement, [](const Statement& row) {
        return FlightTotals { row.text(0), row.integer(1), row.integer(2), row.real(3), row.real(4), row.integer(5) };
    });
}

LibraryResult<std::vector<FlightTotals>> FlightIndex::totalsByYear() const { return totals("year"); }

// The pilot's glider where they named one, else the file's under the pilot's name for it.
LibraryResult<std::vector<FlightTotals>> FlightIndex::totalsByGlider() const
{
    if (!m_gliderNames)
        return totals("coalesce(glider_edit, glider)");
    // A flight's own edit is never renamed: marked apart from the file's names.
    auto byName = totals("CASE WHEN glider_edit IS NULL THEN 'f' || glider ELSE 'e' || glider_edit END");
    if (!byName)
        return byName;
    const GliderNames& names = m_gliderNames();
    std::map<std::string, FlightTotals, std::greater<>> merged;
    for (FlightTotals& each : *byName) {
        std::string name = each.key.substr(1);
        if (each.key.front() == 'f')
            if (const auto renamed = names.find(name); renamed != names.end())
                name = renamed->second;
        FlightTotals& into = merged[name];
        into.key = name;
        into.flights += each.flights;
        into.seconds += each.seconds;
        into.trackMetres += each.trackMetres;
        into.points += each.points;
        into.scored += each.scored;
    }
    std::vector<FlightTotals> list;
    for (auto& [name, each] : merged)
        list.push_back(std::move(each));
    return list;
}

LibraryResult<std::int64_t> FlightIndex::count() const
{
    Statement statement(*m_database, std::string("SELECT count(*) FROM flights f WHERE ") + shownFlights);
    const auto row = statement.step();
    if (!row)
        return Failure { row.error() };
    return statement.integer(0);
}

LibraryResult<void> FlightIndex::setScore(std::int64_t id, const std::string& ruleSet, const StoredScore& score)
{
    Statement statement(*m_database,
        "INSERT OR REPLACE INTO scores (flight, rule_set, points, type, distance_m, version, from_time, to_time) "
        "VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
    statement.bind(1, id);
    statement.bind(2, ruleSet);
    statement.bind(3, score.points);
    statement.bind(4, score.points ? std::optional(score.type) : std::nullopt);
    statement.bind(5, score.distanceMetres);
    statement.bind(6, score.version);
    statement.bind(7, score.points ? score.from : std::nullopt);
    statement.bind(8, score.points ? score.to : std::nullopt);
    return statement.run();
}

LibraryResult<std::vector<RuleSetScore>> FlightIndex::scores(std::int64_t id) const
{
    Statement statement(*m_database,
        "SELECT rule_set, points, type, distance_m, version, from_time, to_time FROM scores WHERE flight = ? ORDER BY rule_set");
    statement.bind(1, id);
    return collect<RuleSetScore>(statement, [](const Statement& row) {
        RuleSetScore each;
        each.ruleSet = row.text(0);
        row.read(1, each.score.points);
        each.score.type = row.text(2);
        row.read(3, each.score.distanceMetres);
        row.read(4, each.score.version);
        row.read(5, each.score.from);
        row.read(6, each.score.to);
        return each;
    });
}

LibraryResult<void> FlightIndex::setDebrief(std::int64_t id, const std::optional<StoredDebrief>& debrief, int version)
{
    Statement statement(*m_database,
        "INSERT OR REPLACE INTO debriefs (flight, version, thermals, failed_attempts, avg_climb, circling_share, "
        "left_share, height_gained_m, glide_ratio, altitude_source) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    statement.bind(1, id);
    statement.bind(2, version);
    if (debrief) {
        statement.bind(3, debrief->thermals);
        statement.bind(4, debrief->failedAttempts);
        statement.bind(5, debrief->avgClimbMs);
        statement.bind(6, debrief->circlingShare);
        statement.bind(7, debrief->leftShare);
        statement.bind(8, debrief->heightGainedMetres);
        statement.bind(9, debrief->avgGlideRatio);
        statement.bind(10, debrief->altitudeSource);
    }
    return statement.run();
}

LibraryResult<void> FlightIndex::forgetDebriefs() { return m_database->execute("DELETE FROM debriefs"); }

LibraryResult<std::vector<FlightToScore>> FlightIndex::flightsToScore(
    const std::vector<std::string>& ruleSets, int version, std::optional<int> debrief) const
{
    // Newest first: the flights the user just brought are the ones looked at. The
    // rule sets' ids have no commas.
    Statement statement(*m_database,
        "SELECT f.id, f.file, f.figures_version, group_concat(s.rule_set, ','), f.part, f.scored_track, "
        "(SELECT d.version FROM debriefs d WHERE d.flight = f.id) FROM flights f "
        "LEFT JOIN scores s ON s.flight = f.id AND s.version >= ?1 "
        "GROUP BY f.id ORDER BY f.takeoff DESC, f.id DESC");
    statement.bind(1, version);
    std::vector<FlightToScore> wanted;
    for (;;) {
        const auto row = statement.step();
        if (!row)
            return Failure { row.error() };
        if (!*row)
            return wanted;
        FlightToScore flight { statement.integer(0), statement.text(1), statement.integer(2) < version,
            static_cast<int>(statement.integer(4)), statement.text(5), {}, false };
        const std::string current = "," + statement.text(3) + ",";
        for (const std::string& ruleSet : ruleSets)
            if (current.find("," + ruleSet + ",") == std::string::npos)
                flight.ruleSets.push_back(ruleSet);
        // New figures make a new debrief: its thermals lie between take-off and landing.
        flight.debrief = debrief && (flight.figures || statement.isNull(6) || statement.integer(6) < *debrief);
        if (flight.figures || !flight.ruleSets.empty() || flight.debrief)
            wanted.push_back(std::move(flight));
    }
}

} // namespace corvex::library
