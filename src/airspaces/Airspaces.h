#pragma once

#include "base/Bytes.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvex {

class LogSink;

// The instrument's internal airspaces format. Little-endian throughout; the program
// only validates it, reads the header and flattens the outlines.
namespace airspacesFormat {
constexpr std::size_t headerSize = 2300;
constexpr std::size_t segmentCountOffset = 4;
constexpr std::size_t uploadDateOffset = 8;
constexpr std::size_t fileNameOffset = 12;
constexpr std::size_t fileNameSize = 256;
constexpr std::size_t uniqueKeyOffset = 268;
constexpr std::size_t uniqueKeySize = 32;
constexpr std::size_t descriptionOffset = 300;
constexpr std::size_t descriptionSize = 2000;

// Segment header: declared size, 24 opaque bytes, floor, ceiling, 10 opaque bytes,
// N points, P end indices, M pairs of 12-byte records.
constexpr std::size_t segmentHeaderSize = 48;
constexpr std::size_t segmentFloorOffset = 28;
constexpr std::size_t segmentCeilingOffset = 30;
constexpr std::size_t segmentCountsOffset = 42;
constexpr std::size_t endIndexSize = 2;
constexpr std::size_t recordPairSize = 24;
constexpr std::size_t pointSize = 8;

// Anything this short cannot hold the header and one segment header.
constexpr std::size_t minimumLength = headerSize + segmentHeaderSize; // 2348

// The largest set a conversion makes: what the program can read back from an
// instrument, 65536 answers (the whole read's ceiling) of the 256 bytes instruments
// hand out at a time. Real sets stay far below it: a whole country's file is well
// under a megabyte.
constexpr std::size_t largestSetSize = std::size_t { 65536 } * 256; // 16 MiB
} // namespace airspacesFormat

// A point in world Web-Mercator units of 2^-24 of the world's width: x = 0 at 180° W
// growing east, y = 0 at the northern edge of the Mercator square growing south.
struct Point2d {
    std::int32_t x { 0 };
    std::int32_t y { 0 };
    friend bool operator==(const Point2d&, const Point2d&) = default;
};

// One flattened outline of a segment.
struct GlobalPolyline {
    std::vector<Point2d> points;
    int floor { 0 };
    int ceiling { 0 };
    bool closed { false }; // the ring of a segment without end indices
};

// One airspaces set, immutable once built.
class Airspaces {
public:
    // Validates and flattens; nothing (with the reason in the log) for data that is too
    // short, a segment whose declared size does not add up, a segment running past the
    // end of the data, or an end index outside the segment's points.
    static std::optional<Airspaces> initWithDataInInternalFormat(std::shared_ptr<const Bytes> data, LogSink& log);
    static std::optional<Airspaces> initWithDataInInternalFormat(Bytes data, LogSink& log);

    const std::shared_ptr<const Bytes>& internalData() const { return m_internalData; }
    const std::optional<std::string>& airspacesFilename() const { return m_airspacesFilename; }
    const std::optional<std::string>& airspacesDescription() const { return m_airspacesDescription; }
    std::chrono::sys_seconds airspacesUploadDate() const { return m_airspacesUploadDate; }
    std::int64_t numberOfSegments() const { return m_numberOfSegments; }
    const std::vector<GlobalPolyline>& globalPolylines() const { return m_globalPolylines; }
    // One entry per segment, in file order, as the segment headers give them.
    const std::vector<int>& floors() const { return m_floors; }
    const std::vector<int>& ceilings() const { return m_ceilings; }

    // "<Airspaces object> Filename: '…', Description: '…', Upload date: '…'"
    std::string description() const;
    // The set's file name directly followed by its unique key in hexadecimal and ".as".
    std::string buildCacheFilename() const;

private:
    Airspaces() = default;

    std::shared_ptr<const Bytes> m_internalData;
    std::optional<std::string> m_airspacesFilename;
    std::optional<std::string> m_airspacesDescription;
    std::chrono::sys_seconds m_airspacesUploadDate {};
    std::int64_t m_numberOfSegments { 0 };
    std::vector<GlobalPolyline> m_globalPolylines;
    std::vector<int> m_floors;
    std::vector<int> m_ceilings;
};

// The cache file name from a bare header (the instrument's metadata read gives just
// the 2300 header bytes), the same name the set's buildCacheFilename gives: the set's
// file name under safeFileName's rule, shortened so that the unique key in hexadecimal
// and ".as" still fit 255 bytes. Nothing when the bytes do not reach the end of the
// unique key.
std::optional<std::string> buildCacheFilenameFromHeader(ByteView header);

// What a set's header says of it: from the instrument's metadata read (the bare 2300
// header bytes) or from a whole set's first bytes.
struct AirspacesSetHeader {
    std::string fileName;
    std::chrono::sys_seconds uploadDate {};
    // The header's bytes, unique key and upload date among them: two sets are the same
    // set when their headers are equal.
    Bytes bytes;
};
// Nothing when the bytes are shorter than a header.
std::optional<AirspacesSetHeader> readAirspacesSetHeader(ByteView bytes);

// A name for a set in the cache folder. The service's BinaryFileName is kept when
// safeFileName's rule leaves it as it is (at most 255 bytes); otherwise the name built
// from the set's header. Nothing when the set is too short to have a header.
std::optional<std::string> safeCacheFileName(std::string_view serviceFileName, ByteView set);

// The platform's default text of a date: "2026-04-30 12:00:00 +0000".
std::string defaultDateText(std::chrono::sys_seconds date);

} // namespace corvex
