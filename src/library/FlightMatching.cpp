#include "library/FlightMatching.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <numbers>
#include <string>
#include <tuple>

namespace corvex::library {

namespace {

// Two recorders in one harness stay within metres; a phone in a pocket within tens.
// A kilometre leaves room for a slow fix rate in a fast glide.
constexpr double sameTrackMetres = 1000;
// How many of the compared fixes must lie that close: "most", with room for a phone
// that lost its fix in a thermal for a while.
constexpr double sameTrackShare = 0.8;
// A fix of the other file further away in time than this compares with nothing.
constexpr std::int64_t nearestFixSeconds = 30;
// Enough fixes to judge a track by, spread evenly, however long the flight.
constexpr std::size_t comparedFixes = 300;

std::string folded(std::string_view text)
{
    std::string out;
    for (const char c : text)
        if (!std::isspace(static_cast<unsigned char>(c)))
            out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Close enough at a kilometre: the error of a flat earth over that distance is far below
// the threshold.
double metresBetween(const flights::IgcFix& a, const flights::IgcFix& b)
{
    constexpr double metresPerDegree = 111195;
    const double latitude = (a.latitude + b.latitude) / 2 * std::numbers::pi / 180;
    const double north = (a.latitude - b.latitude) * metresPerDegree;
    double east = a.longitude - b.longitude;
    if (east > 180)
        east -= 360;
    else if (east < -180)
        east += 360;
    east *= metresPerDegree * std::cos(latitude);
    return std::hypot(north, east);
}

const flights::IgcFix* nearestValidFix(const std::vector<flights::IgcFix>& fixes, std::int64_t time)
{
    const auto at = std::lower_bound(
        fixes.begin(), fixes.end(), time, [](const flights::IgcFix& fix, std::int64_t t) { return fix.time < t; });
    const flights::IgcFix* best = nullptr;
    // The nearest valid fix on either side; a few invalid ones in between are skipped.
    for (auto it = at; it != fixes.end() && it->time - time <= nearestFixSeconds; ++it)
        if (it->valid) {
            best = &*it;
            break;
        }
    for (auto it = at; it != fixes.begin();) {
        --it;
        if (time - it->time > nearestFixSeconds)
            break;
        if (it->valid) {
            if (!best || time - it->time < best->time - time)
                best = &*it;
            break;
        }
    }
    return best;
}

} // namespace

RecordingFacts recordingFacts(const flights::IgcFlight& igc, std::int64_t takeoff, std::int64_t landing, bool pressure)
{
    RecordingFacts facts;
    facts.takeoff = takeoff;
    facts.landing = landing;
    facts.fixes = static_cast<std::int64_t>(igc.fixes.size());
    if (!igc.fixes.empty()) {
        facts.firstFix = igc.fixes.front().time;
        facts.lastFix = igc.fixes.back().time;
    }
    for (const flights::IgcFix& fix : igc.fixes) {
        facts.firstFix = std::min(facts.firstFix, fix.time);
        facts.lastFix = std::max(facts.lastFix, fix.time);
        if (fix.time >= takeoff && fix.time <= landing)
            ++facts.fixesInFlight;
    }
    facts.pressure = pressure;
    facts.signedFile = !igc.securityLines.empty();
    return facts;
}

bool holdsMore(const RecordingFacts& copy, const RecordingFacts& kept)
{
    return std::tuple(copy.lastFix - copy.firstFix, copy.fixes, copy.signedFile)
        > std::tuple(kept.lastFix - kept.firstFix, kept.fixes, kept.signedFile);
}

int compareRecordings(const RecordingFacts& a, const RecordingFacts& b)
{
    const auto key = [](const RecordingFacts& facts) { return std::tuple(facts.pressure, facts.fixesInFlight, facts.signedFile); };
    if (key(a) > key(b))
        return 1;
    if (key(b) > key(a))
        return -1;
    return 0;
}

bool samePilot(std::string_view a, std::string_view b)
{
    const std::string left = folded(a), right = folded(b);
    return left.empty() || right.empty() || left == right;
}

bool mostlyOverlapping(std::int64_t takeoffA, std::int64_t landingA, std::int64_t takeoffB, std::int64_t landingB)
{
    const std::int64_t overlap = std::min(landingA, landingB) - std::max(takeoffA, takeoffB);
    const std::int64_t shorter = std::min(landingA - takeoffA, landingB - takeoffB);
    if (overlap < 0)
        return false;
    // A flight of no length (a few fixes that never moved) overlaps where it touches.
    return 2 * overlap > shorter || shorter <= 0;
}

bool sameTrack(const flights::IgcFlight& a, const flights::IgcFlight& b, std::int64_t from, std::int64_t to)
{
    const auto first = std::lower_bound(
        a.fixes.begin(), a.fixes.end(), from, [](const flights::IgcFix& fix, std::int64_t t) { return fix.time < t; });
    const auto last = std::upper_bound(
        a.fixes.begin(), a.fixes.end(), to, [](std::int64_t t, const flights::IgcFix& fix) { return t < fix.time; });
    if (first >= last)
        return false;
    const std::size_t count = static_cast<std::size_t>(last - first);
    const std::size_t stride = std::max<std::size_t>(1, count / comparedFixes);
    std::size_t compared = 0, close = 0;
    for (auto it = first; it < last; it += static_cast<std::ptrdiff_t>(std::min(stride, static_cast<std::size_t>(last - it)))) {
        if (!it->valid)
            continue;
        ++compared;
        const flights::IgcFix* other = nearestValidFix(b.fixes, it->time);
        if (other && metresBetween(*it, *other) <= sameTrackMetres)
            ++close;
    }
    return compared > 0 && static_cast<double>(close) >= sameTrackShare * static_cast<double>(compared);
}

} // namespace corvex::library
