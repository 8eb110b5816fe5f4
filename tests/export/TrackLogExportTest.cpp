// The download commands' shared logic against a scripted instrument: which read path,
// the suggested names made safe, and what each failure reports.
#include "support/DeviceTestRig.h"
#include "export/TrackLogExport.h"
#include "platform/AlertPresenter.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace corvex {
namespace {

using testing::concat;
using testing::hexBytes;
using testing::DeviceTestRig;

class RecordingAlerts final : public AlertPresenter {
public:
    int showAlert(const Alert& alert) override
    {
        alerts.push_back(alert.message + " / " + alert.informativeText);
        return 0;
    }
    std::vector<std::string> alerts;
};

// A first-format flight in one sector. Its time record says 2014-07-05; the H record
// says 5 July 2013, which is what the first path names the file after.
Bytes flightSector(const std::string& aRecordText)
{
    Bytes h(166, 0);
    h[0] = 0xF5;
    std::copy_n(aRecordText.begin(), std::min<std::size_t>(aRecordText.size(), 16), h.begin() + 2);
    h[18] = 5;
    h[19] = 7;
    h[20] = 13;
    Bytes g(35, 0);
    g[0] = 0xF6;
    g[1] = 0x0A;
    g[2] = 0xFF;
    const Bytes data = concat({ hexBytes("FE 0102030405060708"), hexBytes("FE 0A 0B 0C 05 07 0E"),
        hexBytes("F9 0005 1204 09C4 02C8 0000 03E8 FFF4"), h, g });
    return concat({ Bytes { 0x04, 0x00, 0x00, static_cast<std::uint8_t>(data.size()) }, data });
}

// Pilot data: none stored. Track logs: the flight above; without one the track logs
// are silent and the log-book lists garbled.
testing::FakeSerialLine::Responder instrument(std::optional<std::string> aRecordText)
{
    return [aRecordText](const Bytes& request) -> Bytes {
        if (!request.empty() && request[0] == 0x0E)
            return hexBytes("0E 00000000 00000000 0400");
        if (request.size() >= 2 && request[0] == 0x03 && request[1] == 0x03 && aRecordText)
            return flightSector(*aRecordText);
        if (request.size() >= 2 && request[0] == 0x03 && (request[1] == 0x05 || request[1] == 0x06) && !aRecordText)
            return Bytes(89, 0xFF);
        return {};
    };
}

struct ExportRig {
    explicit ExportRig(std::optional<std::string> aRecordText)
        : rig(instrument(std::move(aRecordText)))
    {
        exporter = std::make_unique<TrackLogExport>(
            *rig.device, TrackLogExportOptions { &alerts, "1.2.3" }, rig.context().withProgress(&progress));
    }

    DeviceTestRig rig;
    RecordingAlerts alerts;
    testing::RecordingProgress progress;
    std::unique_ptr<TrackLogExport> exporter;
};

} // namespace

TEST(TrackLogExport, FirstPathNamesTheFlightAfterItsHRecord)
{
    ExportRig rig("XCVABC");
    std::optional<std::string> name;
    const auto igc = rig.exporter->downloadTracklogIntoString(123, TrackLogFileFormat::Igc, &name);
    ASSERT_TRUE(igc);
    EXPECT_EQ(name, "2013-7-5-XCV-ABC-23");
    EXPECT_EQ(igc->substr(0, 21), "AXCVABC\r\nHFDTE050713\r");
    EXPECT_NE(igc->find("\r\nB1011174612250S00712000WA01000-0012\r\n"), std::string::npos) << *igc;
    EXPECT_NE(igc->find("\r\nG0AFF0000"), std::string::npos);
    EXPECT_EQ(rig.rig.line().written.at(1), hexBytes("03 03 00 7B"));

    const auto kml = rig.exporter->downloadTracklogIntoStringForFlight(123, false, &name);
    ASSERT_TRUE(kml);
    EXPECT_NE(kml->find("    -07.20000,-46.20416,-0012\n"), std::string::npos) << *kml;
    EXPECT_TRUE(rig.alerts.alerts.empty());
    EXPECT_TRUE(rig.progress.steps.empty());
}

TEST(TrackLogExport, RecorderTextsThatMakeNoNameOrAnUnsafeOne)
{
    ExportRig shortText("XCVA");
    std::optional<std::string> name;
    ASSERT_TRUE(shortText.exporter->downloadTracklogIntoStringForFlight(5, true, &name));
    EXPECT_EQ(name, "2013-7-5-XCV-cvx-05");

    ExportRig escaping("XCV/../../x");
    ASSERT_TRUE(escaping.exporter->downloadTracklogIntoStringForFlight(7, true, &name));
    ASSERT_TRUE(name);
    EXPECT_EQ(name->find('/'), std::string::npos);
    EXPECT_EQ(name->find(".."), std::string::npos);
}

TEST(TrackLogExport, FailuresReportAsEachPathSays)
{
    ExportRig silent(std::nullopt);
    std::optional<std::string> name = "untouched";
    EXPECT_FALSE(silent.exporter->downloadTracklogIntoStringForFlight(3, true, &name));
    EXPECT_EQ(name, "untouched");
    EXPECT_EQ(silent.alerts.alerts,
        (std::vector<std::string> { "Error dowloading track log / Make sure device has the latest firmware version" }));
    EXPECT_TRUE(silent.rig.log.contains("(null)"));

    // The instrument-made text: the sheet around the read, a log line and no alert.
    silent.alerts.alerts.clear();
    EXPECT_FALSE(silent.exporter->downloadTracklogIntoStringForFlightV2(3, true, &name));
    EXPECT_EQ(silent.progress.steps, (std::vector<std::string> { "step Downloading flight #3. Please wait...", "end" }));
    EXPECT_TRUE(silent.rig.log.contains("igcFileContent is nil, something went wrong"));
    EXPECT_TRUE(silent.alerts.alerts.empty());
    EXPECT_EQ(name, "untouched");

    EXPECT_FALSE(silent.exporter->downloadLogbookText());
    EXPECT_EQ(silent.alerts.alerts,
        (std::vector<std::string> { "Error dowloading logbook / Make sure device has the latest firmware version" }));

    // First path: an unreadable flight list ends the all-flights export silently;
    // second path: it alerts.
    silent.alerts.alerts.clear();
    EXPECT_FALSE(silent.exporter->downloadAllTracklogsIntoFolder("/nonexistent", [] { return TrackLogFileFormat::Igc; })
                     .flightListRead);
    EXPECT_TRUE(silent.alerts.alerts.empty());
    silent.rig.device->setFirmwareSupportsAutomaticTextIgcGeneration(true);
    EXPECT_FALSE(silent.exporter->downloadAllTracklogsIntoFolder("/nonexistent", [] { return TrackLogFileFormat::Igc; })
                     .flightListRead);
    EXPECT_EQ(silent.alerts.alerts, (std::vector<std::string> { "Something went wrong / Unable to download tracklogs" }));
}

} // namespace corvex
