#pragma once

namespace corvex {

// Registers the compiled-in resources (layouts' images, InitialDefaults). The library
// is static: without this reference the linker would drop them.
void initializeResources();

} // namespace corvex
