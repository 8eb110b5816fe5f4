#pragma once

#include "library/LibraryFlight.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvex::library {

// What a statistics bar measures.
enum class StatisticsMeasure { Hours, Flights, Kilometres, Points, Thermals, ThermalGain, AverageClimb };

// The flying of one period: a year (month 0) or one month of a year (1..12).
struct PeriodStatistics {
    int year { 0 };
    int month { 0 };
    std::int64_t flights { 0 };
    std::int64_t seconds { 0 };
    double trackMetres { 0 };
    double points { 0 }; // under the index's listed rule set, of the flights scored so far
    std::int64_t scored { 0 };
    // Of the flights analysed so far (the debrief): their thermals, the height gained in
    // them (metres) and the time spent in them.
    std::int64_t analysed { 0 };
    std::int64_t thermals { 0 };
    double thermalGainMetres { 0 };
    double thermalSeconds { 0 };

    // Over all the period's time in thermals (m/s); 0 without any.
    double averageClimbMs() const { return thermalSeconds > 0 ? thermalGainMetres / thermalSeconds : 0; }
    double value(StatisticsMeasure measure) const;
};

// Per year and per month, the flights the pilot sees: a removed flight and a second
// logger's recording of a flight count nowhere (as in the library's totals). A flight
// belongs to the year and month of its take-off in UTC, as the index's year column does.
class LogBookStatistics {
public:
    LogBookStatistics() = default;
    explicit LogBookStatistics(const std::vector<LibraryFlight>& flights);

    // Ascending, only the years with a flight.
    const std::vector<PeriodStatistics>& years() const { return m_years; }
    // Twelve entries, January first; all zero for a year without flights.
    std::vector<PeriodStatistics> months(int year) const;
    PeriodStatistics total() const;
    bool empty() const { return m_years.empty(); }

private:
    std::vector<PeriodStatistics> m_years;
    std::vector<PeriodStatistics> m_months; // ascending by year and month, only months with a flight
};

// Whether a flight counts in a log book's totals and pages.
bool countsInLogBook(const LibraryFlight& flight);

// One line of the printed log book.
struct LogBookEntry {
    int number { 0 }; // the flight's place among all the pilot's flights, oldest first
    std::int64_t takeoff { 0 }; // UTC seconds
    std::string site, glider, comment;
    std::int64_t seconds { 0 };
    double trackMetres { 0 };
};

struct LogBookSums {
    std::int64_t flights { 0 };
    std::int64_t seconds { 0 };
    double trackMetres { 0 };
};

// One sheet: its lines [first, first + count), the sums brought forward from the sheets
// before it, and those carried forward (the last sheet's are the log book's total).
struct LogBookPage {
    std::size_t first { 0 };
    std::size_t count { 0 };
    LogBookSums broughtForward;
    LogBookSums carriedForward;
};

// The log book's lines, oldest first, of the flights that count (each carries the site
// name its `site` holds). The numbers run over every year, as a paper log book's do, so
// a year's book goes on from the one before; `year` keeps that year's lines only.
std::vector<LogBookEntry> logBookEntries(std::vector<LibraryFlight> flights, std::optional<int> year = std::nullopt);
// The entries cut into sheets of `rowsPerPage` lines (at least one each); an empty log
// book is one empty sheet.
std::vector<LogBookPage> logBookPages(const std::vector<LogBookEntry>& entries, std::size_t rowsPerPage);
// The name most of the flights that count carry ("" without any).
std::string logBookPilot(const std::vector<LibraryFlight>& flights);

} // namespace corvex::library
