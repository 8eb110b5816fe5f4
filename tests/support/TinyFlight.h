#pragma once

// Small flights for the virtual instrument's own tests. Header-only: only the suites
// that link the virtual instrument's library include it.

#include "FlightLibrary.h"

#include <cstdint>
#include <string>

namespace corvex::testing {

// Four fixes ten seconds apart on 5 July 2014, north and east, climbing 2 m/s and then
// sinking.
inline constexpr const char* tinyIgc = "AXCV123 test\r\n"
                                       "HFDTE050714\r\n"
                                       "HFFXA035\r\n"
                                       "I013638FXA\r\n"
                                       "B1000004612250N00712000EA0100001050035\r\n"
                                       "B1000104612300N00712100EA0102001070035\r\n"
                                       "B1000204612400N00712300EA0101501060035\r\n"
                                       "B1000304612500N00712400EA0099001040035\r\n";

// A recorded flight made from IGC text, with its log-book entry.
inline virtualinstrument::Flight flightFromIgc(const std::string& text, std::uint16_t number, std::string fileName = {})
{
    return virtualinstrument::flightFromText(text, number, std::move(fileName)).value();
}

inline virtualinstrument::Flight tinyFlight(std::uint16_t number)
{
    return flightFromIgc(tinyIgc, number, "tiny.igc");
}

} // namespace corvex::testing
