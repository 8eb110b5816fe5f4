// The IGC text the instrument writes itself, assembled from arbitrary answers by a
// device on the fake serial line. The first byte picks recent or older firmware; then
// each request is answered by the next piece of the input, a little-endian 16-bit
// length and that many bytes.
#include "FakeSerialLine.h"
#include "NullLog.h"
#include "device/CorvexDevice.h"

#include <algorithm>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace corvex;
    if (size == 0)
        return 0;
    testing::FakeSerialPortOpener ports;
    NullLog log;
    CorvexDeviceEnvironment environment;
    environment.ports = &ports;
    environment.applicationVersion = "1.2.3";
    std::size_t position = 1;
    ports.state->responder = [&](const Bytes&) {
        if (size - position < 2)
            return Bytes();
        const std::size_t length = std::min<std::size_t>(data[position] | data[position + 1] << 8, size - position - 2);
        const Bytes answer(data + position + 2, data + position + 2 + length);
        position += 2 + length;
        return answer;
    };
    CorvexDevice device(nullptr, environment,
        OperationContext(log).withSleep([](std::chrono::milliseconds) { }).withClock([] { return std::chrono::system_clock::time_point(); }));
    device.corvexDeviceMatchedAtBsdPath(std::string("/dev/ttyACM0"), 1);
    device.setCurrentFirmwareVersion(data[0] & 1 ? 2405 : 1370);
    std::optional<std::string> filename;
    auto igc = device.downloadTextIgcFromTheDevice(1, &filename);
    // Each text byte came from the reply; only the comment lines and CR LF are added.
    if (igc && igc->size() > 2 * size + 200)
        std::abort();
    if (filename && filename->find('/') != std::string::npos)
        std::abort();
    return 0;
}
