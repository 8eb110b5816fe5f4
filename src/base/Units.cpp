#include "base/Units.h"

#include "base/Format.h"

#include <cmath>
#include <cstdlib>
#include <ctime>

namespace corvex {

namespace {

constexpr double metresPerFoot = 0.3048;
constexpr double metresPerMile = 1609.344;
constexpr double metresPerNauticalMile = 1852.0;

bool sameWord(std::string_view text, std::string_view word)
{
    if (text.size() != word.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
        if (c != word[i])
            return false;
    }
    return true;
}

} // namespace

std::optional<UnitSystem> parseUnitSystem(std::string_view name)
{
    for (const UnitSystem units : { UnitSystem::Metric, UnitSystem::Imperial, UnitSystem::Aviation })
        if (sameWord(name, unitSystemName(units)))
            return units;
    return std::nullopt;
}

const char* unitSystemName(UnitSystem units)
{
    switch (units) {
    case UnitSystem::Metric:
        return "metric";
    case UnitSystem::Imperial:
        return "imperial";
    case UnitSystem::Aviation:
        return "aviation";
    }
    return "metric";
}

double convertedValue(Quantity quantity, double si, UnitSystem units)
{
    switch (quantity) {
    case Quantity::Altitude:
        return units == UnitSystem::Metric ? si : si / metresPerFoot;
    case Quantity::Speed:
        if (units == UnitSystem::Metric)
            return si * 3.6;
        return units == UnitSystem::Imperial ? si * 3600 / metresPerMile : si * 3600 / metresPerNauticalMile;
    case Quantity::Vario:
        if (units == UnitSystem::Metric)
            return si;
        return units == UnitSystem::Imperial ? si * 60 / metresPerFoot : si * 3600 / metresPerNauticalMile;
    case Quantity::Distance:
        if (units == UnitSystem::Metric)
            return si / 1000;
        return units == UnitSystem::Imperial ? si / metresPerMile : si / metresPerNauticalMile;
    }
    return si;
}

const char* unitLabel(Quantity quantity, UnitSystem units)
{
    const int column = static_cast<int>(units);
    static constexpr const char* labels[4][3] = {
        { "m", "ft", "ft" },
        { "km/h", "mph", "kt" },
        { "m/s", "ft/min", "kt" },
        { "km", "mi", "NM" },
    };
    return labels[static_cast<int>(quantity)][column];
}

int unitDecimals(Quantity quantity, UnitSystem units)
{
    switch (quantity) {
    case Quantity::Altitude:
    case Quantity::Speed:
        return 0;
    case Quantity::Vario:
        return units == UnitSystem::Imperial ? 0 : 1;
    case Quantity::Distance:
        return 1;
    }
    return 0;
}

std::string quantityNumber(Quantity quantity, double si, UnitSystem units)
{
    const int decimals = unitDecimals(quantity, units);
    const double value = convertedValue(quantity, si, units);
    std::string text = formatString("%.*f", decimals, value);
    // A small sink rounds to "-0.0", which reads as a fault.
    if (text.front() == '-' && text.find_first_not_of("-0.") == std::string::npos)
        text.erase(0, 1);
    return text;
}

std::string quantityText(Quantity quantity, double si, UnitSystem units)
{
    return quantityNumber(quantity, si, units) + " " + unitLabel(quantity, units);
}

int localOffsetMinutes(std::int64_t utc, std::optional<int> fileOffsetMinutes)
{
    if (fileOffsetMinutes)
        return *fileOffsetMinutes;
    const auto when = static_cast<std::time_t>(utc);
    std::tm local {};
    if (!::localtime_r(&when, &local))
        return 0;
    return static_cast<int>(local.tm_gmtoff / 60);
}

std::string utcOffsetText(int offsetMinutes)
{
    const int minutes = std::abs(offsetMinutes);
    return formatString("%c%02d:%02d", offsetMinutes < 0 ? '-' : '+', minutes / 60 % 100, minutes % 60);
}

std::string localMinuteText(std::int64_t utc, int offsetMinutes)
{
    return utcTimeText(utc + std::int64_t { offsetMinutes } * 60, "%Y-%m-%d %H:%M") + " " + utcOffsetText(offsetMinutes);
}

} // namespace corvex
