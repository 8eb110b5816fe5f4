// Real IGC files through the virtual instrument's track-log sectors and IGC text, back
// through the real CorvexDevice over a pty. The expected values come from the IGC files
// themselves, read by the small reader below (not the instrument's).
#include "CapturingLogSink.h"
#include "TemporaryFolder.h"
#include "VirtualInstrumentProcess.h"
#include "device/CorvexDevice.h"
#include "platform/PosixSerialLine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

using namespace corvex;
using namespace corvex::testing;

namespace {

const std::string igcFolder = CORVEX_TESTDATA_DIR "/igc";

// The lines of an IGC file without their line ends; empty lines left out.
std::vector<std::string> igcLines(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            lines.push_back(line);
    }
    return lines;
}

struct Fix {
    std::chrono::sys_seconds time;
    int latitudeDegreesAndMinutes;
    int latitudeThousandths;
    bool south;
    int longitudeDegreesAndMinutes;
    int longitudeThousandths;
    bool west;
    int pressureAltitude;
    int gnssAltitude;
};

int number(const std::string& text, std::size_t from, std::size_t count)
{
    return std::stoi(text.substr(from, count));
}

// The B records with their UTC moments: the date of HFDTE ("HFDTEddmmyy" or
// "HFDTEDATE:ddmmyy,nn"), a day added whenever the time of day runs backwards.
std::vector<Fix> igcFixes(const std::vector<std::string>& lines)
{
    std::chrono::sys_days day {};
    for (const std::string& line : lines) {
        if (line.rfind("HFDTE", 0) != 0)
            continue;
        const std::size_t digits = line.find_first_of("0123456789");
        day = std::chrono::sys_days(std::chrono::year(2000 + number(line, digits + 4, 2))
            / number(line, digits + 2, 2) / number(line, digits, 2));
        break;
    }
    std::vector<Fix> fixes;
    int previousSecondOfDay = -1;
    for (const std::string& line : lines) {
        if (line.size() < 35 || line[0] != 'B')
            continue;
        // B HHMMSS DDMMmmm N DDDMMmmm E V PPPPP GGGGG
        const int secondOfDay = number(line, 1, 2) * 3600 + number(line, 3, 2) * 60 + number(line, 5, 2);
        if (secondOfDay < previousSecondOfDay)
            day += std::chrono::days(1);
        previousSecondOfDay = secondOfDay;
        Fix fix;
        fix.time = day + std::chrono::seconds(secondOfDay);
        fix.latitudeDegreesAndMinutes = number(line, 7, 4);
        fix.latitudeThousandths = number(line, 11, 3);
        fix.south = line[14] == 'S';
        fix.longitudeDegreesAndMinutes = number(line, 15, 5);
        fix.longitudeThousandths = number(line, 20, 3);
        fix.west = line[23] == 'W';
        fix.pressureAltitude = number(line, 25, 5);
        fix.gnssAltitude = number(line, 30, 5);
        fixes.push_back(fix);
    }
    return fixes;
}

// The instrument numbers its flights from 1 in the order of the files' names.
std::vector<std::string> flightFiles()
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(igcFolder)) {
        const std::string name = entry.path().filename().string();
        if (name.ends_with(".igc") || name.ends_with(".IGC"))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

int flightNumberOf(const std::string& fileName)
{
    const auto names = flightFiles();
    return static_cast<int>(std::find(names.begin(), names.end(), fileName) - names.begin()) + 1;
}

struct PtyDevice {
    explicit PtyDevice(const std::string& path)
    {
        CorvexDeviceEnvironment environment;
        environment.ports = &ports;
        environment.applicationVersion = "0.1.0";
        device = std::make_unique<CorvexDevice>(nullptr, environment, OperationContext(log).withClock([] {
            return std::chrono::system_clock::time_point(std::chrono::sys_days(std::chrono::year(2026) / 1 / 2));
        }));
        device->corvexDeviceMatchedAtBsdPath(path, 1);
        ready = device->hasOpenLine() && device->initializeDevice() && device->getDeviceInfo().hasValue();
    }

    PosixSerialPortOpener ports;
    CapturingLogSink log;
    std::unique_ptr<CorvexDevice> device;
    bool ready { false };
};

void expectSamplesMatchFixes(const std::vector<LocationSample>& samples, const std::vector<Fix>& fixes, const std::string& what)
{
    ASSERT_EQ(samples.size(), fixes.size()) << what;
    for (std::size_t i = 0; i < fixes.size(); ++i) {
        const LocationSample& sample = samples[i];
        const Fix& fix = fixes[i];
        ASSERT_TRUE(sample.sampleDate) << what << " fix " << i;
        ASSERT_EQ(*sample.sampleDate, fix.time) << what << " fix " << i;
        ASSERT_EQ(sample.deviceLatitudeInt, fix.latitudeDegreesAndMinutes) << what << " fix " << i;
        ASSERT_EQ(sample.deviceLatitudeFract / 10, fix.latitudeThousandths) << what << " fix " << i;
        ASSERT_EQ(sample.latitude < 0, fix.south) << what << " fix " << i;
        ASSERT_EQ(sample.deviceLongitudeInt, fix.longitudeDegreesAndMinutes) << what << " fix " << i;
        ASSERT_EQ(sample.deviceLongitudeFract / 10, fix.longitudeThousandths) << what << " fix " << i;
        ASSERT_EQ(sample.longitude < 0, fix.west) << what << " fix " << i;
        // Degrees agree with the file's minutes to the instrument's resolution.
        const double latitude = fix.latitudeDegreesAndMinutes / 100 + (fix.latitudeDegreesAndMinutes % 100 + fix.latitudeThousandths / 1000.0) / 60;
        ASSERT_NEAR(std::abs(sample.latitude), latitude, 0.001 / 60) << what << " fix " << i;
        ASSERT_EQ(sample.barometerElevation, fix.pressureAltitude) << what << " fix " << i;
        ASSERT_EQ(sample.gpsElevation, fix.gnssAltitude) << what << " fix " << i;
    }
}

} // namespace

TEST(TrackLogRoundTrip, EveryTestFlightInBothFormats)
{
    VirtualInstrumentProcess::Options options;
    options.model = "lark";
    options.firmwareVersion = 1340; // before the instrument wrote IGC text itself
    VirtualInstrumentProcess instrument(options);
    ASSERT_TRUE(instrument.isRunning());
    PtyDevice pty(instrument.portPath());
    ASSERT_TRUE(pty.ready);

    const auto names = flightFiles();
    ASSERT_EQ(names.size(), 6u);
    for (const std::string& name : names) {
        const auto fixes = igcFixes(igcLines(igcFolder + "/" + name));
        ASSERT_GT(fixes.size(), 100u) << name;
        const int flightNumber = flightNumberOf(name);

        HRecord h;
        GRecord g;
        auto first = pty.device->downloadLocationSamplesForFlightNumber(flightNumber, &h, &g);
        ASSERT_TRUE(first) << name;
        expectSamplesMatchFixes(*first, fixes, name + " (first format)");
        EXPECT_EQ(h.bytes[0], 0xF5) << name;
        EXPECT_EQ(g.bytes[0], 0xF6) << name;

        HRecord h2;
        GRecord g2;
        std::string suggested;
        auto second = pty.device->downloadLocationSamplesV2ForFlightNumber(flightNumber, &h2, &g2, &suggested);
        ASSERT_TRUE(second) << name;
        expectSamplesMatchFixes(*second, fixes, name + " (second format)");
        EXPECT_EQ(h2, h) << name;
        EXPECT_EQ(g2, g) << name;
        EXPECT_FALSE(suggested.empty()) << name;
    }
}

namespace {

// Downloads the IGC text of one flight and checks it against the file: the same lines
// in the same order, plus our two comment lines once, before the first B line (recent
// firmware) or after the block that starts the B lines (older firmware).
void checkIgcText(const std::string& model, std::uint16_t firmware, bool recent, std::vector<std::string> extraArguments = {})
{
    const std::string name = "20241007TZN.igc";
    VirtualInstrumentProcess::Options options;
    options.model = model;
    options.firmwareVersion = firmware;
    options.extraArguments = std::move(extraArguments);
    VirtualInstrumentProcess instrument(options);
    ASSERT_TRUE(instrument.isRunning());
    PtyDevice pty(instrument.portPath());
    ASSERT_TRUE(pty.ready);

    std::optional<std::string> proposed;
    auto igc = pty.device->downloadTextIgcFromTheDevice(static_cast<std::uint16_t>(flightNumberOf(name)), &proposed);
    ASSERT_TRUE(igc) << firmware;
    ASSERT_TRUE(igc->ends_with("\r\n"));

    std::vector<std::string> lines;
    std::istringstream stream(*igc);
    for (std::string line; std::getline(stream, line);) {
        ASSERT_TRUE(!line.empty() && line.back() == '\r') << "every line ends in CR LF: " << line;
        line.pop_back();
        lines.push_back(line);
    }
    const std::string version = "LXCV HUB version Mac 0.1.0";
    auto comment = std::find(lines.begin(), lines.end(), version);
    ASSERT_NE(comment, lines.end()) << firmware;
    ASSERT_NE(comment + 1, lines.end());
    EXPECT_EQ(*(comment + 1), "LXCV Downloaded " + [] {
        std::time_t t = std::chrono::system_clock::to_time_t(std::chrono::sys_days(std::chrono::year(2026) / 1 / 2));
        std::tm local {};
        localtime_r(&t, &local);
        char text[32];
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
        return std::string(text);
    }());
    const std::size_t at = static_cast<std::size_t>(comment - lines.begin());
    EXPECT_EQ(std::count(lines.begin(), lines.end(), version), 1) << firmware;

    std::vector<std::string> withoutComment = lines;
    withoutComment.erase(withoutComment.begin() + static_cast<std::ptrdiff_t>(at), withoutComment.begin() + static_cast<std::ptrdiff_t>(at) + 2);
    const std::vector<std::string> expected = igcLines(igcFolder + "/" + name);
    EXPECT_EQ(withoutComment, expected) << firmware;

    const auto firstB = std::find_if(expected.begin(), expected.end(), [](const std::string& l) { return l[0] == 'B'; });
    const std::size_t firstBIndex = static_cast<std::size_t>(firstB - expected.begin());
    if (recent)
        EXPECT_EQ(at, firstBIndex) << "just before the first B line";
    else
        EXPECT_GT(at, firstBIndex) << "after the block that starts the B lines";
    EXPECT_TRUE(proposed && !proposed->empty() && proposed->find('.') == std::string::npos) << firmware;
}

} // namespace

TEST(TrackLogRoundTrip, InstrumentMadeIgcTextOnRecentWren) { checkIgcText("wren", 2405, true); }
TEST(TrackLogRoundTrip, InstrumentMadeIgcTextOnRecentLark) { checkIgcText("lark", 1380, true); }
TEST(TrackLogRoundTrip, InstrumentMadeIgcTextOnOlderLark) { checkIgcText("lark", 1370, false); }
TEST(TrackLogRoundTrip, InstrumentMadeIgcTextWithoutPadding) { checkIgcText("lark", 1370, false, { "--unpadded-igc" }); }

// Instruments that pad their IGC text answers to 300 bytes, to 3 + 255, or not at all
// give the same file for every test flight, and no block waits for the line to go
// quiet, for padding or its absence.
TEST(TrackLogRoundTrip, PaddedAndUnpaddedIgcTextGiveTheSameFiles)
{
    // The smaller test flights: the instrument makes a flight's blocks when its transfer
    // starts, which for the largest can take longer than the line's 0.1 s under the
    // sanitizers.
    const std::vector<std::string> names = { "20180427.igc", "20241007TZN.igc", "lad_lod_extensions.igc" };
    TemporaryFolder flightsFolder;
    for (const std::string& name : names)
        std::filesystem::create_symlink(igcFolder + "/" + name, flightsFolder.path() + "/" + name);
    VirtualInstrumentProcess::Options paddedOptions;
    paddedOptions.igcDirectory = flightsFolder.path();
    VirtualInstrumentProcess padded(paddedOptions);
    ASSERT_TRUE(padded.isRunning());
    PtyDevice fromPadded(padded.portPath());
    ASSERT_TRUE(fromPadded.ready);
    std::vector<std::string> paddedTexts;
    std::vector<std::optional<std::string>> paddedNames;
    for (int flight = 1; flight <= static_cast<int>(names.size()); ++flight) {
        std::optional<std::string> name;
        auto text = fromPadded.device->downloadTextIgcFromTheDevice(static_cast<std::uint16_t>(flight), &name);
        ASSERT_TRUE(text) << flight;
        paddedTexts.push_back(*text);
        paddedNames.push_back(name);
    }

    for (const std::vector<std::string>& padding : { std::vector<std::string> { "--igc-padding", "258" },
             std::vector<std::string> { "--unpadded-igc" }, std::vector<std::string> { "--igc-padding", "300" } }) {
        const std::string what = padding.back();
        VirtualInstrumentProcess::Options options = paddedOptions;
        options.extraArguments = padding;
        VirtualInstrumentProcess instrument(options);
        ASSERT_TRUE(instrument.isRunning()) << what;
        PtyDevice pty(instrument.portPath());
        ASSERT_TRUE(pty.ready) << what;
        std::chrono::steady_clock::duration time {};
        for (int flight = 1; flight <= static_cast<int>(names.size()); ++flight) {
            std::optional<std::string> name;
            const auto start = std::chrono::steady_clock::now();
            auto text = pty.device->downloadTextIgcFromTheDevice(static_cast<std::uint16_t>(flight), &name);
            time += std::chrono::steady_clock::now() - start;
            ASSERT_TRUE(text) << what << " " << flight;
            EXPECT_EQ(*text, paddedTexts[static_cast<std::size_t>(flight - 1)]) << what << " " << flight;
            EXPECT_EQ(name, paddedNames[static_cast<std::size_t>(flight - 1)]) << what << " " << flight;
        }
        const auto blocks = std::count_if(pty.log.lines.begin(), pty.log.lines.end(),
            [](const std::string& line) { return line.starts_with("Reading data block"); });
        ASSERT_GT(blocks, 200) << what;
        // Waiting out 0.1 s of silence per block would take twice this.
        EXPECT_LT(time, blocks * std::chrono::milliseconds(50)) << what;
    }
}

TEST(TrackLogRoundTrip, SuggestedNameAgreesWithTheInstrumentsOwn)
{
    const std::string name = "20241007TZN.igc";
    VirtualInstrumentProcess instrument;
    ASSERT_TRUE(instrument.isRunning());
    PtyDevice pty(instrument.portPath());
    ASSERT_TRUE(pty.ready);
    const int flightNumber = flightNumberOf(name);
    std::string suggested;
    HRecord h;
    ASSERT_TRUE(pty.device->downloadLocationSamplesV2ForFlightNumber(flightNumber, &h, nullptr, &suggested));
    std::optional<std::string> proposed;
    ASSERT_TRUE(pty.device->downloadTextIgcFromTheDevice(static_cast<std::uint16_t>(flightNumber), &proposed));
    EXPECT_EQ(proposed, suggested);
}
