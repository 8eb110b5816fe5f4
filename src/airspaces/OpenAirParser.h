#pragma once

#include "geo/GeoPoint.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A reader of OpenAir airspace files: classes, names, floors and ceilings, points,
// arcs and circles, the latter tessellated into points. Pure: text in, airspaces or
// the errors with their line numbers out.
namespace corvex::openair {

using corvex::GeoPoint;

struct Altitude {
    enum class Reference : std::uint8_t {
        MeanSeaLevel = 0,
        Ground = 1, // AGL, GND, SFC
        StandardPressure = 2, // flight levels and STD
        Unlimited = 3,
        Unspecified = 4, // given by other means ("NOTAM"), kept as text only
    };
    Reference reference { Reference::Ground };
    double feet { 0 };
    std::string text; // as written in the file
};

struct Airspace {
    std::string airspaceClass; // AC, as written ("C", "CTR", "TMZ", …)
    std::string name; // AN
    Altitude floor; // AL
    Altitude ceiling { Altitude::Reference::Unlimited, 0, {} }; // AH
    // A closed ring without its first point repeated; with fewer than three points an
    // open line (cables).
    std::vector<GeoPoint> outline;
    std::size_t line { 0 }; // the AC line
};

struct Error {
    std::size_t line { 0 };
    std::string message;
};

struct ParseResult {
    std::vector<Airspace> airspaces;
    std::vector<Error> errors;
};

// The file's bytes as UTF-8: a byte-order mark is dropped, and bytes that are not
// UTF-8 are taken as ISO-8859-1 (the older files of several countries).
std::string decodeFileText(std::string_view bytes);

ParseResult parse(std::string_view text);

// The pieces, for the tests and the fuzzers.
std::optional<Altitude> parseAltitude(std::string_view text);
// One coordinate pair ("47:25:52 N 007:46:41 E", "29:58.917 N 081:59.533 W",
// "50:05:55N 004:50:58E"); nothing unless the whole text is one pair.
std::optional<GeoPoint> parseCoordinate(std::string_view text);

// Spherical-earth geometry on the mean radius (geo::meanEarthRadiusMetres), distances in metres, bearings in
// degrees clockwise from true north.
GeoPoint destination(GeoPoint from, double bearingDegrees, double distanceMetres);
double initialBearing(GeoPoint from, GeoPoint to);
double distanceMetres(GeoPoint from, GeoPoint to);

// The angle between two tessellated points of an arc of this radius: at most 5
// degrees, finer for large radii so that no chord is longer than about a kilometre.
double arcStepDegrees(double radiusMetres);

constexpr double metresPerNauticalMile = 1852.0;

// Values no airspace has, refused by line: the widest circles and arcs of real files
// stay under a hundred nautical miles, and nothing reaches higher than FL 999 or an
// unlimited ceiling.
constexpr double largestRadiusNauticalMiles = 300.0;
constexpr double highestAltitudeFeet = 150000.0;

} // namespace corvex::openair
