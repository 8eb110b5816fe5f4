#pragma once

#include "base/Bytes.h"
#include "device/LocationSample.h"
#include "device/PilotData.h"
#include "device/TrackLogCodec.h"

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

// The IGC flight-recorder file of one decoded track log, for instruments whose firmware
// does not write the file itself. Pure: the program version and the moment of writing
// come in with the call, so the text depends on nothing else.
namespace corvex {

struct WriterStamp {
    std::string programVersion; // the short version string, "0.1.0"
    std::chrono::system_clock::time_point downloadedAt; // printed in the local time zone
};

// The whole file text, CR LF after every line. An empty track gives a file without
// B lines. A sample without a date (recorded before the first time record) has no
// time to put in a B record and is left out.
std::string generateIgcFileForSamples(const std::vector<LocationSample>& samples, const PilotData& pilotData,
    const HRecord& hRecord, const GRecord& gRecord, const WriterStamp& stamp);

// Upper-case hexadecimal, "%02X" per byte, in buffer order; at most length bytes, and
// never more than the buffer holds.
std::string hexStringWithData(ByteView data, std::size_t ofLength);

} // namespace corvex
