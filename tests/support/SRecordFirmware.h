#pragma once

#include "TestFiles.h"

#include <cstddef>
#include <cstdlib>
#include <fstream>
#include <string>

namespace corvex::testing {

// A real S-record firmware file made by srecord's srec_cat from a blob of pseudo-random
// bytes: an S0 header carrying the given text (the virtual instrument adopts the
// d.ddd version in it), 16-byte S1 data records from 0x1000, the S5 count and the S9
// termination. A file of n lines therefore holds n - 3 data records. Empty when
// srec_cat fails.
inline std::string makeSRecordFirmware(const std::string& folder, const std::string& header, std::size_t lines)
{
    const std::size_t dataLength = (lines - 3) * 16;
    const std::string blob = folder + "/firmware.bin";
    {
        std::ofstream out(blob, std::ios::binary);
        unsigned state = 12345;
        for (std::size_t i = 0; i < dataLength; ++i) {
            state = state * 1103515245u + 12345u;
            out.put(static_cast<char>(state >> 16));
        }
    }
    const std::string path = folder + "/firmware.s19";
    const std::string command = "srec_cat '" + blob + "' -binary -offset 0x1000 -o '" + path + "' -motorola -header '"
        + header + "' -execution-start-address 0x1000 -obs=16";
    if (std::system(command.c_str()) != 0)
        return {};
    return readFile(path);
}

} // namespace corvex::testing
