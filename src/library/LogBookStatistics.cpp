#include "library/LogBookStatistics.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <utility>

namespace corvex::library {

namespace {

std::pair<int, int> yearAndMonth(std::int64_t utcSeconds)
{
    using namespace std::chrono;
    const year_month_day day { floor<days>(sys_seconds(seconds(utcSeconds))) };
    return { int(day.year()), int(unsigned(day.month())) };
}

void add(PeriodStatistics& period, const LibraryFlight& flight)
{
    ++period.flights;
    period.seconds += std::max<std::int64_t>(flight.durationSeconds, 0);
    period.trackMetres += flight.trackMetres;
    if (flight.scorePoints) {
        period.points += *flight.scorePoints;
        ++period.scored;
    }
    if (flight.debrief) {
        ++period.analysed;
        period.thermals += flight.debrief->thermals;
        period.thermalGainMetres += flight.debrief->heightGainedMetres;
        period.thermalSeconds += flight.debrief->thermalSeconds();
    }
}

void add(PeriodStatistics& into, const PeriodStatistics& period)
{
    into.flights += period.flights;
    into.seconds += period.seconds;
    into.trackMetres += period.trackMetres;
    into.points += period.points;
    into.scored += period.scored;
    into.analysed += period.analysed;
    into.thermals += period.thermals;
    into.thermalGainMetres += period.thermalGainMetres;
    into.thermalSeconds += period.thermalSeconds;
}

} // namespace

double PeriodStatistics::value(StatisticsMeasure measure) const
{
    switch (measure) {
    case StatisticsMeasure::Hours:
        return double(seconds) / 3600.0;
    case StatisticsMeasure::Flights:
        return double(flights);
    case StatisticsMeasure::Kilometres:
        return trackMetres / 1000.0;
    case StatisticsMeasure::Points:
        return points;
    case StatisticsMeasure::Thermals:
        return double(thermals);
    case StatisticsMeasure::ThermalGain:
        return thermalGainMetres;
    case StatisticsMeasure::AverageClimb:
        return averageClimbMs();
    }
    return 0;
}

bool countsInLogBook(const LibraryFlight& flight)
{
    return !flight.removed && !flight.recordingOf;
}

LogBookStatistics::LogBookStatistics(const std::vector<LibraryFlight>& flights)
{
    std::map<std::pair<int, int>, PeriodStatistics> months;
    for (const LibraryFlight& flight : flights) {
        if (!countsInLogBook(flight))
            continue;
        const auto key = yearAndMonth(flight.takeoff);
        PeriodStatistics& period = months[key];
        period.year = key.first;
        period.month = key.second;
        add(period, flight);
    }
    for (const auto& [key, period] : months) {
        m_months.push_back(period);
        if (m_years.empty() || m_years.back().year != key.first)
            m_years.push_back(PeriodStatistics { .year = key.first });
        add(m_years.back(), period);
    }
}

std::vector<PeriodStatistics> LogBookStatistics::months(int year) const
{
    std::vector<PeriodStatistics> result(12);
    for (int month = 1; month <= 12; ++month) {
        result[month - 1].year = year;
        result[month - 1].month = month;
    }
    const auto first = std::lower_bound(m_months.begin(), m_months.end(), year,
        [](const PeriodStatistics& period, int value) { return period.year < value; });
    for (auto it = first; it != m_months.end() && it->year == year; ++it)
        result[it->month - 1] = *it;
    return result;
}

PeriodStatistics LogBookStatistics::total() const
{
    PeriodStatistics total;
    for (const PeriodStatistics& year : m_years)
        add(total, year);
    return total;
}

std::vector<LogBookEntry> logBookEntries(std::vector<LibraryFlight> flights, std::optional<int> year)
{
    std::erase_if(flights, [](const LibraryFlight& flight) { return !countsInLogBook(flight); });
    std::stable_sort(flights.begin(), flights.end(), [](const LibraryFlight& a, const LibraryFlight& b) {
        return a.takeoff != b.takeoff ? a.takeoff < b.takeoff : a.id < b.id;
    });
    std::vector<LogBookEntry> entries;
    int number = 0;
    for (LibraryFlight& flight : flights) {
        ++number;
        if (year && yearAndMonth(flight.takeoff).first != *year)
            continue;
        entries.push_back(LogBookEntry { .number = number,
            .takeoff = flight.takeoff,
            .site = std::move(flight.site),
            .glider = std::move(flight.glider),
            .comment = std::move(flight.comment),
            .seconds = std::max<std::int64_t>(flight.durationSeconds, 0),
            .trackMetres = flight.trackMetres });
    }
    return entries;
}

std::vector<LogBookPage> logBookPages(const std::vector<LogBookEntry>& entries, std::size_t rowsPerPage)
{
    rowsPerPage = std::max<std::size_t>(rowsPerPage, 1);
    std::vector<LogBookPage> pages;
    LogBookSums sums;
    std::size_t first = 0;
    do {
        LogBookPage page { .first = first, .count = std::min(rowsPerPage, entries.size() - first), .broughtForward = sums, .carriedForward = {} };
        for (std::size_t i = page.first; i < page.first + page.count; ++i) {
            ++sums.flights;
            sums.seconds += entries[i].seconds;
            sums.trackMetres += entries[i].trackMetres;
        }
        page.carriedForward = sums;
        pages.push_back(page);
        first += page.count;
    } while (first < entries.size());
    return pages;
}

std::string logBookPilot(const std::vector<LibraryFlight>& flights)
{
    std::map<std::string, std::size_t> counts;
    for (const LibraryFlight& flight : flights)
        if (countsInLogBook(flight) && !flight.pilot.empty())
            ++counts[flight.pilot];
    std::string best;
    std::size_t most = 0;
    for (const auto& [name, count] : counts)
        if (count > most) {
            best = name;
            most = count;
        }
    return best;
}

} // namespace corvex::library
