// The versions feed on arbitrary bytes: every product looked up and compared.
#include "NullLog.h"
#include "updates/UpdateCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace corvex;
    auto feed = VersionsFeed::parse(Bytes(data, data + size));
    if (!feed)
        return 0;
    // Each model's entries are looked up by the check below.
    for (auto id : { ProductId::software, ProductId::softwareBeta, ProductId::larkFirmwareLegacy })
        (void)feed->entry(id);
    NullLog log;
    logAvailableUpdates(log, availableUpdatesFromFeed(*feed, "1.2.3", "2.405", InstrumentGeneration::Lark));
    logAvailableUpdates(log, availableUpdatesFromFeed(*feed, "", "", InstrumentGeneration::Wren));
    return 0;
}
