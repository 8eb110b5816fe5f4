#pragma once

#include "library/LibraryError.h"
#include "library/LibraryFlight.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace corvex::library {

class IndexDatabase;

// A flight's contest score under one rule set as the index stores it; nothing in
// points when the flight has no score (too few fixes, a file that no longer reads).
struct StoredScore {
    std::optional<double> points;
    std::string type;
    std::optional<double> distanceMetres;
    int version { 0 }; // the figuresVersion that made it
    // The part of the track the score used (UTC seconds): take-off to landing, or more
    // where the rule set scores the ground too.
    std::optional<std::int64_t> from {}, to {};
};

struct RuleSetScore {
    std::string ruleSet; // "xcontest", as the contest rules name it
    StoredScore score;
};

// A flight the background pass has work for: its figures are older than
// figuresVersion, or it lacks a current score under some of the rule sets asked for.
struct FlightToScore {
    std::int64_t id { 0 };
    std::string file;
    bool figures { false }; // compute the figures again
    int part { 0 }; // which flight of the file
    std::string scoredTrack; // the pilot's choice, as LibraryFlight keeps it
    std::vector<std::string> ruleSets; // score under these
    bool debrief { false }; // analyse it: no debrief of the version asked for, or new figures
};

// The flight library's index: one SQLite file (WAL, so a window reading it never
// blocks a sync writing it) with a schema version and the migrations that bring an
// older file up to date. It holds nothing that is not in the IGC files too; when it is
// damaged, the library sets it aside and makes it again from them. The airspace
// archive's tables live in the same file (AirspaceIndex, over this connection).
class FlightIndex {
public:
    ~FlightIndex();
    FlightIndex(FlightIndex&&) noexcept;
    FlightIndex& operator=(FlightIndex&&) noexcept;

    // Damaged: the file is not a database, fails its integrity check, or was written
    // by a newer program (the caller sets it aside and rebuilds). Unusable or Io: it
    // cannot be opened, created or brought up to date at all, or it is not ours to
    // write (a symbolic link, another program's database: left as it is). ReadOnly
    // neither creates, migrates nor writes the file.
    enum class Access { ReadWrite, ReadOnly };
    static LibraryResult<std::unique_ptr<FlightIndex>> open(const std::string& path, Access access = Access::ReadWrite);

    static constexpr int schemaVersion = 5;
    // PRAGMA application_id of our index files ("CVXF"): another program's database
    // carries another one, or tables and no user_version.
    static constexpr std::int32_t applicationId = 0x43565846;

    // Writes in one transaction: many imports cost one sync of the disk.
    class Transaction {
    public:
        explicit Transaction(FlightIndex& index);
        ~Transaction(); // rolls back unless committed
        LibraryResult<void> commit();
        // False when it could not begin (another connection held the write lock past
        // the busy timeout): writes made now would each wait for the lock again.
        bool active() const { return !m_done; }

    private:
        FlightIndex* m_index;
        bool m_done { false };
        std::optional<LibraryError> m_beginError;
    };

    // The new flight's id: the one the flight carries when it has one (a flight the
    // journal knows, made again by a rebuild or brought back by a restore), else the
    // next never given.
    LibraryResult<std::int64_t> insert(const LibraryFlight& flight);
    LibraryResult<void> setLogBookMinute(std::int64_t id, const std::string& serial, std::int64_t minute);
    // The figures of the flight with its id, computed again from its file.
    LibraryResult<void> setFigures(const LibraryFlight& flight);
    // The flight with its id now read from another file (a copy that holds more of
    // it): the file, its digest and size, which flight of it, the instrument and the
    // figures. Its scores and debrief go, to be computed again from the new file.
    LibraryResult<void> replaceFile(const LibraryFlight& flight);
    // Makes the flight `id` a second recording of `of` (nothing: the one shown), and
    // hands its own recordings over to `of` with it.
    LibraryResult<void> setRecordingOf(std::int64_t id, std::optional<std::int64_t> of);
    LibraryResult<void> removeAll();
    LibraryResult<void> remove(std::int64_t id);
    LibraryResult<void> removeFile(const std::string& file);
    // The largest id ever given (SQLite's sequence or a row's), and the sequence raised
    // to at least `id` so that no new flight gets an id the journal gave before.
    LibraryResult<std::int64_t> largestId() const;
    LibraryResult<void> reserveIds(std::int64_t id);
    // The pilot's removal (nothing: restored) of one flight; the new place of every
    // flight of a file that moved.
    LibraryResult<void> setRemoved(std::int64_t id, std::optional<std::int64_t> removed);
    LibraryResult<void> moveFile(const std::string& from, const std::string& to);
    // The pilot's words (gliderEdit, pilotEdit, site, comment, scoredTrack) as the
    // flight carries them.
    LibraryResult<void> setEdits(const LibraryFlight& flight);
    // Forgets the flight's scores, so that the background pass scores it again.
    LibraryResult<void> forgetScores(std::int64_t id);

    // NotFound when no flight matches.
    LibraryResult<LibraryFlight> flight(std::int64_t id) const;
    LibraryResult<LibraryFlight> flightWithDigest(const std::string& sha256) const;
    LibraryResult<LibraryFlight> flightOfLogger(const std::string& logger, std::int64_t takeoff) const;
    LibraryResult<LibraryFlight> flightOfLogBook(const std::string& serial, std::int64_t logBookMinute) const;
    // Newest first: the flights the pilot sees (neither removed nor a second
    // recording), or the removed ones when the filter asks for them.
    LibraryResult<std::vector<LibraryFlight>> flights(const FlightFilter& filter = {}) const;
    // Flights not removed (second recordings too) in the air at some moment from `from`
    // to `to`, of any logger or of one: found by take-off time, not by a scan.
    LibraryResult<std::vector<LibraryFlight>> flightsInAir(std::int64_t from, std::int64_t to) const;
    LibraryResult<std::vector<LibraryFlight>> flightsOfLoggerInAir(
        const std::string& logger, std::int64_t from, std::int64_t to) const;
    // The other loggers' recordings of a flight.
    LibraryResult<std::vector<LibraryFlight>> recordingsOf(std::int64_t id) const;
    // The removed ones among them.
    LibraryResult<std::vector<LibraryFlight>> removedRecordingsOf(std::int64_t id) const;
    // Every row, removed and second recordings too; and the rows of one file.
    LibraryResult<std::vector<LibraryFlight>> everyFlight() const;
    LibraryResult<std::vector<LibraryFlight>> flightsOfFile(const std::string& file) const;
    LibraryResult<std::vector<std::string>> files() const;
    LibraryResult<std::vector<FlightTotals>> totalsByYear() const;
    LibraryResult<std::vector<FlightTotals>> totalsByGlider() const;
    LibraryResult<std::int64_t> count() const;

    // The rule set whose score fills LibraryFlight's score and the totals' points
    // (defaultContestRuleSet until set).
    void setListedRuleSet(std::string ruleSet) { m_listedRuleSet = std::move(ruleSet); }
    const std::string& listedRuleSet() const { return m_listedRuleSet; }

    LibraryResult<void> setScore(std::int64_t id, const std::string& ruleSet, const StoredScore& score);
    // Every rule set's score of the flight, in the order of the rule sets' ids.
    LibraryResult<std::vector<RuleSetScore>> scores(std::int64_t id) const;
    // The flight's debrief totals made by `version` (debriefVersion), nothing for a file
    // that could not be analysed. The flight carries them back as debrief and
    // debriefMadeBy.
    LibraryResult<void> setDebrief(std::int64_t id, const std::optional<StoredDebrief>& debrief, int version);
    // Forgets every flight's debrief, for the background pass to analyse them all again.
    LibraryResult<void> forgetDebriefs();
    // Newest first: the flights whose figures are older than `version`, or that have no
    // score of that version or a later one under some of the rule sets, or (with a
    // `debrief` version) were not analysed by that version or a later one.
    LibraryResult<std::vector<FlightToScore>> flightsToScore(
        const std::vector<std::string>& ruleSets, int version, std::optional<int> debrief = std::nullopt) const;

    // The pilot's names for gliders (the name a file gives -> the name shown), asked for
    // at each read so that a rename by another program shows: every flight read, the
    // glider filter and totalsByGlider show the file's glider under its new name; a
    // flight's own glider edit wins over it. The index's columns keep the file's name.
    using GliderNames = std::map<std::string, std::string>;
    void setGliderNames(std::function<const GliderNames&()> names) { m_gliderNames = std::move(names); }

    // The connection, for the indexes of the file's other tables.
    std::shared_ptr<IndexDatabase> database() const { return m_database; }

private:
    explicit FlightIndex(std::shared_ptr<IndexDatabase> database);
    using Value = std::variant<std::int64_t, std::string>;
    LibraryResult<std::vector<LibraryFlight>> select(const std::string& where, const std::vector<Value>& values) const;
    LibraryResult<LibraryFlight> selectOne(const std::string& where, const std::vector<Value>& values) const;
    LibraryResult<std::vector<FlightTotals>> totals(const char* keyExpression) const;

    std::shared_ptr<IndexDatabase> m_database;
    std::string m_listedRuleSet { defaultContestRuleSet };
    std::function<const GliderNames&()> m_gliderNames;
};

} // namespace corvex::library
