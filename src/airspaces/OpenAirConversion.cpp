#include "airspaces/OpenAirConversion.h"

#include "base/Format.h"
#include "base/Sha256.h"
#include "base/Utf8.h"
#include "geo/WebMercator.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace corvex::openair {

using namespace airspacesFormat;

namespace {

constexpr double mercatorScale = 16777216.0; // 2^24

void putU16(Bytes& bytes, std::size_t offset, std::uint16_t value)
{
    bytes[offset] = static_cast<std::uint8_t>(value);
    bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void putU32(Bytes& bytes, std::size_t offset, std::uint32_t value)
{
    for (std::size_t i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void putText(Bytes& bytes, std::size_t offset, std::size_t slotSize, std::string_view text)
{
    const auto kept = utf8Prefix(text, slotSize);
    std::memcpy(bytes.data() + offset, kept.data(), kept.size());
}

std::uint16_t storedAltitude(const Altitude& altitude)
{
    if (altitude.reference == Altitude::Reference::Unlimited)
        return 65535;
    return static_cast<std::uint16_t>(std::clamp(std::lround(altitude.feet), 0L, 65534L));
}

} // namespace

Point2d mercatorPoint(GeoPoint point)
{
    const geo::MercatorPoint unit = geo::webMercator(point);
    const double x = unit.x * mercatorScale;
    const double y = unit.y * mercatorScale;
    return { static_cast<std::int32_t>(std::clamp(std::lround(x), 0L, 16777215L)),
        static_cast<std::int32_t>(std::clamp(std::lround(y), 0L, 16777215L)) };
}

std::uint8_t classCode(std::string_view airspaceClass)
{
    static constexpr std::string_view classes[] = { "A", "B", "C", "D", "E", "F", "G", "CTR", "R", "Q", "P", "W", "GP", "TMZ", "RMZ" };
    for (std::size_t i = 0; i < std::size(classes); ++i)
        if (classes[i] == airspaceClass)
            return static_cast<std::uint8_t>(i + 1);
    return 0;
}

std::variant<Bytes, std::vector<Error>> writeInternalFormat(const std::vector<Airspace>& airspaces, const SetHeader& header)
{
    std::vector<Error> errors;
    // The whole size first: a set larger than an instrument holds is never built.
    std::size_t setSize = headerSize;
    for (const auto& airspace : airspaces) {
        setSize += segmentHeaderSize + (airspace.outline.size() < 3 ? endIndexSize : 0) + pointSize * airspace.outline.size();
        if (setSize > largestSetSize) {
            std::size_t total = headerSize;
            for (const auto& each : airspaces)
                total += segmentHeaderSize + (each.outline.size() < 3 ? endIndexSize : 0) + pointSize * each.outline.size();
            return std::vector<Error> { { airspace.line,
                formatString("the set would take %zu bytes, more than the %zu bytes an instrument holds", total, largestSetSize) } };
        }
    }
    Bytes segments;
    segments.reserve(setSize - headerSize);
    for (const auto& airspace : airspaces) {
        if (airspace.outline.size() > 65535) {
            errors.push_back({ airspace.line,
                "airspace '" + airspace.name + "' has " + std::to_string(airspace.outline.size())
                    + " points after its arcs are drawn, more than the instrument's 65535" });
            continue;
        }
        const std::size_t start = segments.size();
        // A ring is a segment without end indices; a line of one or two points ends at
        // its last point.
        const bool openLine = airspace.outline.size() < 3;
        const std::size_t endIndices = openLine ? 1 : 0;
        const std::size_t size = segmentHeaderSize + endIndexSize * endIndices + pointSize * airspace.outline.size();
        segments.resize(start + size, 0);
        putU32(segments, start, static_cast<std::uint32_t>(size));
        segments[start + 4] = classCode(airspace.airspaceClass);
        segments[start + 5] = static_cast<std::uint8_t>(airspace.floor.reference);
        segments[start + 6] = static_cast<std::uint8_t>(airspace.ceiling.reference);
        putText(segments, start + 8, 20, airspace.name);
        putU16(segments, start + segmentFloorOffset, storedAltitude(airspace.floor));
        putU16(segments, start + segmentCeilingOffset, storedAltitude(airspace.ceiling));
        putU16(segments, start + segmentCountsOffset, static_cast<std::uint16_t>(airspace.outline.size()));
        putU16(segments, start + segmentCountsOffset + 2, static_cast<std::uint16_t>(endIndices));
        std::size_t at = start + segmentHeaderSize;
        if (openLine) {
            putU16(segments, at, static_cast<std::uint16_t>(airspace.outline.size() - 1));
            at += endIndexSize;
        }
        for (const auto& point : airspace.outline) {
            const Point2d projected = mercatorPoint(point);
            putU32(segments, at, static_cast<std::uint32_t>(projected.x));
            putU32(segments, at + 4, static_cast<std::uint32_t>(projected.y));
            at += pointSize;
        }
    }
    if (!errors.empty())
        return errors;

    Bytes set(headerSize, 0);
    putU32(set, 0, 1); // format version, for the instrument
    putU32(set, segmentCountOffset, static_cast<std::uint32_t>(airspaces.size()));
    putU32(set, uploadDateOffset, static_cast<std::uint32_t>(std::max<std::int64_t>(0, header.uploadDate.time_since_epoch().count())));
    putText(set, fileNameOffset, fileNameSize - 1, header.fileName);
    const auto key = Sha256::of(segments);
    std::copy(key.begin(), key.end(), set.begin() + static_cast<std::ptrdiff_t>(uniqueKeyOffset));
    putText(set, descriptionOffset, descriptionSize, header.description);
    set.insert(set.end(), segments.begin(), segments.end());
    // A set without any airspace still has the length of a header and one segment
    // header, the shortest the instrument and the program accept.
    if (set.size() < minimumLength)
        set.resize(minimumLength, 0);
    return set;
}

std::variant<Bytes, std::vector<Error>> convertToInternalFormat(std::string_view openAirText, const SetHeader& header)
{
    ParseResult parsed = parse(openAirText);
    auto written = writeInternalFormat(parsed.airspaces, header);
    if (auto* errors = std::get_if<std::vector<Error>>(&written))
        parsed.errors.insert(parsed.errors.end(), errors->begin(), errors->end());
    if (!parsed.errors.empty()) {
        std::stable_sort(parsed.errors.begin(), parsed.errors.end(), [](const Error& a, const Error& b) { return a.line < b.line; });
        return parsed.errors;
    }
    return written;
}

} // namespace corvex::openair
