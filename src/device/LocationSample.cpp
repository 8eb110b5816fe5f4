#include "device/LocationSample.h"

#include "base/ByteReader.h"
#include "device/LogBookCodec.h"
#include "platform/LogSink.h"

#include <algorithm>

namespace corvex {

LogFlightHeader LogFlightHeader::fromBytes(std::span<const std::uint8_t, 20> header)
{
    LogFlightHeader result;
    std::copy(header.begin(), header.end(), result.bytes.begin());
    return result;
}

std::uint16_t LogFlightHeader::dataOffset() const
{
    ByteReader reader(bytes);
    reader.seek(2);
    return reader.u16le().value_or(0);
}

namespace {

// The 15 bytes both record forms share: type, seconds, latitude, longitude, elevations.
LocationSample decodeCommonFields(ByteView record, std::optional<std::chrono::sys_seconds> timeBase,
    std::uint16_t& gpsElevationUnsigned)
{
    ByteReader reader(record);
    const std::uint8_t type = reader.u8().value_or(0);
    const std::uint16_t seconds = reader.u16be().value_or(0);
    const std::uint16_t latitudeInt = reader.u16be().value_or(0);
    const std::uint16_t latitudeFract = reader.u16be().value_or(0);
    const std::uint16_t longitudeInt = reader.u16be().value_or(0);
    const std::uint16_t longitudeFract = reader.u16be().value_or(0);
    const std::int16_t barometer = reader.i16be().value_or(0);
    gpsElevationUnsigned = reader.u16be().value_or(0);

    // The type byte carries the hemispheres: 0xF8 + 1 for south + 2 for east.
    const std::uint8_t hemispheres = static_cast<std::uint8_t>(type - 0xF8);
    const bool south = hemispheres & 0x01;
    const bool east = hemispheres & 0x02;

    LocationSample sample;
    sample.latitude = locationIntFractToDegrees(latitudeInt, latitudeFract) * (south ? -1 : 1);
    sample.longitude = locationIntFractToDegrees(longitudeInt, longitudeFract) * (east ? 1 : -1);
    sample.barometerElevation = barometer;
    sample.gpsElevation = static_cast<std::int16_t>(gpsElevationUnsigned);
    if (timeBase)
        sample.sampleDate = *timeBase + std::chrono::seconds(seconds);
    sample.deviceLatitudeInt = latitudeInt;
    sample.deviceLatitudeFract = latitudeFract;
    sample.deviceLongitudeInt = longitudeInt;
    sample.deviceLongitudeFract = longitudeFract;
    return sample;
}

} // namespace

LocationSample LocationSample::initWithLogRecord(
    std::span<const std::uint8_t, 15> record, std::optional<std::chrono::sys_seconds> referenceTimeBase)
{
    std::uint16_t gpsElevation = 0;
    return decodeCommonFields(record, referenceTimeBase, gpsElevation);
}

LocationSample LocationSample::initWithLogRecordV2(std::span<const std::uint8_t, 16> record,
    std::optional<std::chrono::sys_seconds> referenceTimeBase, const LogFlightHeader& flightHeader)
{
    std::uint16_t gpsElevation = 0;
    LocationSample sample = decodeCommonFields(record, referenceTimeBase, gpsElevation);
    // The extension byte lifts the GPS elevation past what the signed field holds; the
    // sum is kept as 16 bits, as the instrument means it.
    if (flightHeader.gpsElevationExtensionFlag() == 1)
        sample.gpsElevation = static_cast<std::int16_t>(static_cast<std::uint16_t>(gpsElevation + record[15]));
    return sample;
}

std::string LocationSample::description() const
{
    return formatString("time: %s, lat: %0.5f, lon: %0.5f, barometerElevation: %d, gpsElevation: %d",
        dateDescription(sampleDate).c_str(), latitude, longitude, barometerElevation, gpsElevation);
}

std::string dateDescription(const std::optional<std::chrono::sys_seconds>& date)
{
    if (!date)
        return "(null)";
    const auto days = std::chrono::floor<std::chrono::days>(*date);
    const std::chrono::year_month_day ymd { days };
    const std::chrono::hh_mm_ss time { *date - days };
    return formatString("%04d-%02u-%02u %02ld:%02ld:%02ld +0000", static_cast<int>(ymd.year()),
        static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()), static_cast<long>(time.hours().count()),
        static_cast<long>(time.minutes().count()), static_cast<long>(time.seconds().count()));
}

} // namespace corvex
