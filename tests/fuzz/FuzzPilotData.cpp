// The pilot-data record and its response header on arbitrary bytes: every text reads as
// 7-bit text, and writing back the text a field shows leaves the record unchanged.
#include "device/PilotData.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace corvex;
    const ByteView bytes(data, size);
    (void)decodePilotDataResponse(bytes);
    const PilotData record = PilotData::fromBytes(bytes);
    for (int i = 0; i <= static_cast<int>(PilotDataField::PilotInfo); ++i) {
        const auto field = static_cast<PilotDataField>(i);
        const std::string text = record.text(field);
        for (char c : text) {
            if (static_cast<unsigned char>(c) > 127)
                std::abort();
        }
        PilotData copy = record;
        copy.setText(field, text);
        if (!(copy == record))
            std::abort();
        // Another field's text set here reads back as given, cut to the slot.
        const std::string other = record.text(static_cast<PilotDataField>((i + 1) % 8));
        copy.setText(field, other);
        if (copy.text(field) != other.substr(0, pilotDataSlot(field).size))
            std::abort();
    }
    return 0;
}
