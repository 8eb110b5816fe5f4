#include "analysis/AirspaceCheck.h"

#include "geo/GeoPoint.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace corvex::analysis {

namespace {

using openair::Airspace;
using openair::Altitude;
using Reference = Altitude::Reference;

constexpr double metresPerFoot = 0.3048;

// Whether a fix is within one limit: surely, surely not, or not knowable from the file.
enum class Within : std::uint8_t { Yes, No, Unknown };

struct Altitudes {
    double gnss { 0 }, pressure { 0 };
    bool haveGnss { true }, havePressure { true };
    // MSL limits by GNSS altitude, flight levels by pressure altitude (the recorder's
    // standard-atmosphere altitude); each falls back to the other.
    double forMeanSeaLevel() const { return haveGnss || !havePressure ? gnss : pressure; }
    double forFlightLevel() const { return havePressure || !haveGnss ? pressure : gnss; }
};

struct LimitCheck {
    Within within { Within::Yes };
    std::optional<double> margin; // metres on the right side of the limit (negative: outside)
};

LimitCheck checkFloor(const Altitude& floor, const Altitudes& altitudes)
{
    switch (floor.reference) {
    case Reference::MeanSeaLevel: {
        const double margin = altitudes.forMeanSeaLevel() - floor.feet * metresPerFoot;
        return { margin >= 0 ? Within::Yes : Within::No, margin };
    }
    case Reference::StandardPressure: {
        const double margin = altitudes.forFlightLevel() - floor.feet * metresPerFoot;
        return { margin >= 0 ? Within::Yes : Within::No, margin };
    }
    case Reference::Ground:
        if (floor.feet <= 0)
            return { Within::Yes, std::nullopt };
        // The ground is at or above sea level almost everywhere a glider flies, so a fix
        // lower above the sea than the floor is above the ground is surely below it.
        if (altitudes.forMeanSeaLevel() < floor.feet * metresPerFoot)
            return { Within::No, std::nullopt };
        return { Within::Unknown, std::nullopt };
    case Reference::Unlimited:
        return { Within::No, std::nullopt };
    case Reference::Unspecified:
        return { Within::Unknown, std::nullopt };
    }
    return { Within::Unknown, std::nullopt };
}

LimitCheck checkCeiling(const Altitude& ceiling, const Altitudes& altitudes)
{
    switch (ceiling.reference) {
    case Reference::MeanSeaLevel: {
        const double margin = ceiling.feet * metresPerFoot - altitudes.forMeanSeaLevel();
        return { margin >= 0 ? Within::Yes : Within::No, margin };
    }
    case Reference::StandardPressure: {
        const double margin = ceiling.feet * metresPerFoot - altitudes.forFlightLevel();
        return { margin >= 0 ? Within::Yes : Within::No, margin };
    }
    case Reference::Ground:
        // Above ground by at most the height above the sea: surely below a ceiling that
        // high, otherwise it depends on the ground.
        if (altitudes.forMeanSeaLevel() <= ceiling.feet * metresPerFoot)
            return { Within::Yes, std::nullopt };
        return { Within::Unknown, std::nullopt };
    case Reference::Unlimited:
        return { Within::Yes, std::nullopt };
    case Reference::Unspecified:
        return { Within::Unknown, std::nullopt };
    }
    return { Within::Unknown, std::nullopt };
}

std::string limitReason(const char* which, const Altitude& limit)
{
    if (limit.reference == Reference::Unspecified)
        return std::string("the ") + which + " \"" + limit.text + "\" is not a height the check can compare";
    return std::string("the ") + which + " \"" + limit.text
        + "\" is above ground and the flight file does not say how high the ground is";
}

std::string altitudeNote(const Airspace& airspace, const Altitudes& used)
{
    const auto uses = [&](Reference reference) {
        return airspace.floor.reference == reference || airspace.ceiling.reference == reference;
    };
    // A ground floor compares nothing; a height above ground is bounded by the height
    // above the sea.
    const bool aboveGround = (airspace.floor.reference == Reference::Ground && airspace.floor.feet > 0)
        || airspace.ceiling.reference == Reference::Ground;
    std::string note;
    if (uses(Reference::MeanSeaLevel) || aboveGround)
        note = used.haveGnss || !used.havePressure ? "GNSS altitude against heights above sea level"
                                                    : "pressure altitude against heights above sea level (no GNSS altitude)";
    if (uses(Reference::StandardPressure)) {
        if (!note.empty())
            note += "; ";
        note += used.havePressure || !used.haveGnss ? "pressure altitude against flight levels"
                                                    : "GNSS altitude against flight levels (no pressure altitude)";
    }
    return note;
}

} // namespace

bool insideOutline(const std::vector<GeoPoint>& outline, double latitude, double longitude)
{
    return OutlineShape(outline, std::numeric_limits<std::size_t>::max()).contains(latitude, longitude);
}

double distanceToOutlineEdge(const std::vector<GeoPoint>& outline, double latitude, double longitude)
{
    return OutlineShape(outline, std::numeric_limits<std::size_t>::max()).distanceToEdge(latitude, longitude);
}

AirspaceIndex::AirspaceIndex(const std::vector<openair::Airspace>& airspaces, std::size_t indexFrom)
    : m_airspaces(&airspaces)
    , m_boxes(airspaces.size())
    , m_shapes(airspaces.size())
    , m_indexFrom(indexFrom)
    , m_usable(airspaces.size(), false)
    , m_cells(static_cast<std::size_t>(cellColumns * cellRows))
{
    for (std::size_t i = 0; i < airspaces.size(); ++i) {
        const auto& outline = airspaces[i].outline;
        if (outline.size() < 3)
            continue;
        const OutlineShape& shape = m_shapes[i] = OutlineShape(outline, std::numeric_limits<std::size_t>::max());
        const Box box { shape.south(), shape.west(), shape.north(), shape.east() };
        m_boxes[i] = box;
        m_usable[i] = true;
        const int row0 = std::clamp(static_cast<int>(std::floor(box.south + 90)), 0, cellRows - 1);
        const int row1 = std::clamp(static_cast<int>(std::floor(box.north + 90)), 0, cellRows - 1);
        const int column0 = std::clamp(static_cast<int>(std::floor(box.west + 180)), 0, cellColumns - 1);
        const int column1 = std::clamp(static_cast<int>(std::floor(box.east + 180)), 0, cellColumns - 1);
        for (int row = row0; row <= row1; ++row)
            for (int column = column0; column <= column1; ++column)
                m_cells[static_cast<std::size_t>(row * cellColumns + column)].push_back(i);
    }
}

AirspaceIndex::AirspaceIndex(const openair::ParseResult& parsed, std::size_t indexFrom)
    : AirspaceIndex(parsed.airspaces, indexFrom)
{
    const auto& airspaces = parsed.airspaces;
    m_unreadLines.assign(airspaces.size(), 0);
    for (const auto& error : parsed.errors) {
        // The airspace whose block holds the line: the last one starting at or before it.
        const auto after = std::upper_bound(airspaces.begin(), airspaces.end(), error.line,
            [](std::size_t line, const openair::Airspace& airspace) { return line < airspace.line; });
        if (after == airspaces.begin())
            continue;
        std::size_t& unread = m_unreadLines[static_cast<std::size_t>(after - airspaces.begin()) - 1];
        if (unread == 0)
            unread = error.line;
    }
}

std::vector<std::size_t> AirspaceIndex::overlapping(double south, double west, double north, double east) const
{
    std::vector<std::size_t> found;
    const int row0 = std::clamp(static_cast<int>(std::floor(south + 90)), 0, cellRows - 1);
    const int row1 = std::clamp(static_cast<int>(std::floor(north + 90)), 0, cellRows - 1);
    const int column0 = std::clamp(static_cast<int>(std::floor(west + 180)), 0, cellColumns - 1);
    const int column1 = std::clamp(static_cast<int>(std::floor(east + 180)), 0, cellColumns - 1);
    for (int row = row0; row <= row1; ++row)
        for (int column = column0; column <= column1; ++column)
            for (const std::size_t i : m_cells[static_cast<std::size_t>(row * cellColumns + column)]) {
                const Box& box = m_boxes[i];
                if (box.south <= north && box.north >= south && box.west <= east && box.east >= west)
                    found.push_back(i);
            }
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found;
}

AirspaceCheck checkAirspaces(const flights::IgcFlight& flight, const std::vector<openair::Airspace>& airspaces)
{
    return checkAirspaces(flight, AirspaceIndex(airspaces));
}

AirspaceCheck checkAirspaces(const flights::IgcFlight& flight, const openair::ParseResult& parsed)
{
    return checkAirspaces(flight, AirspaceIndex(parsed));
}

AirspaceCheck checkAirspaces(const flights::IgcFlight& flight, const AirspaceIndex& index)
{
    AirspaceCheck check;
    const auto& fixes = flight.fixes;
    // A recorder without one of the sensors writes zeros throughout.
    Altitudes sensors;
    sensors.haveGnss = std::any_of(fixes.begin(), fixes.end(), [](const auto& fix) { return fix.gnssAltitude != 0; });
    sensors.havePressure = std::any_of(fixes.begin(), fixes.end(), [](const auto& fix) { return fix.pressureAltitude != 0; });
    if (!sensors.havePressure && sensors.haveGnss)
        check.notes.push_back("no pressure altitude in the file: GNSS altitude compared with flight levels");
    if (!sensors.haveGnss && sensors.havePressure)
        check.notes.push_back("no GNSS altitude in the file: pressure altitude compared with heights above sea level");

    // The track's own box first: only the airspaces near the flight are looked at.
    bool anyValid = false;
    double south = 90, north = -90, west = 180, east = -180;
    for (const auto& fix : fixes) {
        if (!fix.valid)
            continue;
        anyValid = true;
        south = std::min(south, fix.latitude);
        north = std::max(north, fix.latitude);
        west = std::min(west, fix.longitude);
        east = std::max(east, fix.longitude);
    }
    if (!anyValid)
        return check;
    const std::vector<std::size_t> near = index.overlapping(south, west, north, east);
    if (near.empty())
        return check;

    // The long outlines near the flight with their trees of edges; only these are read
    // fix after fix.
    const auto& airspaces = index.airspaces();
    std::vector<OutlineShape> trees;
    trees.reserve(near.size());
    std::vector<const OutlineShape*> shapes(airspaces.size(), nullptr);
    for (const std::size_t i : near) {
        if (airspaces[i].outline.size() >= index.indexFrom()) {
            trees.emplace_back(airspaces[i].outline, index.indexFrom());
            shapes[i] = &trees.back();
        } else {
            shapes[i] = &index.shape(i);
        }
    }

    // A finer grid over the track's box, each cell with the nearby airspaces over it.
    constexpr int gridSide = 64;
    const double cellHeight = std::max((north - south) / gridSide, 1e-9);
    const double cellWidth = std::max((east - west) / gridSide, 1e-9);
    const auto cellOf = [&](double value, double origin, double size) {
        return std::clamp(static_cast<int>((value - origin) / size), 0, gridSide - 1);
    };
    std::vector<std::vector<std::size_t>> cells(gridSide * gridSide);
    for (const std::size_t i : near) {
        const auto& box = index.box(i);
        for (int row = cellOf(box.south, south, cellHeight); row <= cellOf(box.north, south, cellHeight); ++row)
            for (int column = cellOf(box.west, west, cellWidth); column <= cellOf(box.east, west, cellWidth); ++column)
                cells[static_cast<std::size_t>(row * gridSide + column)].push_back(i);
    }

    struct Open {
        AirspaceCrossing crossing;
        std::size_t lastSeen { 0 }; // the last fix inside
        bool open { false };
        std::size_t nearEdge { std::numeric_limits<std::size_t>::max() }; // where the last depth was found
    };
    std::vector<Open> stays(airspaces.size());
    std::vector<std::size_t> openStays;

    const auto close = [&](std::size_t airspace) {
        Open& stay = stays[airspace];
        stay.open = false;
        stay.crossing.exitIndex = stay.lastSeen;
        stay.crossing.exitTime = fixes[stay.lastSeen].time;
        const Airspace& space = airspaces[airspace];
        std::string reason;
        if (!stay.crossing.certain) {
            // The limits that left it open: neither a number above the sea nor a
            // flight level.
            const auto open = [](const Altitude& limit, bool isFloor) {
                return limit.reference == Reference::Unspecified
                    || (limit.reference == Reference::Ground && (!isFloor || limit.feet > 0));
            };
            if (open(space.floor, true))
                reason = limitReason("floor", space.floor);
            if (open(space.ceiling, false))
                reason += (reason.empty() ? "" : "; ") + limitReason("ceiling", space.ceiling);
            if (const std::size_t unread = index.unreadLine(airspace))
                reason += (reason.empty() ? "line " : "; line ") + std::to_string(unread)
                    + " of its block did not read, so a limit may be missing";
        }
        const std::string note = altitudeNote(space, sensors);
        if (!note.empty())
            reason += (reason.empty() ? "" : "; ") + note;
        stay.crossing.reason = reason;
        check.crossings.push_back(std::move(stay.crossing));
    };

    for (std::size_t f = 0; f < fixes.size(); ++f) {
        const auto& fix = fixes[f];
        if (!fix.valid)
            continue;
        Altitudes altitudes = sensors;
        altitudes.gnss = fix.gnssAltitude;
        altitudes.pressure = fix.pressureAltitude;
        const auto& candidates = cells[static_cast<std::size_t>(
            cellOf(fix.latitude, south, cellHeight) * gridSide + cellOf(fix.longitude, west, cellWidth))];
        for (const std::size_t i : candidates) {
            const auto& box = index.box(i);
            if (fix.latitude < box.south || fix.latitude > box.north || fix.longitude < box.west || fix.longitude > box.east)
                continue;
            const Airspace& space = airspaces[i];
            const LimitCheck floor = checkFloor(space.floor, altitudes);
            if (floor.within == Within::No)
                continue;
            const LimitCheck ceiling = checkCeiling(space.ceiling, altitudes);
            if (ceiling.within == Within::No)
                continue;
            const OutlineShape& shape = *shapes[i];
            if (!shape.contains(fix.latitude, fix.longitude))
                continue;
            const bool certain = floor.within == Within::Yes && ceiling.within == Within::Yes && index.unreadLine(i) == 0;
            std::optional<double> margin;
            if (floor.margin && ceiling.margin)
                margin = std::min(*floor.margin, *ceiling.margin);
            else
                margin = floor.margin ? floor.margin : ceiling.margin;
            // Within a stay only a fix deeper than the deepest so far matters.
            Open& stay = stays[i];
            const double depth = shape.distanceToEdge(fix.latitude, fix.longitude,
                stay.open ? stay.crossing.deepestHorizontalMetres : -std::numeric_limits<double>::infinity(), &stay.nearEdge);

            if (!stay.open) {
                const std::size_t nearEdge = stay.nearEdge;
                stay = Open {};
                stay.nearEdge = nearEdge;
                stay.open = true;
                stay.crossing.airspaceIndex = i;
                stay.crossing.name = space.name;
                stay.crossing.airspaceClass = space.airspaceClass;
                stay.crossing.entryIndex = f;
                stay.crossing.entryTime = fix.time;
                stay.crossing.certain = false;
                stay.crossing.deepestHorizontalIndex = f;
                stay.crossing.deepestHorizontalMetres = depth;
                openStays.push_back(i);
            }
            AirspaceCrossing& crossing = stay.crossing;
            crossing.certain = crossing.certain || certain;
            if (depth > crossing.deepestHorizontalMetres) {
                crossing.deepestHorizontalMetres = depth;
                crossing.deepestHorizontalIndex = f;
            }
            if (margin && (!crossing.deepestVerticalIndex || *margin > crossing.deepestVerticalMetres)) {
                crossing.deepestVerticalMetres = *margin;
                crossing.deepestVerticalIndex = f;
            }
            stay.lastSeen = f;
        }
        // A stay ends at the first valid fix outside it.
        for (std::size_t k = 0; k < openStays.size();) {
            const std::size_t airspace = openStays[k];
            if (stays[airspace].lastSeen != f) {
                close(airspace);
                openStays.erase(openStays.begin() + static_cast<std::ptrdiff_t>(k));
            } else {
                ++k;
            }
        }
    }
    for (const std::size_t airspace : openStays)
        close(airspace);
    std::stable_sort(check.crossings.begin(), check.crossings.end(), [](const auto& a, const auto& b) {
        return a.entryIndex != b.entryIndex ? a.entryIndex < b.entryIndex : a.airspaceIndex < b.airspaceIndex;
    });
    return check;
}

} // namespace corvex::analysis
