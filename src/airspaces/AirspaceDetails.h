#pragma once

#include "airspaces/Airspaces.h"
#include "airspaces/OpenAirParser.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvex {

// What a set's outlines are: the name, class and limits of the airspace each polyline
// was made from. The set itself keeps only a truncated name and codes for the
// instrument, so this is known only where the OpenAir text it came from is.
class AirspaceDetails {
public:
    // Each polyline of the set matched to the airspace of the OpenAir text that has
    // its first point and number of points (the conversion writes every outline as it
    // is, in the set's own units). Polylines of another set find nothing.
    static AirspaceDetails forSet(const Airspaces& set, std::string_view openAirText);

    // "Sydney CTR · class C · SFC–4500 ft", or nothing when no airspace of the text
    // made that polyline.
    std::optional<std::string> describe(std::size_t polylineIndex) const;
    // How many polylines were matched.
    std::size_t matched() const { return m_matched; }

private:
    std::vector<std::optional<std::string>> m_texts;
    std::size_t m_matched { 0 };
};

// "SFC", "1500 ft AGL", "4500 ft", "FL 125", "UNL", or the file's own text for a limit
// given by other means.
std::string altitudeText(const openair::Altitude& altitude);
std::string describeAirspace(const openair::Airspace& airspace);

} // namespace corvex
