#pragma once

#include "geo/GeoPoint.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace corvex::library {

// A populated place of the offline place list.
struct Place {
    std::string name;
    GeoPoint position;
};

// The towns and cities a site's name is suggested from ("near PLACE"). The list is
// the weather locations file that Debian's libgweather-4-common installs: about four
// thousand towns of every country with their coordinates, as XML (its <city>
// elements; the <location> ones are weather stations, mostly airfields, and are left
// out). Without the package there is no list, no suggestion, and nothing fails.
class PlaceList {
public:
    static constexpr const char* systemPath = "/usr/share/libgweather-4/Locations.xml";
    // A suggestion names a place no farther than this from the site.
    static constexpr double nearbyMetres = 20000;

    // The places of the file. It is data, read with bounds: a file larger than a few
    // megabytes, or one that does not read as XML, gives no places; at most
    // `largestPlaceCount` places, names of at most 100 bytes, coordinates in range.
    static PlaceList read(const std::string& path = systemPath);
    static constexpr std::size_t largestPlaceCount = 100000;

    explicit PlaceList(std::vector<Place> places = {});
    const std::vector<Place>& places() const { return m_places; }
    // The place nearest to `point` within `withinMetres`.
    std::optional<Place> nearest(GeoPoint point, double withinMetres = nearbyMetres) const;
    // "near Annecy", or nothing.
    std::string suggestion(GeoPoint point) const;

private:
    std::vector<Place> m_places; // by latitude
};

} // namespace corvex::library
