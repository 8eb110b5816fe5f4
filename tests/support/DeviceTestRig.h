#pragma once

#include "CapturingLogSink.h"
#include "FakeSerialLine.h"
#include "device/CorvexDevice.h"
#include "platform/AlertPresenter.h"

#include <memory>
#include <string>
#include <vector>

namespace corvex::testing {

class RecordingAlertPresenter final : public AlertPresenter {
public:
    int showAlert(const Alert& alert) override
    {
        alerts.push_back(alert);
        return 0;
    }
    std::vector<Alert> alerts;
};

class RecordingDelegate final : public CorvexDeviceDelegate {
public:
    void deviceConnected() override { events.push_back("connected"); }
    void deviceDisconnected() override { events.push_back("disconnected"); }
    std::vector<std::string> events;
};

// A CorvexDevice on a fake serial line, with its log, alerts and delegate recorded.
// Pauses between open attempts are recorded instead of slept.
struct DeviceTestRig {
    DeviceTestRig()
    {
        CorvexDeviceEnvironment environment;
        environment.ports = &ports;
        environment.log = &log;
        environment.alerts = &alerts;
        environment.pause = [this](std::chrono::milliseconds delay) { pauses.push_back(delay); };
        device = std::make_unique<CorvexDevice>(&delegate, environment);
    }

    // Plugs in an instrument at /dev/ttyACM0 whose answers come from the responder.
    void connect(FakeSerialLine::Responder responder)
    {
        ports.state->responder = std::move(responder);
        device->corvexDeviceMatchedAtBsdPath(std::string("/dev/ttyACM0"), 1);
    }

    FakeSerialLine::State& line() { return *ports.state; }

    FakeSerialPortOpener ports;
    CapturingLogSink log;
    RecordingAlertPresenter alerts;
    RecordingDelegate delegate;
    std::vector<std::chrono::milliseconds> pauses;
    std::unique_ptr<CorvexDevice> device;
};

} // namespace corvex::testing
