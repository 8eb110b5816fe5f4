// The firmware-file check on arbitrary bytes: a file found sound holds only sound
// S-records and ends with a termination record.
#include "updates/FirmwareFile.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace corvex;
    const FirmwareFile file = readFirmwareFile(ByteView(data, size));
    if (file.problem == FirmwareFileProblem::DamagedLine && file.damagedLine >= file.lines.size())
        std::abort();
    if (file.problem)
        return 0;
    if (file.lines.empty() || !isTerminationRecord(file.lines.back()))
        std::abort();
    for (const std::string& line : file.lines) {
        if (!isWellFormedSRecord(line) || line.size() > size)
            std::abort();
    }
    return 0;
}
