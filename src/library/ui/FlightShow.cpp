#include "library/ui/FlightShow.h"

namespace corvex::library {

namespace {

constexpr std::int64_t climbWindowSeconds = 8;

QString signedText(Quantity quantity, double value, UnitSystem units)
{
    const std::string number = quantityNumber(quantity, value, units);
    return QString::fromStdString((number.front() == '-' ? "" : "+") + number + " " + unitLabel(quantity, units));
}

} // namespace

std::shared_ptr<TrackPoints> flightTrack(const flights::IgcFlight& igc, bool& pressure)
{
    auto track = std::make_shared<TrackPoints>();
    track->reserve(igc.fixes.size());
    pressure = false;
    for (const flights::IgcFix& fix : igc.fixes)
        pressure |= fix.pressureAltitude != 0;
    for (const flights::IgcFix& fix : igc.fixes) {
        TrackPoint point;
        point.position = { fix.latitude, fix.longitude };
        point.altitude = pressure ? fix.pressureAltitude : fix.gnssAltitude;
        point.time = fix.time;
        track->push_back(point);
    }
    std::size_t back = 0;
    for (std::size_t i = 0; i < track->size(); ++i) {
        TrackPoint& point = (*track)[i];
        while (back + 1 < i && point.time - (*track)[back + 1].time >= climbWindowSeconds)
            ++back;
        const std::int64_t span = point.time - (*track)[back].time;
        point.vario = span > 0 ? (point.altitude - (*track)[back].altitude) / double(span) : 0.0;
    }
    return track;
}

QString varioText(double metresPerSecond, UnitSystem units)
{
    return signedText(Quantity::Vario, metresPerSecond, units);
}

QString signedAltitudeText(double metres, UnitSystem units)
{
    return signedText(Quantity::Altitude, metres, units);
}

} // namespace corvex::library
