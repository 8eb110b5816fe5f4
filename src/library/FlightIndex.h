#pragma once

#include "library/LibraryFlight.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

struct sqlite3;

namespace corvex {
class LogSink;
}

namespace corvex::library {

// A flight's contest score as the index stores it; nothing in points when the flight
// has no score (too few fixes, a file that no longer reads).
struct StoredScore {
    std::optional<double> points;
    std::string type;
    std::optional<double> distanceMetres;
    int scorerVersion { 0 };
};

// An OpenAir file the library keeps a copy of, once per content.
struct AirspaceFileRecord {
    std::int64_t id { 0 };
    std::string name; // the file's name when the user gave it
    std::string sha256;
    std::string file; // relative to the library folder
    std::int64_t kept { 0 }; // when it first came, UTC seconds
};

// Why the library kept it, each time: "converted" (setSha256: the set made from it),
// "checked" (a flight was checked against it), "uploaded" (the set made from it went
// onto the instrument with this serial at this time).
struct AirspaceUseRecord {
    std::int64_t fileId { 0 }; // 0: an upload of a set no kept file was made into
    std::string reason;
    std::int64_t time { 0 };
    std::string serial;
    std::string setSha256;
};

// The flight library's index: one SQLite file (WAL, so a window reading it never
// blocks a sync writing it) with a schema version and the migrations that bring an
// older file up to date. It holds nothing that is not in the IGC files too; when it is
// damaged, the library sets it aside and makes it again from them.
class FlightIndex {
public:
    ~FlightIndex();
    FlightIndex(FlightIndex&&) noexcept;
    FlightIndex& operator=(FlightIndex&&) noexcept;

    enum class OpenProblem {
        None,
        // The file is not a database, fails its integrity check, or was written by a
        // newer program: the caller sets it aside and rebuilds.
        Damaged,
        // It cannot be opened or created at all (permissions, a full disk): nothing to
        // rebuild into.
        Unusable,
    };
    struct Opened {
        std::unique_ptr<FlightIndex> index; // set when problem is None
        OpenProblem problem { OpenProblem::None };
        std::string reason;
    };
    static Opened open(const std::string& path);

    static constexpr int schemaVersion = 2;

    // Writes in one transaction: many imports cost one sync of the disk.
    class Transaction {
    public:
        explicit Transaction(FlightIndex& index);
        ~Transaction(); // rolls back unless committed
        bool commit();
        // False when it could not begin (another connection held the write lock past
        // the busy timeout): writes made now would each wait for the lock again.
        bool active() const { return !m_done; }

    private:
        FlightIndex* m_index;
        bool m_done { false };
    };

    // The new flight's id, or nothing (the reason in lastError()).
    std::optional<std::int64_t> insert(const LibraryFlight& flight);
    bool setLogBookMinute(std::int64_t id, const std::string& serial, std::int64_t minute);
    bool removeAll();
    bool remove(std::int64_t id);
    bool removeFile(const std::string& file);

    std::optional<LibraryFlight> flight(std::int64_t id) const;
    std::optional<LibraryFlight> flightWithDigest(const std::string& sha256) const;
    std::optional<LibraryFlight> flightOfLogger(const std::string& logger, std::int64_t takeoff) const;
    std::optional<LibraryFlight> flightOfLogBook(const std::string& serial, std::int64_t logBookMinute) const;
    // Newest first.
    std::vector<LibraryFlight> flights(const FlightFilter& filter = {}) const;
    std::vector<std::string> files() const;
    std::vector<FlightTotals> totalsByYear() const;
    std::vector<FlightTotals> totalsByGlider() const;
    std::int64_t count() const;

    bool setScore(std::int64_t id, const StoredScore& score);
    // The flights with no score of this scorer version or a later one: id and file.
    std::vector<std::pair<std::int64_t, std::string>> flightsToScore(int scorerVersion) const;

    std::optional<std::int64_t> insertAirspaceFile(const AirspaceFileRecord& record);
    bool insertAirspaceUse(const AirspaceUseRecord& use);
    std::optional<AirspaceFileRecord> airspaceFile(std::int64_t id) const;
    std::optional<AirspaceFileRecord> airspaceFileWithDigest(const std::string& sha256) const;
    // The file last converted into the set with this digest.
    std::optional<AirspaceFileRecord> airspaceFileConvertedInto(const std::string& setSha256) const;
    // The file whose set was last uploaded to this instrument at or before the time.
    std::optional<AirspaceFileRecord> airspaceFileUploadedBy(const std::string& serial, std::int64_t time) const;
    std::vector<AirspaceFileRecord> airspaceFiles() const;
    // Oldest first.
    std::vector<AirspaceUseRecord> airspaceUses(std::int64_t fileId) const;

    const std::string& lastError() const { return m_lastError; }

private:
    explicit FlightIndex(sqlite3* database);
    bool execute(const char* sql);
    using Value = std::variant<std::int64_t, std::string>;
    std::vector<LibraryFlight> select(const std::string& where, const std::vector<Value>& values) const;
    std::vector<FlightTotals> totals(const char* keyExpression) const;
    std::vector<AirspaceFileRecord> selectAirspaceFiles(const std::string& sql, const std::vector<Value>& values) const;

    sqlite3* m_database { nullptr };
    mutable std::string m_lastError;
};

} // namespace corvex::library
