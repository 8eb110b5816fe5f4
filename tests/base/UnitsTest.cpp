#include "base/Units.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace corvex {
namespace {

struct Shown {
    Quantity quantity;
    double si;
    UnitSystem units;
    const char* text;
};

// A 1234 m climb-out, 36 km/h, 2.5 m/s, 100 km, in each system.
const Shown shown[] = {
    { Quantity::Altitude, 1234, UnitSystem::Metric, "1234 m" },
    { Quantity::Altitude, 1234, UnitSystem::Imperial, "4049 ft" },
    { Quantity::Altitude, 1234, UnitSystem::Aviation, "4049 ft" },
    { Quantity::Altitude, -12, UnitSystem::Imperial, "-39 ft" },
    { Quantity::Speed, 10, UnitSystem::Metric, "36 km/h" },
    { Quantity::Speed, 10, UnitSystem::Imperial, "22 mph" },
    { Quantity::Speed, 10, UnitSystem::Aviation, "19 kt" },
    { Quantity::Vario, 2.5, UnitSystem::Metric, "2.5 m/s" },
    { Quantity::Vario, 2.5, UnitSystem::Imperial, "492 ft/min" },
    { Quantity::Vario, 2.5, UnitSystem::Aviation, "4.9 kt" },
    { Quantity::Vario, -0.02, UnitSystem::Metric, "0.0 m/s" },
    { Quantity::Vario, -3.1, UnitSystem::Metric, "-3.1 m/s" },
    { Quantity::Distance, 100000, UnitSystem::Metric, "100.0 km" },
    { Quantity::Distance, 100000, UnitSystem::Imperial, "62.1 mi" },
    { Quantity::Distance, 100000, UnitSystem::Aviation, "54.0 NM" },
    { Quantity::Distance, 0, UnitSystem::Aviation, "0.0 NM" },
};

TEST(Units, ConvertsAndLabelsEachQuantity)
{
    for (const Shown& row : shown)
        EXPECT_EQ(quantityText(row.quantity, row.si, row.units), row.text)
            << unitSystemName(row.units) << " " << static_cast<int>(row.quantity);
    // One foot, one statute and one nautical mile exactly.
    EXPECT_DOUBLE_EQ(convertedValue(Quantity::Altitude, 0.3048, UnitSystem::Imperial), 1.0);
    EXPECT_DOUBLE_EQ(convertedValue(Quantity::Distance, 1609.344, UnitSystem::Imperial), 1.0);
    EXPECT_DOUBLE_EQ(convertedValue(Quantity::Distance, 1852, UnitSystem::Aviation), 1.0);
    EXPECT_DOUBLE_EQ(convertedValue(Quantity::Speed, 1852.0 / 3600, UnitSystem::Aviation), 1.0);
}

TEST(Units, NamesReadBackAndOtherWordsAreRefused)
{
    for (const UnitSystem units : { UnitSystem::Metric, UnitSystem::Imperial, UnitSystem::Aviation })
        EXPECT_EQ(parseUnitSystem(unitSystemName(units)), units);
    EXPECT_EQ(parseUnitSystem("IMPERIAL"), UnitSystem::Imperial);
    for (const char* word : { "", "feet", "metric ", "aviatio", "metrics" })
        EXPECT_FALSE(parseUnitSystem(word)) << word;
}

TEST(Units, LocalMinuteCarriesItsOffset)
{
    // 2024-10-07 11:34 UTC.
    const std::int64_t utc = 1728300840;
    struct Case {
        int offset;
        const char* text;
    };
    for (const Case& c : { Case { 120, "2024-10-07 13:34 +02:00" }, Case { -210, "2024-10-07 08:04 -03:30" },
             Case { 0, "2024-10-07 11:34 +00:00" }, Case { 765, "2024-10-08 00:19 +12:45" } })
        EXPECT_EQ(localMinuteText(utc, c.offset), c.text);
    // The file's offset wins over the computer's zone.
    EXPECT_EQ(localOffsetMinutes(utc, -300), -300);
    const char* was = std::getenv("TZ");
    const std::string before = was ? was : "";
    setenv("TZ", "Europe/Zurich", 1);
    tzset();
    EXPECT_EQ(localOffsetMinutes(utc, std::nullopt), 120);
    EXPECT_EQ(localOffsetMinutes(1704067200, std::nullopt), 60); // January: winter time
    if (was)
        setenv("TZ", before.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

} // namespace
} // namespace corvex
