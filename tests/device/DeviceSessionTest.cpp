// The real CorvexDevice over a real pty against the virtual instrument: connection,
// device info, both flight lists, erase, unplug and replug, replacement, silence.
#include "CapturingLogSink.h"
#include "DeviceTestRig.h"
#include "VirtualInstrumentProcess.h"
#include "device/CorvexDevice.h"
#include "platform/PosixSerialLine.h"
#include "platform/qt/SystemDiscovery.h"

#include "support/QtTestHelpers.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <tuple>

using namespace corvex;
using namespace corvex::testing;

namespace {


// A CorvexDevice on the real serial line, with the log and delegate recorded.
struct PtySession {
    PtySession(SerialDeviceDiscovery* discovery = nullptr)
    {
        CorvexDeviceEnvironment environment;
        environment.ports = &ports;
        environment.alerts = &alerts;
        environment.discovery = discovery;
        device = std::make_unique<CorvexDevice>(&delegate, environment, OperationContext(log));
    }

    bool connectTo(const std::string& path)
    {
        device->corvexDeviceMatchedAtBsdPath(path, 1);
        return device->hasOpenLine() && device->initializeDevice();
    }

    PosixSerialPortOpener ports;
    CapturingLogSink log;
    RecordingAlertPresenter alerts;
    RecordingDelegate delegate;
    std::unique_ptr<CorvexDevice> device;
};

// The test flights' dates, newest first, as the log book must list them.
const std::vector<std::tuple<int, int, int>> testFlightDatesNewestFirst {
    { 24, 10, 7 }, { 23, 2, 20 }, { 18, 4, 27 }, { 16, 11, 8 }, { 16, 5, 4 }, { 10, 10, 28 },
};

std::vector<std::tuple<int, int, int>> datesOf(const std::vector<FlightRecord>& flights)
{
    std::vector<std::tuple<int, int, int>> dates;
    for (const auto& flight : flights)
        dates.emplace_back(flight.year, flight.month, flight.day);
    return dates;
}

} // namespace

TEST(DeviceSession, ConnectsAndReadsTheInstrumentIdentity)
{
    VirtualInstrumentProcess::Options options;
    options.model = "lark";
    options.deviceId = 0x00ABCDEF;
    options.firmwareVersion = 1375;
    options.batteryTenthsOfVolt = 39;
    VirtualInstrumentProcess instrument(options);
    ASSERT_TRUE(instrument.isRunning());

    PtySession session;
    ASSERT_TRUE(session.connectTo(instrument.portPath()));
    EXPECT_EQ(session.delegate.events, (std::vector<std::string> { "connected" }));
    auto info = session.device->getDeviceInfo();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->deviceId, 0x00ABCDEFu);
    EXPECT_EQ(info->firmwareVer, 1375u);
    EXPECT_EQ(info->batteryVoltage, 39u);
    EXPECT_FALSE(session.device->isWren());
    EXPECT_TRUE(session.device->firmwareSupportsAutomaticTextIgcGeneration());
    EXPECT_TRUE(session.device->isCurrentFwVersionEqualTo("1.375"));
}

TEST(DeviceSession, BothFlightListsInTheirOrders)
{
    VirtualInstrumentProcess instrument;
    ASSERT_TRUE(instrument.isRunning());
    PtySession session;
    ASSERT_TRUE(session.connectTo(instrument.portPath()));

    auto shortList = session.device->listFlightsShort();
    ASSERT_TRUE(shortList);
    EXPECT_EQ(datesOf(*shortList), testFlightDatesNewestFirst);
    for (const auto& flight : *shortList) {
        EXPECT_GT(flight.flightNumber, 0);
        EXPECT_GT(flight.duration, 0);
        EXPECT_EQ(flight.maxAltitude, 0) << "the short list carries no altitudes";
    }
    // The 654G6NG1 flight starts at 08:10 UTC and lasts 10 h 54 min.
    const FlightRecord& long654 = (*shortList)[4];
    EXPECT_EQ(long654.hour, 8);
    EXPECT_EQ(long654.minute, 10);
    EXPECT_NEAR(long654.duration, 10 * 3600 + 54 * 60 + 12, 60);

    auto fullList = session.device->listFlightsFull();
    ASSERT_TRUE(fullList);
    auto oldestFirst = testFlightDatesNewestFirst;
    std::reverse(oldestFirst.begin(), oldestFirst.end());
    EXPECT_EQ(datesOf(*fullList), oldestFirst);
    for (const auto& flight : *fullList) {
        EXPECT_GT(flight.maxAltitude, 0);
        EXPECT_GE(flight.maxAltitude, flight.startAltitude);
        EXPECT_GT(flight.launchLatitude, 0) << "the log book carries no hemisphere";
    }
    // The flight over New Zealand crosses UTC midnight: six hours, not minus eighteen.
    const FlightRecord& overMidnight = (*fullList)[2];
    EXPECT_NEAR(overMidnight.duration, 6 * 3600, 120);
    EXPECT_GT(overMidnight.launchLatitude, 34.0);
    EXPECT_LT(overMidnight.launchLatitude, 48.0);
}

TEST(DeviceSession, UnitSettingsConvertTheFullList)
{
    VirtualInstrumentProcess::Options metricOptions;
    metricOptions.unitsBitfield = 0x01 | 0x08; // temperatures as sent, month first
    VirtualInstrumentProcess::Options imperialOptions;
    imperialOptions.unitsBitfield = 0x01 | 0x04 | 0x20; // feet, feet per minute, day first
    VirtualInstrumentProcess metricInstrument(metricOptions);
    VirtualInstrumentProcess imperialInstrument(imperialOptions);

    PtySession metric;
    PtySession imperial;
    ASSERT_TRUE(metric.connectTo(metricInstrument.portPath()));
    ASSERT_TRUE(imperial.connectTo(imperialInstrument.portPath()));
    auto metres = metric.device->listFlightsFull();
    auto feet = imperial.device->listFlightsFull();
    ASSERT_TRUE(metres && feet);
    ASSERT_EQ(metres->size(), feet->size());
    for (std::size_t i = 0; i < metres->size(); ++i) {
        const auto& m = (*metres)[i];
        const auto& f = (*feet)[i];
        EXPECT_EQ(f.maxAltitude, static_cast<int>(m.maxAltitude * 3.2808399 + 0.5));
        EXPECT_NEAR(f.maxLift, m.maxLift * 196.850394 + 5, 1e-6);
        EXPECT_FALSE(m.dayComesBeforeMonthDateFormat);
        EXPECT_TRUE(f.dayComesBeforeMonthDateFormat);
        EXPECT_TRUE(m.useMetersVerticalSpeedRounding);
        EXPECT_FALSE(f.useMetersVerticalSpeedRounding);
    }
}

TEST(DeviceSession, EraseEmptiesTheLogBookForGood)
{
    VirtualInstrumentProcess instrument;
    {
        PtySession session;
        ASSERT_TRUE(session.connectTo(instrument.portPath()));
        ASSERT_TRUE(session.device->listFlightsShort().value_or(std::vector<FlightRecord> {}).size() > 0);
        EXPECT_TRUE(session.device->eraseAllLogs());
        auto flights = session.device->listFlightsShort();
        ASSERT_TRUE(flights);
        EXPECT_TRUE(flights->empty());
        auto full = session.device->listFlightsFull();
        ASSERT_TRUE(full);
        EXPECT_TRUE(full->empty());
    }
    ASSERT_TRUE(instrument.restart());
    PtySession session;
    ASSERT_TRUE(session.connectTo(instrument.portPath()));
    auto flights = session.device->listFlightsShort();
    ASSERT_TRUE(flights);
    EXPECT_TRUE(flights->empty()) << "the erase persists across a restart of the instrument";
}

TEST(DeviceSession, DiscoveryFollowsUnplugAndReplug)
{
    VirtualInstrumentProcess instrument;
    ASSERT_TRUE(instrument.isRunning());
    setenv("CORVEX_NO_UDEV", "1", 1);
    setenv("CORVEX_INSTRUMENT_DIR", instrument.instrumentsDirectory().c_str(), 1);
    CapturingLogSink discoveryLog;
    auto discovery = makeSystemDiscovery(discoveryLog);
    PtySession session(discovery.get());

    // Already plugged in: reported by the registration itself.
    session.device->registerForSerialDeviceNotifications();
    EXPECT_EQ(session.delegate.events, (std::vector<std::string> { "connected" }));
    ASSERT_TRUE(session.device->initializeDevice());
    ASSERT_TRUE(session.device->getDeviceInfo());

    ASSERT_TRUE(instrument.unplug());
    ASSERT_TRUE(waitUntil([&] { return session.delegate.events.size() == 2; }));
    EXPECT_FALSE(session.device->deviceIsConnected());
    EXPECT_FALSE(session.device->getDeviceInfo());

    ASSERT_TRUE(instrument.plug());
    ASSERT_TRUE(waitUntil([&] { return session.delegate.events.size() == 3; }));
    EXPECT_EQ(session.delegate.events, (std::vector<std::string> { "connected", "disconnected", "connected" }));
    ASSERT_TRUE(session.device->initializeDevice());
    EXPECT_TRUE(session.device->getDeviceInfo());
    unsetenv("CORVEX_INSTRUMENT_DIR");
}

TEST(DeviceSession, ASecondInstrumentReplacesTheFirst)
{
    VirtualInstrumentProcess first;
    ASSERT_TRUE(first.isRunning());
    setenv("CORVEX_NO_UDEV", "1", 1);
    setenv("CORVEX_INSTRUMENT_DIR", first.instrumentsDirectory().c_str(), 1);
    CapturingLogSink discoveryLog;
    auto discovery = makeSystemDiscovery(discoveryLog);
    PtySession session(discovery.get());
    session.device->registerForSerialDeviceNotifications();
    ASSERT_EQ(session.delegate.events, (std::vector<std::string> { "connected" }));

    VirtualInstrumentProcess::Options options;
    options.deviceId = 0x00BEEF01;
    options.instrumentsDirectory = first.instrumentsDirectory();
    VirtualInstrumentProcess second(options);
    ASSERT_TRUE(second.isRunning());
    ASSERT_TRUE(waitUntil([&] { return session.delegate.events.size() == 3; }));
    EXPECT_EQ(session.delegate.events, (std::vector<std::string> { "connected", "disconnected", "connected" }));
    EXPECT_EQ(session.device->deviceBsdPath(), second.portPath());
    ASSERT_TRUE(session.device->initializeDevice());
    auto info = session.device->getDeviceInfo();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->deviceId, 0x00BEEF01u);
    unsetenv("CORVEX_INSTRUMENT_DIR");
}

TEST(DeviceSession, ASilentInstrumentFailsQuicklyAndCleanly)
{
    VirtualInstrumentProcess instrument;
    PtySession session;
    ASSERT_TRUE(session.connectTo(instrument.portPath()));
    ASSERT_TRUE(instrument.control("fault silent"));

    auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(session.device->getDeviceInfo());
    auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_LT(elapsed, std::chrono::seconds(2)) << "two attempts, each ending after 0.1 s of silence";
    EXPECT_TRUE(session.log.contains("Reading device info attempt has failed. Giving up"));

    // A silent instrument is not one with an empty log book.
    for (bool full : { false, true }) {
        auto flights = full ? session.device->listFlightsFull() : session.device->listFlightsShort();
        ASSERT_FALSE(flights) << full;
        EXPECT_EQ(flights.error().kind, DeviceErrorKind::NoAnswer) << full;
    }
    EXPECT_TRUE(session.log.contains("Reading measurements bitfield attempt has failed. Giving up"));
    EXPECT_FALSE(session.device->eraseAllLogs());

    ASSERT_TRUE(instrument.control("fault none"));
    EXPECT_TRUE(session.device->getDeviceInfo());
}

TEST(DeviceSession, ShortAndGarbledAnswersAreRefused)
{
    VirtualInstrumentProcess instrument;
    PtySession session;
    ASSERT_TRUE(session.connectTo(instrument.portPath()));

    ASSERT_TRUE(instrument.control("fault short 10"));
    EXPECT_FALSE(session.device->getDeviceInfo());
    EXPECT_TRUE(session.log.containsPrefix("getDeviceInfo: error, read bytes: <"));
    EXPECT_FALSE(session.device->listFlightsFull()) << "10 bytes of a record";

    ASSERT_TRUE(instrument.control("fault none"));
    ASSERT_TRUE(instrument.control("fault wrong-first-byte"));
    // The units answer is garbled first, and a list read with wrong units fails.
    EXPECT_FALSE(session.device->listFlightsShort());
    EXPECT_TRUE(session.log.contains("Reading measurements bitfield attempt has failed. Giving up"));

    ASSERT_TRUE(instrument.control("fault none"));
    EXPECT_TRUE(session.device->listFlightsShort());
}
