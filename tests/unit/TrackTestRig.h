#pragma once

#include "CapturingLogSink.h"
#include "FakeSerialLine.h"
#include "device/CorvexDevice.h"

#include <memory>
#include <string>

namespace corvex::testing {

// A CorvexDevice connected to a fake instrument, with its log captured.
struct TrackTestRig {
    explicit TrackTestRig(FakeSerialLine::Responder responder = {})
    {
        ports.state->responder = std::move(responder);
        CorvexDeviceEnvironment environment;
        environment.ports = &ports;
        environment.log = &log;
        environment.pause = [](std::chrono::milliseconds) { };
        environment.applicationVersion = "1.2.3";
        environment.now = [this] { return now; };
        device = std::make_unique<CorvexDevice>(nullptr, environment);
        device->corvexDeviceMatchedAtBsdPath(std::string("/dev/ttyACM0"), 1);
        log.lines.clear(); // only what the command under test writes
    }

    FakeSerialLine::State& line() { return *ports.state; }

    std::chrono::system_clock::time_point now { std::chrono::sys_days(std::chrono::year(2026) / 3 / 4)
        + std::chrono::hours(5) + std::chrono::minutes(6) + std::chrono::seconds(7) };
    FakeSerialPortOpener ports;
    CapturingLogSink log;
    std::unique_ptr<CorvexDevice> device;
};

inline Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

} // namespace corvex::testing
