#include "device/FlightRecord.h"

namespace corvex {

namespace {

// Days from 1970-01-01 of a proleptic Gregorian date (month 1-12, any day).
std::int64_t daysFromCivil(std::int64_t year, std::int64_t month, std::int64_t day)
{
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

std::int64_t floorDivide(std::int64_t value, std::int64_t divisor)
{
    std::int64_t quotient = value / divisor;
    if ((value % divisor != 0) && ((value < 0) != (divisor < 0)))
        --quotient;
    return quotient;
}

} // namespace

std::int64_t FlightRecord::launchMinutesSince2000() const
{
    // Carry surplus or missing months into the year first, then let days, hours and
    // minutes overflow naturally by counting them from the first of the month.
    const std::int64_t monthIndex = static_cast<std::int64_t>(month) - 1;
    const std::int64_t fullYear = 2000 + static_cast<std::int64_t>(year) + floorDivide(monthIndex, 12);
    const std::int64_t normalizedMonth = monthIndex - floorDivide(monthIndex, 12) * 12 + 1;
    const std::int64_t days = daysFromCivil(fullYear, normalizedMonth, 1) - daysFromCivil(2000, 1, 1)
        + static_cast<std::int64_t>(day) - 1;
    return days * 24 * 60 + static_cast<std::int64_t>(hour) * 60 + minute;
}

} // namespace corvex
