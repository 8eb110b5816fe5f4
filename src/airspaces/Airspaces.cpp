#include "airspaces/Airspaces.h"

#include "base/ByteReader.h"
#include "base/FileNames.h"
#include "base/Format.h"
#include "base/Utf8.h"
#include "platform/LogSink.h"

#include <algorithm>
#include <ctime>

namespace corvex {

using namespace airspacesFormat;

namespace {

std::optional<std::string> utf8TextField(ByteView slot)
{
    std::string text = textField(slot);
    if (!isValidUtf8(text))
        return std::nullopt;
    return text;
}

const char* orNull(const std::optional<std::string>& text)
{
    return text ? text->c_str() : "(null)";
}

struct SegmentHeader {
    std::uint32_t declaredSize { 0 };
    int floor { 0 };
    int ceiling { 0 };
    std::uint16_t pointCount { 0 }; // N
    std::uint16_t endIndexCount { 0 }; // P
    std::uint16_t recordPairCount { 0 }; // M
};

std::optional<SegmentHeader> readSegmentHeader(ByteView segmentStart)
{
    ByteReader reader(segmentStart);
    SegmentHeader header;
    header.declaredSize = reader.u32le().value_or(0);
    reader.seek(segmentFloorOffset);
    header.floor = reader.u16le().value_or(0);
    header.ceiling = reader.u16le().value_or(0);
    reader.seek(segmentCountsOffset);
    header.pointCount = reader.u16le().value_or(0);
    header.endIndexCount = reader.u16le().value_or(0);
    header.recordPairCount = reader.u16le().value_or(0);
    if (reader.failed())
        return std::nullopt;
    return header;
}

std::size_t computedSegmentSize(const SegmentHeader& header)
{
    return segmentHeaderSize + endIndexSize * header.endIndexCount + recordPairSize * header.recordPairCount
        + pointSize * header.pointCount;
}

std::vector<Point2d> readPoints(ByteReader& reader, std::size_t from, std::size_t toInclusive)
{
    std::vector<Point2d> points;
    points.reserve(toInclusive - from + 1);
    for (std::size_t i = from; i <= toInclusive; ++i) {
        Point2d point;
        point.x = static_cast<std::int32_t>(reader.u32le().value_or(0));
        point.y = static_cast<std::int32_t>(reader.u32le().value_or(0));
        points.push_back(point);
    }
    return points;
}

} // namespace

std::optional<AirspacesSetHeader> readAirspacesSetHeader(ByteView bytes)
{
    if (bytes.size() < headerSize)
        return std::nullopt;
    ByteReader reader(bytes);
    reader.seek(uploadDateOffset);
    AirspacesSetHeader header;
    header.uploadDate = std::chrono::sys_seconds(std::chrono::seconds(reader.u32le().value_or(0)));
    header.fileName = utf8TextField(bytes.subspan(fileNameOffset, fileNameSize)).value_or(std::string());
    header.bytes.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(headerSize));
    return header;
}

std::optional<Airspaces> Airspaces::initWithDataInInternalFormat(Bytes data, LogSink& log)
{
    return initWithDataInInternalFormat(std::make_shared<const Bytes>(std::move(data)), log);
}

std::optional<Airspaces> Airspaces::initWithDataInInternalFormat(std::shared_ptr<const Bytes> data, LogSink& log)
{
    if (!data || data->size() < minimumLength) {
        logLine(log, "Airspaces initWithDataInInternalFormat: the input data is too short to be considered an Airspaces. "
                     "Can't build an object");
        return std::nullopt;
    }
    const ByteView bytes(*data);
    ByteReader header(bytes);
    header.seek(segmentCountOffset);
    const std::uint32_t segmentCount = header.u32le().value_or(0);
    const std::uint32_t uploadDate = header.u32le().value_or(0);
    logLine(log, "Number of segments: %d", static_cast<int>(segmentCount));

    Airspaces airspaces;
    airspaces.m_airspacesFilename = utf8TextField(bytes.subspan(fileNameOffset, fileNameSize));
    airspaces.m_airspacesDescription = utf8TextField(bytes.subspan(descriptionOffset, descriptionSize));
    airspaces.m_airspacesUploadDate = std::chrono::sys_seconds(std::chrono::seconds(uploadDate));
    airspaces.m_numberOfSegments = segmentCount;

    std::size_t segmentStart = headerSize;
    for (std::size_t k = 0; k < segmentCount; ++k) {
        // The header count is not checked against the length, so a count larger than
        // the segments present ends here rather than in a read past the end.
        const ByteView rest = segmentStart <= bytes.size() ? bytes.subspan(segmentStart) : ByteView {};
        auto segment = readSegmentHeader(rest);
        if (!segment) {
            logLine(log,
                "Airspaces %zu segment's header runs past the end of the data (%zu bytes left). Wrong format/corrupted "
                "airspaces data?",
                k, rest.size());
            return std::nullopt;
        }
        const std::size_t actualSize = computedSegmentSize(*segment);
        if (actualSize != segment->declaredSize) {
            logLine(log,
                "Airspaces %zu segment's actual size (%zu) does not match its declared size (%u). Sanity check failed. "
                "Wrong format/corrupted airspaces data?",
                k, actualSize, segment->declaredSize);
            return std::nullopt;
        }
        if (actualSize > rest.size()) {
            logLine(log,
                "Airspaces %zu segment's size (%zu) runs past the end of the data (%zu bytes left). Wrong "
                "format/corrupted airspaces data?",
                k, actualSize, rest.size());
            return std::nullopt;
        }

        const ByteView segmentBytes = rest.first(actualSize);
        const std::size_t endIndicesOffset = segmentHeaderSize;
        const std::size_t pointsOffset
            = endIndicesOffset + endIndexSize * segment->endIndexCount + recordPairSize * segment->recordPairCount;
        const std::size_t pointCount = segment->pointCount;

        ByteReader endIndices(segmentBytes.subspan(endIndicesOffset, endIndexSize * segment->endIndexCount));
        ByteReader points(segmentBytes.subspan(pointsOffset));

        auto addPolyline = [&](std::vector<Point2d> vertices, bool closed) {
            GlobalPolyline polyline;
            polyline.points = std::move(vertices);
            polyline.floor = segment->floor;
            polyline.ceiling = segment->ceiling;
            polyline.closed = closed;
            airspaces.m_globalPolylines.push_back(std::move(polyline));
        };

        if (segment->endIndexCount == 0) {
            if (pointCount > 0) {
                std::vector<Point2d> ring = readPoints(points, 0, pointCount - 1);
                ring.push_back(ring.front());
                addPolyline(std::move(ring), true);
            }
        } else {
            std::size_t start = 0;
            for (std::size_t p = 0; p < segment->endIndexCount; ++p) {
                const std::uint16_t end = endIndices.u16le().value_or(0);
                if (end >= pointCount) {
                    logLine(log,
                        "Airspaces %zu segment's polyline end index %u is outside its %zu points. Wrong "
                        "format/corrupted airspaces data?",
                        k, static_cast<unsigned>(end), pointCount);
                    return std::nullopt;
                }
                if (start > end) {
                    addPolyline({}, false);
                } else {
                    points.seek(start * pointSize);
                    addPolyline(readPoints(points, start, end), false);
                }
                start = std::size_t { end } + 1;
            }
        }
        airspaces.m_floors.push_back(segment->floor);
        airspaces.m_ceilings.push_back(segment->ceiling);
        segmentStart += actualSize;
    }

    logLine(log, "After flattening, globalPolylines array contains %lu polylines",
        static_cast<unsigned long>(airspaces.m_globalPolylines.size()));
    airspaces.m_internalData = std::move(data);
    return airspaces;
}

std::string Airspaces::description() const
{
    return formatString("<Airspaces object> Filename: '%s', Description: '%s', Upload date: '%s'",
        orNull(m_airspacesFilename), orNull(m_airspacesDescription), defaultDateText(m_airspacesUploadDate).c_str());
}

std::string Airspaces::buildCacheFilename() const
{
    return m_internalData ? buildCacheFilenameFromHeader(*m_internalData).value_or(std::string {}) : std::string {};
}

namespace {
// The longest file name of the file system, in bytes.
constexpr std::size_t longestFileName = 255;
} // namespace

std::optional<std::string> buildCacheFilenameFromHeader(ByteView header)
{
    if (header.size() < uniqueKeyOffset + uniqueKeySize)
        return std::nullopt;
    // The name becomes a path inside the cache folder; the key and the extension
    // after it must still fit a file name.
    const std::string key = hexadecimalString(header.subspan(uniqueKeyOffset, uniqueKeySize)) + ".as";
    return safeFileName(textField(header.subspan(fileNameOffset, fileNameSize)), longestFileName - key.size()) + key;
}

std::optional<std::string> safeCacheFileName(std::string_view serviceFileName, ByteView set)
{
    if (!serviceFileName.empty() && safeFileName(serviceFileName, longestFileName) == serviceFileName)
        return std::string(serviceFileName);
    return buildCacheFilenameFromHeader(set);
}

std::string defaultDateText(std::chrono::sys_seconds date)
{
    return utcTimeText(date.time_since_epoch().count(), "%Y-%m-%d %H:%M:%S +0000");
}

} // namespace corvex
