#pragma once

#include "CapturingLogSink.h"
#include "FakeSerialLine.h"
#include "device/CorvexDevice.h"
#include "platform/AlertPresenter.h"
#include "platform/OperationContext.h"

#include <chrono>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
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
    void deviceCouldNotBeOpened(const DeviceError& error) override
    {
        events.push_back(std::string("could not be opened: ") + deviceErrorKindName(error.kind));
    }
    std::vector<std::string> events;
};

// A context on the log whose sleeps take no time (the airspaces erase waits 21 s).
inline OperationContext instantContext(LogSink& log)
{
    return OperationContext(log).withSleep([](std::chrono::milliseconds) { });
}

// A CorvexDevice on a fake serial line, with its log, alerts and delegate recorded, its
// sleeps recorded instead of slept, and a fixed clock and program version.
struct DeviceTestRig {
    // No instrument plugged in yet; connect() plugs one in.
    DeviceTestRig()
    {
        CorvexDeviceEnvironment environment;
        environment.ports = &ports;
        environment.alerts = &alerts;
        environment.applicationVersion = "1.2.3";
        device = std::make_unique<CorvexDevice>(&delegate, environment, context());
    }

    // An instrument answering through the responder (silent when empty) is plugged in
    // at once; the log then holds only what the command under test writes.
    explicit DeviceTestRig(FakeSerialLine::Responder responder)
        : DeviceTestRig()
    {
        connect(std::move(responder));
        log.lines.clear();
    }

    // The rig's log, clock and recorded sleeps, for the operations under test to add
    // their progress and cancel to.
    OperationContext context()
    {
        return OperationContext(log).withClock([this] { return now; }).withSleep([this](std::chrono::milliseconds duration) {
            pauses.push_back(duration);
            if (onPause)
                onPause();
        });
    }

    // Plugs in an instrument at /dev/ttyACM0 whose answers come from the responder.
    void connect(FakeSerialLine::Responder responder)
    {
        ports.state->responder = std::move(responder);
        device->corvexDeviceMatchedAtBsdPath(std::string("/dev/ttyACM0"), 1);
    }

    FakeSerialLine::State& line() { return *ports.state; }

    std::chrono::system_clock::time_point now { std::chrono::sys_days(std::chrono::year(2026) / 3 / 4)
        + std::chrono::hours(5) + std::chrono::minutes(6) + std::chrono::seconds(7) };
    FakeSerialPortOpener ports;
    CapturingLogSink log;
    RecordingAlertPresenter alerts;
    RecordingDelegate delegate;
    std::vector<std::chrono::milliseconds> pauses;
    std::function<void()> onPause; // called at every sleep, after it is recorded
    std::unique_ptr<CorvexDevice> device;
};

// Records what an operation shows: "step TEXT" (with " [part/parts]" for a part),
// "end", and the progress in per mille of the whole (-1 while unknown) with its detail.
class RecordingProgress final : public ProgressSink {
public:
    void stepStarted(const OperationStep& step) override
    {
        if (onStep)
            onStep();
        steps.push_back("step " + step.text
            + (step.parts ? " [" + std::to_string(step.part) + "/" + std::to_string(step.parts) + "]" : std::string()));
    }
    void progressed(std::optional<double> fraction, const std::string& detail) override
    {
        perMille.push_back(fraction ? static_cast<int>(*fraction * 1000 + 0.5) : -1);
        details.push_back(detail);
        if (onProgress)
            onProgress();
    }
    void ended() override { steps.push_back("end"); }

    std::vector<std::string> steps;
    std::vector<int> perMille;
    std::vector<std::string> details;
    std::function<void()> onStep;
    std::function<void()> onProgress;
};

// A silent instrument: it answers nothing.
inline FakeSerialLine::Responder silentInstrument()
{
    return {};
}

inline Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

} // namespace corvex::testing
