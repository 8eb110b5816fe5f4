#pragma once

#include <string>
#include <string_view>

// The words people read for a flight's values, the same in the windows and in the
// readable output of `corvex`; files and JSON keep the stable ids.
namespace corvex::flights {

// "Closed FAI triangle" for "closed_fai_triangle" (contestTypeName's ids). An id this
// program does not know yet reads as its words: "olc_classic" as "Olc classic".
std::string contestTypeTitle(std::string_view id);

} // namespace corvex::flights
