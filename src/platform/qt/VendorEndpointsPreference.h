#pragma once

#include "updates/VendorEndpoints.h"

namespace corvex {

class PreferencesStore;

// The vendor server's endpoints as the program uses them: CORVEX_VENDOR_URL, else the
// "vendorServerURL" preference (the user's value over the registered default), else
// the fallback. Resolve at the moment a request is made, not once at start-up: the
// defaults are registered last, and the user may change the preference meanwhile.
VendorEndpoints vendorEndpoints(const PreferencesStore& preferences);

} // namespace corvex
