#pragma once

#include <cstddef>
#include <string>

namespace corvex::bench {

// Writes six 1" tiles into `folder`, then times `fixes` lookups along a track over them
// with an empty cache and again with a full one, and a 1280x800 hillshade.
int benchTerrain(const std::string& folder, std::size_t fixes);

} // namespace corvex::bench
