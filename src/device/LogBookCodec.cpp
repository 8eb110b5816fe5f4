#include "device/LogBookCodec.h"

#include "base/ByteReader.h"
#include "device/Protocol.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace corvex {

using namespace protocol;

std::optional<DeviceInfo> decodeDeviceInfo(ByteView answer)
{
    if (answer.size() < deviceInfoMinimumLength || answer[0] != byte(Command::DeviceInfoResponse))
        return std::nullopt;
    ByteReader reader(answer);
    reader.skip(1);
    DeviceInfo info;
    info.deviceId = *reader.u32be();
    reader.skip(2);
    info.firmwareVer = *reader.u16be();
    info.batteryVoltage = *reader.u8();
    return info;
}

std::optional<std::uint8_t> decodeUnitsBitfield(ByteView answer)
{
    if (answer.size() != unitsBitfieldLength || answer[0] != byte(Command::UnitsBitfield))
        return std::nullopt;
    return answer[1];
}

std::optional<ListTracksHeader> decodeListTracksHeader(ByteView answer)
{
    ByteReader reader(answer);
    ListTracksHeader header;
    header.messageId = reader.u8().value_or(0);
    header.blockField = reader.u16be().value_or(0);
    header.size = reader.u8().value_or(0);
    if (reader.failed())
        return std::nullopt;
    return header;
}

namespace {

// Bytes 6 to 14, shared by both lists.
bool readFlightIdentity(ByteReader& reader, FlightRecord& record)
{
    reader.seek(6);
    record.flightNumber = reader.u16be().value_or(0);
    record.hour = reader.u8().value_or(0);
    record.minute = reader.u8().value_or(0);
    record.day = reader.u8().value_or(0);
    record.month = reader.u8().value_or(0);
    record.year = reader.u8().value_or(0);
    record.duration = reader.u16be().value_or(0);
    return !reader.failed();
}

double readCoordinate(ByteReader& reader)
{
    std::uint16_t degreesAndMinutes = reader.u16be().value_or(0);
    std::uint16_t fraction = reader.u16be().value_or(0);
    return locationIntFractToDegrees(degreesAndMinutes, fraction);
}

} // namespace

std::optional<FlightRecord> decodeShortFlightRecord(ByteView answer)
{
    ByteReader reader(answer);
    FlightRecord record;
    if (!readFlightIdentity(reader, record))
        return std::nullopt;
    return record;
}

std::optional<FlightRecord> decodeFullFlightRecord(ByteView answer)
{
    if (answer.size() < listTracksFullMinimum)
        return std::nullopt;
    ByteReader reader(answer);
    FlightRecord record;
    readFlightIdentity(reader, record);
    record.startAltitude = reader.u16be().value_or(0);
    record.endAltitude = reader.u16be().value_or(0);
    record.maxAltitude = reader.u16be().value_or(0);
    record.maxDistance = reader.u16be().value_or(0);
    record.maxLift = reader.u16be().value_or(0);
    record.avgLift = reader.u16be().value_or(0);
    record.maxSink = reader.i16be().value_or(0);
    record.maxTemperature = reader.u8().value_or(0);
    record.minTemperature = reader.u8().value_or(0);
    record.launchLatitude = readCoordinate(reader);
    record.launchLongitude = readCoordinate(reader);
    reader.skip(1);
    record.landingLatitude = readCoordinate(reader);
    record.landingLongitude = readCoordinate(reader);
    reader.skip(1);
    record.maxGroundSpeed = reader.u16be().value_or(0);
    record.maxWindSpeed = reader.u16be().value_or(0);
    if (reader.failed())
        return std::nullopt;
    return record;
}

void applyUnitsBitfield(FlightRecord& record, std::uint8_t bitfield)
{
    if (bitfield & 0x04) {
        auto toFeet = [](std::int32_t metres) { return static_cast<std::int32_t>(std::trunc(metres * 3.2808399 + 0.5)); };
        record.startAltitude = toFeet(record.startAltitude);
        record.endAltitude = toFeet(record.endAltitude);
        record.maxAltitude = toFeet(record.maxAltitude);
    }
    if (bitfield & 0x02)
        record.maxDistance *= 0.621371;
    if (bitfield & 0x20) {
        record.maxLift = record.maxLift * 196.850394 + 5;
        record.avgLift = record.avgLift * 196.850394 + 5;
        record.maxSink = record.maxSink * 196.850394 + 5;
        record.useMetersVerticalSpeedRounding = false;
    } else {
        record.useMetersVerticalSpeedRounding = true;
    }
    if (!(bitfield & 0x01)) {
        auto toCelsius = [](std::int32_t fahrenheit) { return static_cast<std::int32_t>(std::trunc((5.0 * fahrenheit - 160) / 9)); };
        record.maxTemperature = toCelsius(record.maxTemperature);
        record.minTemperature = toCelsius(record.minTemperature);
    }
    if (bitfield & 0x10) {
        record.maxGroundSpeed *= 0.6214;
        record.maxWindSpeed *= 0.6214;
    }
    record.dayComesBeforeMonthDateFormat = !(bitfield & 0x08);
}

double locationIntFractToDegrees(std::uint16_t degreesAndMinutes, std::uint16_t minuteFraction)
{
    const int whole = degreesAndMinutes / 100;
    const int minutes = degreesAndMinutes % 100;
    return whole + (minutes + minuteFraction / 10000.0) / 60;
}

DegreesMinutes degreesMinutesOf(double degrees)
{
    DegreesMinutes angle;
    if (std::isnan(degrees))
        return angle;
    angle.negative = degrees < 0;
    constexpr long long unitsPerDegree = 60 * 10000;
    // Far beyond any angle; keeps the product inside a long long.
    const double magnitude = std::min(std::fabs(degrees), 1e9);
    const long long units = std::llround(magnitude * unitsPerDegree);
    angle.degrees = units / unitsPerDegree;
    angle.minutes = static_cast<int>(units % unitsPerDegree / 10000);
    angle.minuteTenThousandths = static_cast<int>(units % 10000);
    if (units == 0)
        angle.negative = false;
    return angle;
}

namespace {

struct Decimal {
    bool negative { false };
    std::string integerDigits; // without leading zeros
    std::string fractionDigits; // without trailing zeros
};

std::optional<Decimal> parseDecimal(std::string_view text)
{
    Decimal decimal;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        decimal.negative = text[i++] == '-';
    bool sawDigit = false;
    bool inFraction = false;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c == '.' && !inFraction) {
            inFraction = true;
        } else if (c >= '0' && c <= '9') {
            sawDigit = true;
            (inFraction ? decimal.fractionDigits : decimal.integerDigits).push_back(c);
        } else {
            return std::nullopt;
        }
    }
    if (!sawDigit)
        return std::nullopt;
    decimal.integerDigits.erase(0, decimal.integerDigits.find_first_not_of('0'));
    decimal.fractionDigits.erase(decimal.fractionDigits.find_last_not_of('0') + 1);
    if (decimal.integerDigits.empty() && decimal.fractionDigits.empty())
        decimal.negative = false;
    return decimal;
}

int compareMagnitudes(const Decimal& a, const Decimal& b)
{
    if (a.integerDigits.size() != b.integerDigits.size())
        return a.integerDigits.size() < b.integerDigits.size() ? -1 : 1;
    if (int c = a.integerDigits.compare(b.integerDigits))
        return c < 0 ? -1 : 1;
    if (int c = a.fractionDigits.compare(b.fractionDigits))
        return c < 0 ? -1 : 1;
    return 0;
}

} // namespace

std::optional<int> compareDecimalTexts(std::string_view left, std::string_view right)
{
    auto a = parseDecimal(left);
    auto b = parseDecimal(right);
    if (!a || !b)
        return std::nullopt;
    if (a->negative != b->negative)
        return a->negative ? -1 : 1;
    int magnitude = compareMagnitudes(*a, *b);
    return a->negative ? -magnitude : magnitude;
}

} // namespace corvex
