// The device-info and units answers on arbitrary bytes.
#include "device/LogBookCodec.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const corvex::ByteView answer(data, size);
    if (auto info = corvex::decodeDeviceInfo(answer)) {
        // Only the bytes announced are read: the fields cannot exceed their widths.
        if (size < 18 || data[0] != 0x02 || info->firmwareVer > 0xFFFF || info->batteryVoltage > 0xFF)
            std::abort();
    }
    if (auto units = corvex::decodeUnitsBitfield(answer)) {
        if (size != 2 || *units != data[1])
            std::abort();
    }
    return 0;
}
