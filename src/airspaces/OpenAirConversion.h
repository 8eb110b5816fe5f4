#pragma once

#include "airspaces/Airspaces.h"
#include "airspaces/OpenAirParser.h"
#include "base/Bytes.h"

#include <chrono>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// OpenAir text into the instrument's internal format: what the vendor's conversion
// service does, so that the stand-in server and the tests can produce real sets.
namespace corvex::openair {

// World Web-Mercator units of 2^-24 of the world's width (geo/WebMercator.h), rounded
// to the nearest; latitudes beyond the Mercator square are clamped to its edge.
Point2d mercatorPoint(GeoPoint point);

struct SetHeader {
    std::string fileName; // at most 255 bytes are kept
    std::string description; // at most 2000 bytes are kept
    std::chrono::sys_seconds uploadDate {};
};

// One segment per airspace: a closed ring (no end indices), or for one or two points
// an open line with one end index; never any 12-byte records.
// The 24 opaque bytes of a segment carry, for the instrument, the class code, the
// floor and ceiling references and the first 20 bytes of the name; floor and
// ceiling are feet (65535 for unlimited). The unique key is the SHA-256 of the
// segments. Fails, with the airspace's line, when an outline has more points than
// a segment can count.
std::variant<Bytes, std::vector<Error>> writeInternalFormat(const std::vector<Airspace>& airspaces, const SetHeader& header);

// Parse and write in one go; the errors of both steps, in line order.
std::variant<Bytes, std::vector<Error>> convertToInternalFormat(std::string_view openAirText, const SetHeader& header);

// The class code stored for an AC text (0 when the class is not one the instrument knows).
std::uint8_t classCode(std::string_view airspaceClass);

} // namespace corvex::openair
