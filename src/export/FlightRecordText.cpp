#include "export/FlightRecordText.h"

#include "device/LogBookCodec.h"
#include "platform/LogSink.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace corvex {

namespace {

// Truncation toward zero. Values outside the integer range (never produced by the
// instrument's 16-bit fields, but a record is a plain struct anyone can fill) saturate
// instead of being undefined behaviour; NaN becomes 0.
long long truncated(double value)
{
    if (std::isnan(value))
        return 0;
    constexpr double lowest = static_cast<double>(std::numeric_limits<std::int32_t>::min());
    constexpr double highest = static_cast<double>(std::numeric_limits<std::int32_t>::max());
    if (value <= lowest)
        return std::numeric_limits<std::int32_t>::min();
    if (value >= highest)
        return std::numeric_limits<std::int32_t>::max();
    return static_cast<long long>(value);
}

std::string dateText(const FlightRecord& record)
{
    if (record.dayComesBeforeMonthDateFormat)
        return formatString("%d/%d/%d", record.day, record.month, record.year);
    return formatString("%d/%d/%d", record.month, record.day, record.year);
}

// Metres per second with one decimal, or feet per minute as a whole multiple of ten.
std::string verticalSpeedText(double value, bool useMetersVerticalSpeedRounding)
{
    if (useMetersVerticalSpeedRounding)
        return formatString("%0.1f", static_cast<double>(truncated(value)) / 10);
    return formatString("%lld", truncated(value / 10 / 10) * 10);
}

// Degrees and minutes with two decimals of the minute, minutes truncated: 46.5 is
// "46.30.00". The angle is taken back to the instrument's integers first, so that a
// value like 46°30.00' never shows as 46.29.99.
std::string coordinateText(double degrees)
{
    const DegreesMinutes angle = degreesMinutesOf(degrees);
    return formatString("%s%lld.%02d.%02d", angle.negative ? "-" : "", angle.degrees, angle.minutes,
        angle.minuteTenThousandths / 100);
}

} // namespace

std::string recordStringTitle(const FlightRecord& record)
{
    return formatString("%d: %02d-%02d-%02d    %02d:%02d", record.flightNumber, record.year, record.month, record.day,
        record.hour, record.minute);
}

std::string recordCsvStringTitle()
{
    return "flightnumber,date,time,duration,start altitude,end altitude,max altitude,max distance,max lift, avg "
           "Lift,max sink,max temp,min temp,max ground speed,max wind speed,launch lat,launch long,landing lat,"
           "landing lon";
}

std::string recordCsvString(const FlightRecord& record)
{
    const long long durationMinutes = truncated(record.duration / 60);
    const long long durationSeconds = truncated(record.duration) % 60;
    const bool metric = record.useMetersVerticalSpeedRounding;
    return formatString("%d,%s,%02d:%02d,%lld:%02lld,%d,%d,%d,%0.2f,%s,%s,%s,%d,%d,%0.1f,%0.1f,%s,%s,%s,%s",
        record.flightNumber, dateText(record).c_str(), record.hour, record.minute, durationMinutes, durationSeconds,
        record.startAltitude, record.endAltitude, record.maxAltitude,
        static_cast<double>(truncated(record.maxDistance)) / 100,
        verticalSpeedText(record.maxLift, metric).c_str(), verticalSpeedText(record.avgLift, metric).c_str(),
        verticalSpeedText(record.maxSink, metric).c_str(), record.maxTemperature, record.minTemperature,
        record.maxGroundSpeed / 10, record.maxWindSpeed / 10, coordinateText(record.launchLatitude).c_str(),
        coordinateText(record.launchLongitude).c_str(), coordinateText(record.landingLatitude).c_str(),
        coordinateText(record.landingLongitude).c_str());
}

std::string description(const FlightRecord& record)
{
    return recordCsvString(record);
}

} // namespace corvex
