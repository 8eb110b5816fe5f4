#pragma once

#include "library/LibraryFlight.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

struct sqlite3;

namespace corvex {
class LogSink;
}

namespace corvex::library {

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

    static constexpr int schemaVersion = 1;

    // Writes in one transaction: many imports cost one sync of the disk.
    class Transaction {
    public:
        explicit Transaction(FlightIndex& index);
        ~Transaction(); // rolls back unless committed
        bool commit();

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

    const std::string& lastError() const { return m_lastError; }

private:
    explicit FlightIndex(sqlite3* database);
    bool execute(const char* sql);
    using Value = std::variant<std::int64_t, std::string>;
    std::vector<LibraryFlight> select(const std::string& where, const std::vector<Value>& values) const;
    std::vector<FlightTotals> totals(const char* keyExpression) const;

    sqlite3* m_database { nullptr };
    mutable std::string m_lastError;
};

} // namespace corvex::library
