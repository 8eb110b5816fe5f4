#pragma once

#include "platform/Discovery.h"

#include <memory>
#include <vector>

namespace corvex {

class LogSink;

// Several discovery sources reported through one pair of callbacks, each started in
// the order given.
class CompositeDiscovery final : public SerialDeviceDiscovery {
public:
    explicit CompositeDiscovery(std::vector<std::unique_ptr<SerialDeviceDiscovery>> sources);
    void start(Matched matched, Terminated terminated) override;

private:
    std::vector<std::unique_ptr<SerialDeviceDiscovery>> m_sources;
};

// What the program and the CLI use: instruments on the USB bus (udev) and virtual
// instruments in the instruments folder (see instrumentDirectoryPath). With
// CORVEX_NO_UDEV=1 only the folder is watched, so tests and demos are not disturbed
// by whatever is plugged into the machine. log must outlive the discovery.
std::unique_ptr<SerialDeviceDiscovery> makeSystemDiscovery(LogSink& log);

} // namespace corvex
