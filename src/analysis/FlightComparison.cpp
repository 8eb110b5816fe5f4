#include "analysis/FlightComparison.h"

namespace corvex::analysis {

std::vector<SharedThermal> findSharedThermals(std::span<const FlightDebrief* const>)
{
    return {};
}

std::optional<FasterClimb> fasterClimb(const SharedThermal&)
{
    return std::nullopt;
}

} // namespace corvex::analysis
