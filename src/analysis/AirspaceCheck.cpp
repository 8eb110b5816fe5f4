#include "analysis/AirspaceCheck.h"

#include "base/VectorState.h"
#include "geo/GeoPoint.h"
#include "terrain/Geoid.h"
#include "terrain/TerrainTiles.h"

#include <algorithm>
#include <cctype>
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

// The altitudes one view of a fix compares: the verdict takes each limit in its own
// datum, a sensor's view takes its one altitude for all.
struct Altitudes {
    double seaLevel { 0 }; // against heights above the sea and, less the ground, above ground
    double flightLevel { 0 }; // against flight levels
    std::optional<double> ground; // metres above the geoid under the fix, where terrain covers it
};

struct LimitCheck {
    Within within { Within::Yes };
    std::optional<double> margin; // metres on the right side of the limit (negative: outside)
    bool needsGround { false }; // unknown only for want of terrain
};

// Beyond a limit by more than the tolerance; at the limit counts when there is none.
bool beyond(double margin, double tolerance) { return tolerance > 0 ? margin > tolerance : margin >= 0; }

LimitCheck compared(double margin, double tolerance) { return { beyond(margin, tolerance) ? Within::Yes : Within::No, margin }; }

LimitCheck checkFloor(const Altitude& floor, const Altitudes& altitudes, double tolerance)
{
    const double limit = floor.feet * metresPerFoot;
    switch (floor.reference) {
    case Reference::MeanSeaLevel:
        return compared(altitudes.seaLevel - limit, tolerance);
    case Reference::StandardPressure:
        return compared(altitudes.flightLevel - limit, tolerance);
    case Reference::Ground:
        // The ground itself: every fix of a flight is above it, whatever the tiles say,
        // and the ceiling alone gives the margin.
        if (floor.feet <= 0)
            return { Within::Yes, std::nullopt };
        if (altitudes.ground)
            return compared(altitudes.seaLevel - *altitudes.ground - limit, tolerance);
        // The ground is at or above sea level almost everywhere a glider flies, so a fix
        // lower above the sea than the floor is above the ground is surely below it.
        if (!beyond(altitudes.seaLevel - limit, tolerance))
            return { Within::No, std::nullopt };
        return { Within::Unknown, std::nullopt, true };
    case Reference::Unlimited:
        return { Within::No, std::nullopt };
    case Reference::Unspecified:
        return { Within::Unknown, std::nullopt };
    }
    return { Within::Unknown, std::nullopt };
}

LimitCheck checkCeiling(const Altitude& ceiling, const Altitudes& altitudes, double tolerance)
{
    const double limit = ceiling.feet * metresPerFoot;
    switch (ceiling.reference) {
    case Reference::MeanSeaLevel:
        return compared(limit - altitudes.seaLevel, tolerance);
    case Reference::StandardPressure:
        return compared(limit - altitudes.flightLevel, tolerance);
    case Reference::Ground:
        if (altitudes.ground)
            return compared(limit - (altitudes.seaLevel - *altitudes.ground), tolerance);
        // Above ground by at most the height above the sea: surely below a ceiling that
        // high, otherwise it depends on the ground.
        if (beyond(limit - altitudes.seaLevel, tolerance))
            return { Within::Yes, std::nullopt };
        return { Within::Unknown, std::nullopt, true };
    case Reference::Unlimited:
        return { Within::Yes, std::nullopt };
    case Reference::Unspecified:
        return { Within::Unknown, std::nullopt };
    }
    return { Within::Unknown, std::nullopt };
}

// One view of one fix against one airspace's limits.
struct Judgement {
    LimitCheck floor, ceiling;
    bool inside() const { return floor.within != Within::No && ceiling.within != Within::No; }
    bool sure() const { return floor.within == Within::Yes && ceiling.within == Within::Yes; }
    // The smaller margin where both are known.
    std::optional<double> margin() const
    {
        if (floor.margin && ceiling.margin)
            return std::min(*floor.margin, *ceiling.margin);
        return floor.margin ? floor.margin : ceiling.margin;
    }
};

Judgement judge(const Airspace& space, const Altitudes& altitudes, double tolerance)
{
    Judgement judgement;
    judgement.floor = checkFloor(space.floor, altitudes, tolerance);
    if (judgement.floor.within != Within::No)
        judgement.ceiling = checkCeiling(space.ceiling, altitudes, tolerance);
    else
        judgement.ceiling.within = Within::No;
    return judgement;
}

// Which sensors the recorder has, and how its GNSS altitude is made to sea level.
struct Sensors {
    bool gnss { true }, pressure { true };
    AltitudeSource forSeaLevel() const { return gnss || !pressure ? AltitudeSource::Gnss : AltitudeSource::Pressure; }
    AltitudeSource forFlightLevel() const { return pressure || !gnss ? AltitudeSource::Pressure : AltitudeSource::Gnss; }
};

const char* sensorName(AltitudeSource source) { return source == AltitudeSource::Pressure ? "pressure" : "GNSS"; }

std::string limitReason(const char* which, const Altitude& limit, bool haveTerrain)
{
    if (limit.reference == Reference::Unspecified)
        return std::string("the ") + which + " \"" + limit.text + "\" is not a height the check can compare";
    if (haveTerrain)
        return std::string("the ") + which + " \"" + limit.text + "\" is above ground: possible, no terrain here";
    return std::string("the ") + which + " \"" + limit.text
        + "\" is above ground and no terrain was given to say how high the ground is";
}

std::string altitudeNote(const Airspace& airspace, const Sensors& sensors, const std::string& gnssDatum)
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
        note = sensors.forSeaLevel() == AltitudeSource::Gnss
            ? "GNSS altitude" + gnssDatum + " against heights above sea level"
            : "pressure altitude against heights above sea level (no GNSS altitude)";
    if (uses(Reference::StandardPressure)) {
        if (!note.empty())
            note += "; ";
        note += sensors.forFlightLevel() == AltitudeSource::Pressure
            ? "pressure altitude against flight levels"
            : "GNSS altitude against flight levels (no pressure altitude)";
    }
    return note;
}

// Keeps what one sensor says across a stay.
void follow(SensorStay& stay, const Judgement& judgement, std::size_t fix, std::int64_t time)
{
    if (!judgement.inside())
        return;
    if (!stay.inside) {
        stay.inside = true;
        stay.entryIndex = fix;
        stay.entryTime = time;
    }
    stay.exitIndex = fix;
    stay.exitTime = time;
    const auto margin = judgement.margin();
    const auto known = [](const SensorStay& kept) -> std::optional<double> {
        if (kept.aboveFloorMetres && kept.belowCeilingMetres)
            return std::min(*kept.aboveFloorMetres, *kept.belowCeilingMetres);
        return kept.aboveFloorMetres ? kept.aboveFloorMetres : kept.belowCeilingMetres;
    };
    const auto deepest = known(stay);
    if (!stay.deepestIndex || (margin && (!deepest || *margin > *deepest))) {
        stay.deepestIndex = fix;
        stay.aboveFloorMetres = judgement.floor.margin;
        stay.belowCeilingMetres = judgement.ceiling.margin;
    }
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

std::size_t AirspaceCheck::airspacesEntered() const
{
    std::vector<std::size_t> airspaces;
    for (const auto& crossing : crossings)
        airspaces.push_back(crossing.airspaceIndex);
    std::sort(airspaces.begin(), airspaces.end());
    return static_cast<std::size_t>(std::unique(airspaces.begin(), airspaces.end()) - airspaces.begin());
}

AirspaceCheck checkAirspaces(const flights::IgcFlight& flight, const std::vector<openair::Airspace>& airspaces,
    const AirspaceCheckOptions& options)
{
    return checkAirspaces(flight, AirspaceIndex(airspaces), options);
}

AirspaceCheck checkAirspaces(
    const flights::IgcFlight& flight, const openair::ParseResult& parsed, const AirspaceCheckOptions& options)
{
    return checkAirspaces(flight, AirspaceIndex(parsed), options);
}

AirspaceCheck checkAirspaces(const flights::IgcFlight& flight, const AirspaceIndex& index, const AirspaceCheckOptions& options)
{
    clearUpperVectorState();
    AirspaceCheck check;
    const auto& fixes = flight.fixes;
    const double horizontalTolerance = std::max(0.0, options.tolerance.horizontalMetres);
    const double verticalTolerance = std::max(0.0, options.tolerance.verticalMetres);
    // A recorder without one of the sensors writes zeros throughout; "NIL" in HFALG says
    // there is no GNSS altitude.
    const auto datum = flight.headerValue("ALG");
    std::string datumText = datum ? *datum : std::string();
    for (char& c : datumText)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    Sensors sensors;
    sensors.gnss = datumText.find("NIL") == std::string::npos
        && std::any_of(fixes.begin(), fixes.end(), [](const auto& fix) { return fix.gnssAltitude != 0; });
    sensors.pressure = std::any_of(fixes.begin(), fixes.end(), [](const auto& fix) { return fix.pressureAltitude != 0; });
    if (!sensors.pressure && sensors.gnss)
        check.notes.push_back("no pressure altitude in the file: GNSS altitude compared with flight levels");
    if (!sensors.gnss && sensors.pressure)
        check.notes.push_back("no GNSS altitude in the file: pressure altitude compared with heights above sea level");

    const bool ellipsoid = datumText.find("ELL") != std::string::npos;
    check.gnssDatumAssumed = !ellipsoid && datumText.find("GEO") == std::string::npos;
    check.gnssDatum = ellipsoid ? "ellipsoid" : "geoid";
    const terrain::Geoid* geoid = ellipsoid ? options.geoid : nullptr;
    if (sensors.gnss) {
        if (check.gnssDatumAssumed)
            check.notes.push_back("no HFALG header: GNSS altitude taken as above the geoid (sea level), as most "
                                  "recorders write it");
        else if (ellipsoid && geoid)
            check.notes.push_back("GNSS altitude above the ellipsoid (HFALG): made to sea level with the EGM96 geoid");
        else if (ellipsoid)
            check.notes.push_back("GNSS altitude above the ellipsoid (HFALG) and no geoid grid: used as it is, up to "
                                  "about 50 m too high in Europe");
    }

    // Said in each reason that compares GNSS altitude with the sea level.
    const std::string datumNote = check.gnssDatumAssumed ? " (taken as above the geoid: no HFALG header)"
        : ellipsoid && geoid                              ? " (made to sea level from the ellipsoid)"
        : ellipsoid                                       ? " (above the ellipsoid, no geoid to correct it)"
                                                          : "";

    // Only from take-off to landing, flight by flight.
    const auto parts = flights::computeFlights(flight);
    check.flights = parts.size();
    if (parts.size() > 1)
        check.notes.push_back("the file holds " + std::to_string(parts.size()) + " flights, each checked on its own");

    // The track's own box first: only the airspaces near the flight are looked at.
    bool anyValid = false;
    double south = 90, north = -90, west = 180, east = -180;
    for (const auto& part : parts)
        for (std::size_t f = part.takeoffIndex; f <= part.landingIndex && f < fixes.size(); ++f) {
            const auto& fix = fixes[f];
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
        bool verdictInside { false }; // the verdict's altitudes put some fix inside
        bool groundMissing { false }; // a limit above ground met a fix without terrain
        std::size_t nearEdge { std::numeric_limits<std::size_t>::max() }; // where the last depth was found
    };
    std::vector<Open> stays(airspaces.size());
    std::vector<std::size_t> openStays;

    const auto close = [&](std::size_t airspace) {
        Open& stay = stays[airspace];
        stay.open = false;
        AirspaceCrossing& crossing = stay.crossing;
        crossing.exitIndex = stay.lastSeen;
        crossing.exitTime = fixes[stay.lastSeen].time;
        const Airspace& space = airspaces[airspace];
        std::string reason;
        const auto add = [&reason](const std::string& text) { reason += (reason.empty() ? "" : "; ") + text; };
        if (!crossing.certain) {
            // The limits that left it open: neither a number above the sea nor a flight
            // level, nor above a ground the tiles give.
            const auto open = [](const Altitude& limit, bool isFloor) {
                return limit.reference == Reference::Unspecified
                    || (limit.reference == Reference::Ground && (!isFloor || limit.feet > 0));
            };
            const bool haveTerrain = options.terrain != nullptr;
            if (open(space.floor, true) && (space.floor.reference != Reference::Ground || !haveTerrain || stay.groundMissing))
                add(limitReason("floor", space.floor, haveTerrain));
            if (open(space.ceiling, false) && (space.ceiling.reference != Reference::Ground || !haveTerrain || stay.groundMissing))
                add(limitReason("ceiling", space.ceiling, haveTerrain));
            if (const std::size_t unread = index.unreadLine(airspace))
                add("line " + std::to_string(unread) + " of its block did not read, so a limit may be missing");
        }
        // One sensor inside and the other outside: said, whichever the verdict used.
        if (sensors.pressure && sensors.gnss && crossing.pressure.inside != crossing.gnss.inside) {
            const AltitudeSource inside = crossing.pressure.inside ? AltitudeSource::Pressure : AltitudeSource::Gnss;
            const AltitudeSource outside = inside == AltitudeSource::Pressure ? AltitudeSource::Gnss : AltitudeSource::Pressure;
            add(std::string(sensorName(inside)) + " altitude says inside, " + sensorName(outside) + " altitude says outside");
            if (!stay.verdictInside)
                add(std::string("the verdict goes by ") + sensorName(crossing.altitudeSource) + " altitude here");
        }
        const std::string note = altitudeNote(space, sensors, datumNote);
        if (!note.empty())
            add(note);
        crossing.reason = reason;
        check.crossings.push_back(std::move(crossing));
    };

    // The ground under a fix, looked up once however many airspaces want it.
    const bool groundLimits = options.terrain != nullptr;
    for (std::size_t part = 0; part < parts.size(); ++part) {
        const std::size_t last = std::min(parts[part].landingIndex, fixes.empty() ? 0 : fixes.size() - 1);
        for (std::size_t f = parts[part].takeoffIndex; f <= last; ++f) {
            const auto& fix = fixes[f];
            if (!fix.valid)
                continue;
            const GeoPoint place { fix.latitude, fix.longitude };
            double gnss = fix.gnssAltitude;
            if (geoid && sensors.gnss) {
                const double undulation = geoid->undulation(place);
                if (std::isfinite(undulation))
                    gnss -= undulation;
            }
            const double pressure = fix.pressureAltitude;
            std::optional<double> ground;
            bool groundLooked = false;
            const auto& candidates = cells[static_cast<std::size_t>(
                cellOf(fix.latitude, south, cellHeight) * gridSide + cellOf(fix.longitude, west, cellWidth))];
            for (const std::size_t i : candidates) {
                const auto& box = index.box(i);
                if (fix.latitude < box.south || fix.latitude > box.north || fix.longitude < box.west || fix.longitude > box.east)
                    continue;
                const Airspace& space = airspaces[i];
                const bool aboveGround = space.floor.reference == Reference::Ground || space.ceiling.reference == Reference::Ground;
                if (aboveGround && groundLimits && !groundLooked) {
                    ground = options.terrain->elevationAt(place);
                    groundLooked = true;
                }
                const std::optional<double> groundHere = aboveGround ? ground : std::nullopt;
                const auto altitudeOf = [&](AltitudeSource source) { return source == AltitudeSource::Pressure ? pressure : gnss; };
                const Judgement verdict = judge(space,
                    { altitudeOf(sensors.forSeaLevel()), altitudeOf(sensors.forFlightLevel()), groundHere }, verticalTolerance);
                Judgement byPressure, byGnss;
                byPressure.floor.within = byGnss.floor.within = Within::No;
                if (sensors.pressure)
                    byPressure = judge(space, { pressure, pressure, groundHere }, verticalTolerance);
                if (sensors.gnss)
                    byGnss = judge(space, { gnss, gnss, groundHere }, verticalTolerance);
                if (!verdict.inside() && !byPressure.inside() && !byGnss.inside())
                    continue;
                const OutlineShape& shape = *shapes[i];
                if (!shape.contains(fix.latitude, fix.longitude))
                    continue;
                if (horizontalTolerance > 0 && shape.distanceToEdge(fix.latitude, fix.longitude, horizontalTolerance) <= horizontalTolerance)
                    continue;
                // Within a stay only a fix deeper than the deepest so far matters.
                Open& stay = stays[i];
                const double depth = shape.distanceToEdge(fix.latitude, fix.longitude,
                    stay.open ? stay.crossing.deepestHorizontalMetres : -std::numeric_limits<double>::infinity(), &stay.nearEdge);

                if (!stay.open) {
                    const std::size_t nearEdge = stay.nearEdge;
                    stay = Open {};
                    stay.nearEdge = nearEdge;
                    stay.open = true;
                    AirspaceCrossing& crossing = stay.crossing;
                    crossing.airspaceIndex = i;
                    crossing.name = space.name;
                    crossing.airspaceClass = space.airspaceClass;
                    crossing.flight = part;
                    crossing.entryIndex = f;
                    crossing.entryTime = fix.time;
                    crossing.certain = false;
                    crossing.deepestHorizontalIndex = f;
                    crossing.deepestHorizontalMetres = depth;
                    // Until a vertical margin says otherwise: the floor's sensor.
                    crossing.altitudeSource = space.floor.reference == Reference::StandardPressure
                            || (space.floor.reference == Reference::Ground && space.ceiling.reference == Reference::StandardPressure)
                        ? sensors.forFlightLevel()
                        : sensors.forSeaLevel();
                    openStays.push_back(i);
                }
                AirspaceCrossing& crossing = stay.crossing;
                stay.groundMissing = stay.groundMissing || verdict.floor.needsGround || verdict.ceiling.needsGround;
                if (verdict.inside()) {
                    stay.verdictInside = true;
                    crossing.certain = crossing.certain || (verdict.sure() && index.unreadLine(i) == 0);
                }
                follow(crossing.pressure, byPressure, f, fix.time);
                follow(crossing.gnss, byGnss, f, fix.time);
                if (depth > crossing.deepestHorizontalMetres) {
                    crossing.deepestHorizontalMetres = depth;
                    crossing.deepestHorizontalIndex = f;
                }
                const auto margin = verdict.inside() ? verdict.margin() : std::nullopt;
                if (margin && (!crossing.deepestVerticalIndex || *margin > crossing.deepestVerticalMetres)) {
                    crossing.deepestVerticalMetres = *margin;
                    crossing.deepestVerticalIndex = f;
                    crossing.aboveFloorMetres = verdict.floor.margin;
                    crossing.belowCeilingMetres = verdict.ceiling.margin;
                    // The nearer limit decided the margin: its datum says which sensor.
                    const bool floorBinds = verdict.floor.margin
                        && (!verdict.ceiling.margin || *verdict.floor.margin <= *verdict.ceiling.margin);
                    const Altitude& binding = floorBinds ? space.floor : space.ceiling;
                    crossing.altitudeSource = binding.reference == Reference::StandardPressure ? sensors.forFlightLevel()
                                                                                               : sensors.forSeaLevel();
                    if (sensors.pressure && sensors.gnss)
                        crossing.sensorDifferenceMetres = pressure - gnss;
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
        // A landing ends every stay.
        for (const std::size_t airspace : openStays)
            close(airspace);
        openStays.clear();
    }
    std::stable_sort(check.crossings.begin(), check.crossings.end(), [](const auto& a, const auto& b) {
        return a.entryIndex != b.entryIndex ? a.entryIndex < b.entryIndex : a.airspaceIndex < b.airspaceIndex;
    });
    return check;
}

} // namespace corvex::analysis
