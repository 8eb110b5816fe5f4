#pragma once

#include "device/LocationSample.h"
#include "device/PilotData.h"
#include "device/TrackLogCodec.h"

#include <string>
#include <vector>

// The KML 2.2 document of one decoded track log: the flight as one line drawn at
// absolute altitude. Only the track points reach the text; the records are taken so
// that both writers have one shape.
namespace corvex {

std::string generateKmlFileForSamples(
    const std::vector<LocationSample>& samples, const PilotData& pilotData, const HRecord& hRecord, const GRecord& gRecord);

// The coordinate as printed: cut toward zero to a whole number of hundred-thousandths,
// in hundred-thousandths (6.123456789 gives 612345, -45.999999 gives -4599999). A value
// that already is such a number (7.0, 46.12345) keeps it, though its binary form may lie
// a hair below it.
long long hundredThousandthsTowardZero(double degrees);

} // namespace corvex
