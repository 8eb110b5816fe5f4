#include "library/PlaceNames.h"

#include "base/FileRead.h"

#include <pugixml.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>

namespace corvex::library {

namespace {

// The file is 1.6 MB; room for it to grow, not for a disk image named by mistake.
constexpr std::size_t largestFileBytes = 8u << 20;
constexpr std::size_t longestName = 100;

std::optional<double> number(std::string_view& text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\n' || text.front() == '\r'))
        text.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc {} || !std::isfinite(value))
        return std::nullopt;
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    return value;
}

// "46.52 6.63": latitude and longitude in degrees.
std::optional<GeoPoint> coordinates(std::string_view text)
{
    const auto latitude = number(text);
    const auto longitude = number(text);
    if (!latitude || !longitude || std::abs(*latitude) > 90 || std::abs(*longitude) > 180)
        return std::nullopt;
    return GeoPoint { *latitude, *longitude };
}

class CityWalker : public pugi::xml_tree_walker {
public:
    std::vector<Place> places;

    bool for_each(pugi::xml_node& node) override
    {
        if (std::string_view(node.name()) != "city")
            return true;
        pugi::xml_node name = node.child("_name");
        if (!name)
            name = node.child("name");
        const std::string_view text = name.child_value();
        const auto position = coordinates(node.child_value("coordinates"));
        if (!text.empty() && text.size() <= longestName && position)
            places.push_back({ std::string(text), *position });
        return places.size() < PlaceList::largestPlaceCount;
    }
};

} // namespace

PlaceList PlaceList::read(const std::string& path)
{
    const auto text = readFileWhole(path, largestFileBytes);
    if (!text)
        return PlaceList();
    pugi::xml_document document;
    if (!document.load_buffer(text->data(), text->size(), pugi::parse_default, pugi::encoding_utf8))
        return PlaceList();
    CityWalker walker;
    document.traverse(walker);
    return PlaceList(std::move(walker.places));
}

PlaceList::PlaceList(std::vector<Place> places)
    : m_places(std::move(places))
{
    std::sort(m_places.begin(), m_places.end(),
        [](const Place& a, const Place& b) { return a.position.latitude < b.position.latitude; });
}

std::optional<Place> PlaceList::nearest(GeoPoint point, double withinMetres) const
{
    // Only the band of latitudes within reach is measured.
    const double band = withinMetres / 110574 + 1e-9;
    auto each = std::lower_bound(m_places.begin(), m_places.end(), point.latitude - band,
        [](const Place& place, double latitude) { return place.position.latitude < latitude; });
    const Place* best = nullptr;
    double bestDistance = withinMetres;
    for (; each != m_places.end() && each->position.latitude <= point.latitude + band; ++each) {
        const double distance = geo::geodesicDistanceMetres(point, each->position);
        if (distance <= bestDistance) {
            bestDistance = distance;
            best = &*each;
        }
    }
    if (!best)
        return std::nullopt;
    return *best;
}

std::string PlaceList::suggestion(GeoPoint point) const
{
    const auto place = nearest(point);
    return place ? "near " + place->name : std::string {};
}

} // namespace corvex::library
