// The track-log walk of both formats on arbitrary flight data (the first byte picks
// the format), with everything the download then makes of the walk.
#include "NullLog.h"
#include "device/TrackLogCodec.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace corvex;
    if (size == 0)
        return 0;
    const auto format = data[0] & 1 ? TrackLogFormat::Second : TrackLogFormat::First;
    const ByteView flightData(data + 1, size - 1);
    NullLog log;
    auto walk = walkTrackLog(flightData, format, log);
    if (!walk)
        return 0;
    // Every sample stands on a location record of at least 15 bytes.
    if (walk->samples.size() > flightData.size() / 15)
        std::abort();
    if (const auto& h = walk->hRecord) {
        (void)h->gpsDatum();
        (void)h->flightRecorderType();
        (void)h->gpsReceiver();
        (void)h->pressureAltitudeSensor();
        (void)h->fixAccuracy();
    }
    (void)walk->latestTime.timeBase();
    const std::string name = suggestedTrackLogFilename(walk->hRecord ? &*walk->hRecord : nullptr, walk->latestTime, data[0]);
    if (name.find('/') != std::string::npos || safeFileName(name) != name)
        std::abort();
    return 0;
}
