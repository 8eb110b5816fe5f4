#include "platform/qt/SystemDiscovery.h"

#include "platform/InstrumentDirectory.h"
#include "platform/qt/InstrumentDirectoryWatcher.h"
#include "platform/qt/UdevDiscovery.h"

#include <cstdlib>
#include <cstring>

namespace corvex {

CompositeDiscovery::CompositeDiscovery(std::vector<std::unique_ptr<SerialDeviceDiscovery>> sources)
    : m_sources(std::move(sources))
{
}

void CompositeDiscovery::start(Matched matched, Terminated terminated)
{
    for (auto& source : m_sources)
        source->start(matched, terminated);
}

std::unique_ptr<SerialDeviceDiscovery> makeSystemDiscovery(LogSink& log)
{
    std::vector<std::unique_ptr<SerialDeviceDiscovery>> sources;
    const char* noUdev = std::getenv("CORVEX_NO_UDEV");
    if (!noUdev || std::strcmp(noUdev, "1") != 0)
        sources.push_back(std::make_unique<UdevDiscovery>(&log));
    sources.push_back(std::make_unique<InstrumentDirectoryWatcher>(instrumentDirectoryPath(), &log));
    return std::make_unique<CompositeDiscovery>(std::move(sources));
}

} // namespace corvex
