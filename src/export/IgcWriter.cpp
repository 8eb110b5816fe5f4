#include "export/IgcWriter.h"

#include "platform/LocalTime.h"
#include "platform/LogSink.h"

#include <algorithm>
#include <ctime>

namespace corvex {

namespace {

std::string utcTimeOfDay(std::chrono::sys_seconds moment)
{
    const auto day = std::chrono::floor<std::chrono::days>(moment);
    const std::chrono::hh_mm_ss time { moment - day };
    return formatString("%02d%02d%02d", static_cast<int>(time.hours().count()),
        static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()));
}

// "B" HHMMSS DDMMmmm N/S DDDMMmmm E/W A PPPPP GGGGG: the position digits come from the
// instrument's own degree-minute fields; the floating-point degrees give only the
// hemisphere, so the file carries exactly what the recorder stored.
std::string bRecord(const LocationSample& sample)
{
    const std::string latitude = formatString("%04d%03d%s", sample.deviceLatitudeInt, sample.deviceLatitudeFract / 10,
        sample.latitude >= 0 ? "N" : "S");
    const std::string longitude = formatString("%05d%03d%s", sample.deviceLongitudeInt,
        sample.deviceLongitudeFract / 10, sample.longitude >= 0 ? "E" : "W");
    return formatString("B%s%s%sA%05d%05d\r\n", utcTimeOfDay(*sample.sampleDate).c_str(), latitude.c_str(),
        longitude.c_str(), static_cast<int>(sample.barometerElevation), static_cast<int>(sample.gpsElevation));
}

} // namespace

std::string hexStringWithData(ByteView data, std::size_t ofLength)
{
    std::string hex;
    const std::size_t count = std::min(ofLength, data.size());
    hex.reserve(count * 2);
    for (std::size_t i = 0; i < count; ++i)
        hex += formatString("%02X", data[i]);
    return hex;
}

std::string generateIgcFileForSamples(const std::vector<LocationSample>& samples, const PilotData& pilotData,
    const HRecord& hRecord, const GRecord& gRecord, const WriterStamp& stamp)
{
    std::string igc;
    igc += formatString("A%s\r\n", hRecord.aRecordText().c_str());
    igc += formatString("HFDTE%02d%02d%02d\r\n", hRecord.day(), hRecord.month(), hRecord.year());
    igc += formatString("HFFXA%d\r\n", hRecord.fixAccuracy());
    igc += formatString("HFPLTPILOTINCHARGE:%s\r\n", pilotData.pilot().c_str());
    igc += formatString("HFGTYGLIDERTYPE:%s\r\n", pilotData.gliderType().c_str());
    // GID, the code for a glider id: readers take a second GTY line as the glider type
    // and lose the real one.
    igc += formatString("HFGIDGLIDERID:%s\r\n", pilotData.gliderId().c_str());
    igc += formatString("HFDTM100GPSDATUM:%s\r\n", hRecord.gpsDatum().c_str());
    igc += formatString("HFRFWFIRMWAREVERSION:%04d\r\n", hRecord.firmwareVersion());
    igc += formatString("HFRHWHARDWAREVERSION:%04d\r\n", hRecord.hardwareVersion());
    igc += formatString("HFFTYFRTYPE:%s\r\n", hRecord.flightRecorderType().c_str());
    igc += formatString("HFGPS%s\r\n", hRecord.gpsReceiver().c_str());
    igc += formatString("HFPRSPRESSALTSENSOR:%s\r\n", hRecord.pressureAltitudeSensor().c_str());
    igc += formatString("HOCIDCOMPETITIONID:%s\r\n", pilotData.competitionId().c_str());
    igc += formatString("HOCCLCOMPETITIONCLASS:%s\r\n", pilotData.competitionClass().c_str());
    igc += formatString("HOSITSITE:%s\r\n", pilotData.site().c_str());
    for (const LocationSample& sample : samples) {
        if (sample.sampleDate)
            igc += bRecord(sample);
    }
    igc += formatString("LXCV HUB version Mac %s\r\n", stamp.programVersion.c_str());
    igc += formatString("LXCV Downloaded %s\r\n", localTimeText(stamp.downloadedAt).c_str());
    igc += formatString("G%s\r\n", hexStringWithData(gRecord.securityData(), 34).c_str());
    return igc;
}

} // namespace corvex
