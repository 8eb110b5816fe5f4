#include "analysis/NearAirspaces.h"

#include "base/SegmentClip.h"
#include "geo/GeoPoint.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace corvex::analysis {

namespace {

constexpr double metresPerDegreeOfLatitude = 111'195.0; // on the mean radius (geo/GeoPoint.h), to the metre

// Whether the segment from a to b meets the box (longitude as x).
bool segmentMeetsBox(const GeoPoint& a, const GeoPoint& b, const AirspaceIndex::Box& box)
{
    return segmentMeetsRectangle(a.longitude, a.latitude, b.longitude, b.latitude, box.west, box.east, box.south, box.north);
}

} // namespace

std::optional<AirspaceIndex::Box> trackBox(const flights::IgcFlight& flight)
{
    std::optional<AirspaceIndex::Box> box;
    for (const flights::IgcFix& fix : flight.fixes) {
        if (!fix.valid)
            continue;
        if (!box) {
            box = AirspaceIndex::Box { fix.latitude, fix.longitude, fix.latitude, fix.longitude };
            continue;
        }
        box->south = std::min(box->south, fix.latitude);
        box->north = std::max(box->north, fix.latitude);
        box->west = std::min(box->west, fix.longitude);
        box->east = std::max(box->east, fix.longitude);
    }
    return box;
}

AirspaceIndex::Box grownBox(const AirspaceIndex::Box& box, double marginMetres)
{
    const double latitudeMargin = marginMetres / metresPerDegreeOfLatitude;
    const double farthest = std::min(89.0, std::max(std::abs(box.south), std::abs(box.north)));
    const double longitudeMargin = latitudeMargin / std::cos(geo::radians(farthest));
    return { std::max(-90.0, box.south - latitudeMargin), box.west - longitudeMargin,
        std::min(90.0, box.north + latitudeMargin), box.east + longitudeMargin };
}

bool outlineMeetsBox(const std::vector<GeoPoint>& outline, const AirspaceIndex::Box& box)
{
    if (outline.size() < 3)
        return false;
    const OutlineShape shape(outline, std::numeric_limits<std::size_t>::max());
    const std::vector<GeoPoint>& points = shape.points();
    // An outline unrolled across ±180° meets the box at any of its longitudes.
    std::vector<AirspaceIndex::Box> boxes { box };
    if (shape.unrolled())
        for (double round = std::ceil((shape.planeWest() - box.east) / 360.0); box.west + 360 * round <= shape.planeEast(); ++round)
            if (round != 0)
                boxes.push_back({ box.south, box.west + 360 * round, box.north, box.east + 360 * round });
    for (std::size_t i = 0; i < points.size(); ++i) {
        const std::size_t next = (i + 1) % points.size();
        if (i >= shape.ownPoints() || next >= shape.ownPoints())
            continue; // closes the outline over a pole
        for (const AirspaceIndex::Box& at : boxes)
            if (segmentMeetsBox(points[i], points[next], at))
                return true;
    }
    // No edge meets the box: either the box lies whole inside the outline or apart from it.
    return shape.contains(box.south, box.west);
}

std::vector<std::size_t> airspacesNearTrack(const flights::IgcFlight& flight, const AirspaceIndex& index, double marginMetres)
{
    const auto box = trackBox(flight);
    if (!box)
        return {};
    const AirspaceIndex::Box grown = grownBox(*box, marginMetres);
    std::vector<std::size_t> near = index.overlapping(grown.south, grown.west, grown.north, grown.east);
    near.erase(std::remove_if(near.begin(), near.end(),
                   [&](std::size_t airspace) { return !outlineMeetsBox(index.airspaces()[airspace].outline, grown); }),
        near.end());
    return near;
}

} // namespace corvex::analysis
