#include "airspaces/AirspaceDetails.h"

#include "airspaces/OpenAirConversion.h"

#include <cmath>
#include <map>
#include <tuple>

namespace corvex {

namespace {

using OutlineKey = std::tuple<std::int32_t, std::int32_t, std::size_t>;

std::string feetText(double feet) { return std::to_string(std::lround(feet)) + " ft"; }

} // namespace

std::string altitudeText(const openair::Altitude& altitude)
{
    using Reference = openair::Altitude::Reference;
    switch (altitude.reference) {
    case Reference::Ground:
        return altitude.feet <= 0 ? std::string("SFC") : feetText(altitude.feet) + " AGL";
    case Reference::MeanSeaLevel:
        return feetText(altitude.feet);
    case Reference::StandardPressure:
        return "FL " + std::to_string(std::lround(altitude.feet / 100));
    case Reference::Unlimited:
        return "UNL";
    case Reference::Unspecified:
        break;
    }
    return altitude.text;
}

std::string describeAirspace(const openair::Airspace& airspace)
{
    std::string text = airspace.name.empty() ? std::string("Unnamed airspace") : airspace.name;
    if (!airspace.airspaceClass.empty())
        text += " · class " + airspace.airspaceClass;
    return text + " · " + altitudeText(airspace.floor) + "–" + altitudeText(airspace.ceiling);
}

AirspaceDetails AirspaceDetails::forSet(const Airspaces& set, std::string_view openAirText)
{
    const openair::ParseResult parsed = openair::parse(openair::decodeFileText(openAirText));
    // Several airspaces may share a first point and a size (a sector split in height):
    // they are taken in file order, as the set holds them.
    std::multimap<OutlineKey, const openair::Airspace*> byOutline;
    for (const openair::Airspace& airspace : parsed.airspaces) {
        if (airspace.outline.empty())
            continue;
        const Point2d first = openair::mercatorPoint(airspace.outline.front());
        byOutline.emplace(OutlineKey { first.x, first.y, airspace.outline.size() }, &airspace);
    }
    AirspaceDetails details;
    details.m_texts.resize(set.globalPolylines().size());
    for (std::size_t index = 0; index < set.globalPolylines().size(); ++index) {
        const GlobalPolyline& polyline = set.globalPolylines()[index];
        if (polyline.points.empty())
            continue;
        // A ring comes back with its first point repeated at its end.
        const std::size_t size = polyline.points.size() - (polyline.closed ? 1 : 0);
        const OutlineKey key { polyline.points.front().x, polyline.points.front().y, size };
        const auto found = byOutline.lower_bound(key);
        if (found == byOutline.end() || found->first != key)
            continue;
        details.m_texts[index] = describeAirspace(*found->second);
        ++details.m_matched;
        byOutline.erase(found);
    }
    return details;
}

std::optional<std::string> AirspaceDetails::describe(std::size_t polylineIndex) const
{
    if (polylineIndex >= m_texts.size())
        return std::nullopt;
    return m_texts[polylineIndex];
}

} // namespace corvex
