#pragma once

#include "base/Result.h"
#include "geo/GeoPoint.h"

#include <string>
#include <vector>

namespace corvex::terrain {

// The EGM96 geoid: how far it stands above the WGS84 ellipsoid. A GNSS receiver gives
// heights above the ellipsoid (an IGC file's GNSS altitude is meant above the geoid but
// not every logger does so); the terrain tiles and the airspaces' limits are above the
// geoid (mean sea level). The 15' grid of PROJ's data (Debian's proj-data) is read whole
// through GDAL, 4 MB of floats.
class Geoid {
public:
    static constexpr const char* defaultGridPath = "/usr/share/proj/egm96_15.gtx";

    // The grid, or why it cannot be had ("... not found: install proj-data").
    static Result<Geoid, std::string> load(const std::string& gridPath = defaultGridPath);

    // Metres of the geoid above the ellipsoid, bilinear between the grid's posts; the
    // longitude wraps round the world, the latitude is held to the poles' rows; NaN for
    // a place that is no number.
    double undulation(GeoPoint place) const;

private:
    Geoid() = default;

    int m_width { 0 };
    int m_height { 0 };
    double m_firstLongitude { 0 };
    double m_firstLatitude { 0 };
    double m_lonStep { 0 };
    double m_latStep { 0 };
    // Posts per turn of the earth: the columns wrap after it.
    int m_columnsRound { 0 };
    std::vector<float> m_posts;
};

} // namespace corvex::terrain
