#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvex {

// The units a pilot reads figures in. Everything is stored and computed in SI (metres,
// metres per second); only the text for people changes.
//   Metric:   m,  km/h, m/s,    km
//   Imperial: ft, mph,  ft/min, mi
//   Aviation: ft, kt,   kt,     NM
enum class UnitSystem { Metric, Imperial, Aviation };

// "metric", "imperial", "aviation" (any case); nothing for another word.
std::optional<UnitSystem> parseUnitSystem(std::string_view name);
const char* unitSystemName(UnitSystem units);

enum class Quantity {
    Altitude, // metres
    Speed, // metres per second, over the ground or through the air
    Vario, // metres per second, up or down
    Distance, // metres
};

// The SI value in the units' own unit for the quantity.
double convertedValue(Quantity quantity, double si, UnitSystem units);
// "m", "ft", "km/h", "mph", "kt", "m/s", "ft/min", "km", "mi", "NM".
const char* unitLabel(Quantity quantity, UnitSystem units);
// How many decimals the figure is shown with: whole metres and feet, km/h, mph and
// ft/min; one decimal for m/s, knots of climb and every distance.
int unitDecimals(Quantity quantity, UnitSystem units);
// The converted value with its decimals and no unit ("1234", "12.3"); "-0.0" is
// written "0.0".
std::string quantityNumber(Quantity quantity, double si, UnitSystem units);
// The same with its unit after a space: "4049 ft", "12.3 km", "2.4 kt".
std::string quantityText(Quantity quantity, double si, UnitSystem units);

// The offset from UTC, in minutes, that the take-off's local time has: the file's own
// (an IGC file's time-zone header) where it gives one, else the computer's zone's on
// that date.
int localOffsetMinutes(std::int64_t utc, std::optional<int> fileOffsetMinutes);
// "+02:00", "-03:30", "+00:00".
std::string utcOffsetText(int offsetMinutes);
// "2024-10-07 13:34 +02:00": the minute at that offset, with the offset.
std::string localMinuteText(std::int64_t utc, int offsetMinutes);

} // namespace corvex
