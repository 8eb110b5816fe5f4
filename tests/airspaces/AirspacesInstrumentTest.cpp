// A real OpenAir file converted by the service, written into the virtual instrument in
// 121-byte chunks over a real pty, and read back.
#include "VendorServerProcess.h"

#include "airspaces/Airspaces.h"
#include "airspaces/OpenAirParser.h"
#include "airspaces/WSAirspaces.h"
#include "platform/qt/QtHttpClient.h"
#include "device/CorvexDevice.h"
#include "platform/PosixSerialLine.h"

#include "support/CapturingLogSink.h"
#include "support/VirtualInstrumentProcess.h"

#include "support/DeviceTestRig.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace corvex;
using namespace corvex::testing;

TEST(AirspacesInstrument, ConvertedSetUploadsAndReadsBackByteForByte)
{
    VendorServerProcess server(QStringList {});
    ASSERT_TRUE(server.isRunning());
    CapturingLogSink log;
    QtHttpClient http;
    WSAirspaces service(server.serviceUrl().toStdString(), http, log);
    std::optional<std::string> binaryFileName;
    std::optional<Bytes> converted;
    bool done = false;
    service.ConvertOpenAirWithDescription("Swiss airspace",
        openair::decodeFileText(readTestFile("openair/Switzerland.txt")), "Switzerland.txt",
        [&](std::optional<std::string> name, std::optional<Bytes> data) {
            binaryFileName = std::move(name);
            converted = std::move(data);
            done = true;
        });
    ASSERT_TRUE(waitUntil([&] { return done; }, 30000));
    ASSERT_TRUE(converted && binaryFileName);

    VirtualInstrumentProcess instrument;
    ASSERT_TRUE(instrument.isRunning());
    PosixSerialPortOpener ports;
    int waits = 0; // the erase's waits cost nothing here
    CorvexDeviceEnvironment environment;
    environment.ports = &ports;
    CorvexDevice device(nullptr, environment, OperationContext(log).withSleep([&](std::chrono::milliseconds) { ++waits; }));
    device.corvexDeviceMatchedAtBsdPath(instrument.portPath(), 1);
    ASSERT_TRUE(device.hasOpenLine() && device.initializeDevice());

    int progressCalls = 0;
    ASSERT_TRUE(device.eraseAirspacesDataWithFakeProgressBlock([&](float) { ++progressCalls; }));
    EXPECT_EQ(progressCalls, 210);
    EXPECT_EQ(waits, 210);

    const ByteView data(*converted);
    const std::size_t chunks = (data.size() + 120) / 121;
    for (std::size_t n = 0; n < chunks; ++n) {
        const auto chunk = data.subspan(n * 121, std::min<std::size_t>(121, data.size() - n * 121));
        ASSERT_TRUE(device.writeAirspacesChunk(chunk, n == 0 ? AirspacesWritePosition::FirstChunk : AirspacesWritePosition::NextChunk))
            << "chunk " << n + 1 << " of " << chunks;
    }
    ASSERT_TRUE(device.concludeWritingAirspacesData());

    auto header = device.readWholeAirspacesSet(AirspacesReadScope::MetadataOnly);
    ASSERT_TRUE(header);
    ASSERT_EQ(header->size(), airspacesFormat::headerSize);
    EXPECT_EQ(buildCacheFilenameFromHeader(*header), binaryFileName); // found again in the cache

    auto readBack = device.readWholeAirspacesSet(AirspacesReadScope::WholeData);
    ASSERT_TRUE(readBack);
    EXPECT_EQ(*readBack, *converted);
    auto set = Airspaces::initWithDataInInternalFormat(*readBack, log);
    ASSERT_TRUE(set);
    EXPECT_EQ(set->globalPolylines().size(), 334u);
    EXPECT_EQ(set->airspacesFilename(), "Switzerland.txt");
    EXPECT_EQ(set->airspacesDescription(), "Swiss airspace");

    // Cleared, the instrument has nothing left to read.
    ASSERT_TRUE(device.eraseAirspacesDataWithFakeProgressBlock());
    auto afterErase = device.readWholeAirspacesSet(AirspacesReadScope::MetadataOnly);
    ASSERT_TRUE(afterErase);
    EXPECT_TRUE(afterErase->empty());
}
