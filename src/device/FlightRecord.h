#pragma once

#include <cstdint>
#include <string>

namespace corvex {

// One log-book entry as the instrument reports it. Values are in the units the
// instrument is set to (the full list converts them); the short list fills only the
// date, time, flight number and duration.
struct FlightRecord {
    std::int32_t year { 0 }; // two digits, years since 2000
    std::int32_t month { 0 };
    std::int32_t day { 0 };
    std::int32_t hour { 0 };
    std::int32_t minute { 0 };
    std::int32_t flightNumber { 0 };
    double duration { 0 }; // seconds
    std::int32_t startAltitude { 0 };
    std::int32_t endAltitude { 0 };
    std::int32_t maxAltitude { 0 };
    double maxDistance { 0 };
    double maxLift { 0 };
    double avgLift { 0 };
    double maxSink { 0 };
    std::int32_t maxTemperature { 0 };
    std::int32_t minTemperature { 0 };
    double launchLatitude { 0 };
    double launchLongitude { 0 };
    double landingLatitude { 0 };
    double landingLongitude { 0 };
    double maxGroundSpeed { 0 };
    double maxWindSpeed { 0 };
    bool dayComesBeforeMonthDateFormat { false };
    bool useMetersVerticalSpeedRounding { false };

    // Minutes since 2000-01-01 00:00 UTC of the launch, for sorting. Calendar fields out
    // of range carry over as a calendar would (month 13 is January of the next year,
    // day 0 the last day of the month before), so any record gets a sensible place.
    std::int64_t launchMinutesSince2000() const;
};

} // namespace corvex
