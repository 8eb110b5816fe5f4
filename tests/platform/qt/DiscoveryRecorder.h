#pragma once

#include "platform/Discovery.h"

#include <QtTest/QTest>

#include <cstdint>
#include <string>
#include <vector>

namespace corvex::testing {

// Collects what a discovery reports, as "+path" and "-path", in order.
struct DiscoveryRecorder {
    std::vector<std::string> events;
    std::vector<std::uint32_t> handles;

    SerialDeviceDiscovery::Matched matched()
    {
        return [this](const std::string& path, std::uint32_t handle) {
            events.push_back("+" + path);
            handles.push_back(handle);
        };
    }
    SerialDeviceDiscovery::Terminated terminated()
    {
        return [this](const std::string& path) { events.push_back("-" + path); };
    }
    void start(SerialDeviceDiscovery& discovery) { discovery.start(matched(), terminated()); }

    // Turns the event loop until `count` events have been seen or the time is up.
    bool waitForEvents(std::size_t count, int timeoutMs = 5000)
    {
        return QTest::qWaitFor([&] { return events.size() >= count; }, timeoutMs);
    }
};

} // namespace corvex::testing
