#include "device/VarioModel.h"

namespace corvex {

const VarioModel& varioModel(InstrumentGeneration generation)
{
    return varioModels[varioModelIndex(generation)];
}

const VarioModel& varioModelOfFirmware(std::uint16_t thousandths)
{
    const VarioModel* found = &varioModels[0];
    for (const VarioModel& row : varioModels)
        if (thousandths >= row.firstFirmware)
            found = &row;
    return *found;
}

const VarioModel* varioModelWithKey(std::string_view key)
{
    for (const VarioModel& row : varioModels)
        if (key == row.key)
            return &row;
    return nullptr;
}

} // namespace corvex
