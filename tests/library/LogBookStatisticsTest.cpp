// The log book's figures: hours, flights, kilometres, points and thermals per year and month, and
// the printed book's lines and the sums carried from sheet to sheet.
#include "library/LogBookStatistics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

using namespace corvex::library;

namespace {

constexpr std::int64_t jan2023 = 1672531200; // 2023-01-01T00:00:00Z
constexpr std::int64_t day = 86400;

LibraryFlight flight(std::int64_t id, std::int64_t takeoff, std::int64_t seconds, double metres, std::optional<double> points = {})
{
    LibraryFlight f;
    f.id = id;
    f.takeoff = takeoff;
    f.durationSeconds = seconds;
    f.trackMetres = metres;
    f.scorePoints = points;
    f.glider = "Glider " + std::to_string(id);
    f.site = "Site " + std::to_string(id);
    return f;
}

std::vector<LibraryFlight> sample()
{
    std::vector<LibraryFlight> flights {
        flight(1, jan2023 + 10 * day, 3600, 20000, 12.5), // 2023-01
        flight(2, jan2023 + 40 * day, 1800, 5000), // 2023-02, not scored yet
        flight(3, jan2023 + 41 * day, 5400, 40000, 30), // 2023-02
        flight(4, jan2023 + 365 * day - 1, 600, 1000, 1), // 2023-12-31T23:59:59Z
        flight(5, jan2023 + 365 * day, 7200, 60000, 50), // 2024-01-01 in UTC
        flight(6, jan2023 + 50 * day, 9999, 99999, 99), // removed
        flight(7, jan2023 + 41 * day, 5400, 40000, 30), // a second logger of flight 3
    };
    flights[5].removed = jan2023 + 60 * day;
    flights[6].recordingOf = 3;
    // Thermals, the height gained and the climb in them; flight 2 is not analysed yet,
    // flight 5's file had nothing to analyse.
    const struct { std::size_t flight; int thermals; double gain, climb; } debriefs[] = {
        { 0, 3, 600, 1.5 }, { 2, 5, 1200, 2.0 }, { 3, 0, 0, 0 }, { 5, 99, 9900, 3 }, { 6, 5, 1200, 2.0 } };
    for (const auto& each : debriefs) {
        StoredDebrief& debrief = flights[each.flight].debrief.emplace();
        debrief.thermals = each.thermals;
        debrief.heightGainedMetres = each.gain;
        debrief.avgClimbMs = each.climb;
    }
    return flights;
}

TEST(LogBookStatistics, YearsAndMonthsCountOnlyTheListedFlights)
{
    const LogBookStatistics statistics(sample());
    ASSERT_EQ(statistics.years().size(), 2u);
    struct Row {
        int year, month; // month 0: the year's own row
        std::int64_t flights, seconds;
        double metres, points;
        std::int64_t scored;
        std::int64_t analysed, thermals;
        double gain, climb;
    };
    const Row rows[] = {
        { 2023, 0, 4, 11400, 66000, 43.5, 3, 3, 8, 1800, 1.8 },
        { 2024, 0, 1, 7200, 60000, 50, 1, 0, 0, 0, 0 },
        { 2023, 1, 1, 3600, 20000, 12.5, 1, 1, 3, 600, 1.5 },
        { 2023, 2, 2, 7200, 45000, 30, 1, 1, 5, 1200, 2.0 },
        { 2023, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0 },
        { 2023, 12, 1, 600, 1000, 1, 1, 1, 0, 0, 0 },
        { 2024, 1, 1, 7200, 60000, 50, 1, 0, 0, 0, 0 },
        { 2022, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0 },
    };
    for (const Row& row : rows) {
        const PeriodStatistics period = row.month == 0
            ? statistics.years()[row.year - 2023]
            : statistics.months(row.year)[row.month - 1];
        SCOPED_TRACE(std::to_string(row.year) + "-" + std::to_string(row.month));
        EXPECT_EQ(period.year, row.year);
        EXPECT_EQ(period.month, row.month);
        EXPECT_EQ(period.flights, row.flights);
        EXPECT_EQ(period.seconds, row.seconds);
        EXPECT_DOUBLE_EQ(period.trackMetres, row.metres);
        EXPECT_DOUBLE_EQ(period.points, row.points);
        EXPECT_EQ(period.scored, row.scored);
        EXPECT_EQ(period.analysed, row.analysed);
        EXPECT_EQ(period.thermals, row.thermals);
        EXPECT_DOUBLE_EQ(period.thermalGainMetres, row.gain);
        EXPECT_NEAR(period.averageClimbMs(), row.climb, 1e-9) << "over the time in thermals, not an average of averages";
    }
    const PeriodStatistics total = statistics.total();
    EXPECT_EQ(total.flights, 5);
    EXPECT_DOUBLE_EQ(total.value(StatisticsMeasure::Hours), 18600 / 3600.0);
    EXPECT_DOUBLE_EQ(total.value(StatisticsMeasure::Kilometres), 126);
    EXPECT_DOUBLE_EQ(total.value(StatisticsMeasure::Points), 93.5);
    EXPECT_DOUBLE_EQ(total.value(StatisticsMeasure::Flights), 5);
    EXPECT_DOUBLE_EQ(total.value(StatisticsMeasure::Thermals), 8);
    EXPECT_DOUBLE_EQ(total.value(StatisticsMeasure::ThermalGain), 1800);
    EXPECT_NEAR(total.value(StatisticsMeasure::AverageClimb), 1.8, 1e-9);
    EXPECT_TRUE(LogBookStatistics(std::vector<LibraryFlight> {}).empty());
    EXPECT_EQ(LogBookStatistics(std::vector<LibraryFlight> {}).months(2023).size(), 12u);
}

TEST(LogBookStatistics, EntriesAreNumberedOverEveryYearOldestFirst)
{
    struct Case {
        std::optional<int> year;
        std::vector<std::int64_t> ids;
        std::vector<int> numbers;
    };
    const Case cases[] = {
        { std::nullopt, { 1, 2, 3, 4, 5 }, { 1, 2, 3, 4, 5 } },
        { 2023, { 1, 2, 3, 4 }, { 1, 2, 3, 4 } },
        { 2024, { 5 }, { 5 } },
        { 2025, {}, {} },
    };
    auto flights = sample();
    std::reverse(flights.begin(), flights.end()); // the index lists them newest first
    for (const Case& c : cases) {
        const auto entries = logBookEntries(flights, c.year);
        ASSERT_EQ(entries.size(), c.ids.size());
        for (std::size_t i = 0; i < entries.size(); ++i) {
            EXPECT_EQ(entries[i].glider, "Glider " + std::to_string(c.ids[i]));
            EXPECT_EQ(entries[i].site, "Site " + std::to_string(c.ids[i]));
            EXPECT_EQ(entries[i].number, c.numbers[i]);
        }
    }
}

TEST(LogBookStatistics, SheetsCarryTheirSumsForward)
{
    const auto entries = logBookEntries(sample());
    struct Case {
        std::size_t rows;
        std::vector<std::size_t> counts;
    };
    const Case cases[] = { { 2, { 2, 2, 1 } }, { 5, { 5 } }, { 10, { 5 } }, { 0, { 1, 1, 1, 1, 1 } } };
    for (const Case& c : cases) {
        const auto pages = logBookPages(entries, c.rows);
        ASSERT_EQ(pages.size(), c.counts.size()) << c.rows;
        LogBookSums before;
        std::size_t first = 0;
        for (std::size_t p = 0; p < pages.size(); ++p) {
            EXPECT_EQ(pages[p].first, first);
            EXPECT_EQ(pages[p].count, c.counts[p]);
            EXPECT_EQ(pages[p].broughtForward.flights, before.flights);
            EXPECT_EQ(pages[p].broughtForward.seconds, before.seconds);
            before = pages[p].carriedForward;
            first += pages[p].count;
        }
        EXPECT_EQ(before.flights, 5);
        EXPECT_EQ(before.seconds, 18600);
        EXPECT_DOUBLE_EQ(before.trackMetres, 126000);
    }
    const auto empty = logBookPages({}, 30);
    ASSERT_EQ(empty.size(), 1u);
    EXPECT_EQ(empty[0].count, 0u);
    EXPECT_EQ(empty[0].carriedForward.flights, 0);
}

TEST(LogBookStatistics, PilotIsTheNameMostFlightsCarry)
{
    auto flights = sample();
    for (std::size_t i = 0; i < flights.size(); ++i)
        flights[i].pilot = i < 2 ? "Ann Doe" : "Bo Roe";
    EXPECT_EQ(logBookPilot(flights), "Bo Roe");
    for (auto& f : flights)
        if (f.pilot == "Bo Roe")
            f.pilot.clear();
    EXPECT_EQ(logBookPilot(flights), "Ann Doe");
    EXPECT_EQ(logBookPilot({}), "");
}

} // namespace
