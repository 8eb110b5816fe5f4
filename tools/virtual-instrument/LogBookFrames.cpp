#include "LogBookFrames.h"

#include "ByteWriter.h"
#include "device/Protocol.h"

#include <algorithm>

namespace corvex::virtualinstrument {

using namespace corvex::protocol;

namespace {

void coordinate(ByteWriter& writer, const InstrumentCoordinate& value)
{
    // The log book has no hemisphere: absolute values only.
    writer.u16be(value.degreesAndMinutes).u16be(value.minuteFraction);
}

// Floor division that also rounds negative numerators down.
int floorDivide(int numerator, int denominator)
{
    int quotient = numerator / denominator;
    if ((numerator % denominator != 0) && ((numerator < 0) != (denominator < 0)))
        --quotient;
    return quotient;
}

} // namespace

Bytes encodeDeviceInfo(const Identity& identity)
{
    ByteWriter writer;
    writer.u8(byte(Command::DeviceInfoResponse))
        .u32be(identity.deviceId)
        .zeros(2)
        .u16be(identity.firmwareVersion)
        .u8(identity.batteryTenthsOfVolt)
        .padTo(deviceInfoRequestLength);
    return writer.take();
}

Bytes encodeUnitsBitfield(std::uint8_t bits)
{
    return Bytes { byte(Command::UnitsBitfield), bits };
}

std::uint8_t encodeTemperature(int celsius, std::uint8_t unitsBitfield)
{
    int stored = celsius;
    if (!(unitsBitfield & 0x01)) {
        // The program turns the stored value v into trunc((5v - 160) / 9): pick the
        // Fahrenheit value whose truncation lands on the Celsius value (truncation goes
        // towards zero, so the rounding direction flips below 0 °C).
        int scaled = 9 * celsius + 160;
        stored = celsius >= 0 ? -floorDivide(-scaled, 5) : floorDivide(scaled, 5);
    }
    return static_cast<std::uint8_t>(std::clamp(stored, 0, 255));
}

Bytes encodeListTracksRecord(const LogBookEntry& entry, std::uint16_t blockField, std::uint8_t unitsBitfield)
{
    ByteWriter writer;
    writer.u8(byte(Command::ListTracksRecord))
        .u16be(blockField)
        .u8(static_cast<std::uint8_t>(listTracksRecordSize))
        .zeros(2)
        .u16be(entry.flightNumber)
        .u8(static_cast<std::uint8_t>(entry.hour))
        .u8(static_cast<std::uint8_t>(entry.minute))
        .u8(static_cast<std::uint8_t>(entry.date.day))
        .u8(static_cast<std::uint8_t>(entry.date.month))
        .u8(static_cast<std::uint8_t>(entry.date.year % 100))
        .u16be(entry.duration)
        .u16be(entry.startAltitude)
        .u16be(entry.endAltitude)
        .u16be(entry.maxAltitude)
        .u16be(entry.maxDistance)
        .u16be(entry.maxLift)
        .u16be(entry.avgLift)
        .i16be(entry.maxSink)
        .u8(encodeTemperature(entry.maxTemperature, unitsBitfield))
        .u8(encodeTemperature(entry.minTemperature, unitsBitfield));
    coordinate(writer, entry.launchLatitude);
    coordinate(writer, entry.launchLongitude);
    writer.zeros(1);
    coordinate(writer, entry.landingLatitude);
    coordinate(writer, entry.landingLongitude);
    writer.zeros(1).u16be(entry.maxGroundSpeed).u16be(entry.maxWindSpeed).padTo(listTracksRecordSize);
    return writer.take();
}

Bytes encodeEmptyListTracksRecord(std::size_t length, std::uint16_t blockField)
{
    ByteWriter writer;
    writer.u8(byte(Command::ListTracksRecord)).u16be(blockField).u8(static_cast<std::uint8_t>(length)).padTo(length);
    return writer.take();
}

Bytes encodeErasedListTracksRecord(std::uint16_t blockField)
{
    ByteWriter writer;
    writer.u8(byte(Command::ListTracksRecord))
        .u16be(blockField)
        .u8(static_cast<std::uint8_t>(listTracksRecordSize))
        .padTo(listTracksRecordSize);
    return writer.take();
}

Bytes encodeEraseAcknowledgement()
{
    ByteWriter writer;
    writer.u8(byte(Command::LogBook)).u8(byte(LogBookOperation::EraseAll)).padTo(eraseAnswerLength);
    return writer.take();
}

} // namespace corvex::virtualinstrument
