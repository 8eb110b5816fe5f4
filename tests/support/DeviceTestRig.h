#pragma once

#include "CapturingLogSink.h"
#include "FakeSerialLine.h"
#include "device/CorvexDevice.h"
#include "platform/AlertPresenter.h"
#include "platform/EventLoop.h"

#include <chrono>
#include <functional>
#include <initializer_list>
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
    void deviceCouldNotBeOpened(const DeviceError& error) override
    {
        events.push_back(std::string("could not be opened: ") + deviceErrorKindName(error.kind));
    }
    std::vector<std::string> events;
};

// Records the event-loop turns that long transfers make, and returns at once.
class RecordingEventLoop final : public EventLoopTurner {
public:
    void runEventLoopFor(double seconds) override
    {
        turns.push_back(seconds);
        if (onTurn)
            onTurn();
    }
    std::vector<double> turns;
    std::function<void()> onTurn;
};

// A CorvexDevice on a fake serial line, with its log, alerts, delegate, pauses and
// event-loop turns recorded instead of slept, a fixed clock and program version.
struct DeviceTestRig {
    enum class EventLoop { Recorded, None };

    // No instrument plugged in yet; connect() plugs one in.
    explicit DeviceTestRig(EventLoop loop = EventLoop::Recorded)
    {
        CorvexDeviceEnvironment environment;
        environment.ports = &ports;
        environment.log = &log;
        environment.alerts = &alerts;
        environment.pause = [this](std::chrono::milliseconds delay) { pauses.push_back(delay); };
        if (loop == EventLoop::Recorded)
            environment.eventLoop = &eventLoop;
        environment.applicationVersion = "1.2.3";
        environment.now = [this] { return now; };
        device = std::make_unique<CorvexDevice>(&delegate, environment);
    }

    // An instrument answering through the responder (silent when empty) is plugged in
    // at once; the log then holds only what the command under test writes.
    explicit DeviceTestRig(FakeSerialLine::Responder responder, EventLoop loop = EventLoop::Recorded)
        : DeviceTestRig(loop)
    {
        connect(std::move(responder));
        log.lines.clear();
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
    RecordingEventLoop eventLoop;
    std::vector<std::chrono::milliseconds> pauses;
    std::unique_ptr<CorvexDevice> device;
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
