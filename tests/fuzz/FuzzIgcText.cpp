// The IGC text the instrument writes itself, assembled from arbitrary answers: a device
// on the fake serial line gets the input as the instrument's whole reply stream. The
// first byte picks recent or older firmware.
#include "FakeSerialLine.h"
#include "NullLog.h"
#include "device/CorvexDevice.h"

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
    environment.log = &log;
    environment.pause = [](std::chrono::milliseconds) { };
    environment.applicationVersion = "1.2.3";
    environment.now = [] { return std::chrono::system_clock::time_point(); };
    bool served = false;
    ports.state->responder = [&](const Bytes&) {
        const bool first = !served;
        served = true;
        return first ? Bytes(data + 1, data + size) : Bytes();
    };
    CorvexDevice device(nullptr, environment);
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
