#pragma once

#include <cstddef>
#include <string>

namespace corvex::bench {

// Writes six 1" tiles into `folder`, then times `fixes` lookups along a track over them
// with an empty cache and again with a full one, and a 1280x800 hillshade.
int benchTerrain(const std::string& folder, std::size_t fixes);

// One made-up 1" SRTM tile of hills and valleys, as the terrain benchmark writes them.
void writeBenchTile(const std::string& folder, int south, int west);

} // namespace corvex::bench
