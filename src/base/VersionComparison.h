#pragma once

#include <string_view>

namespace corvex {

enum class VersionOrder { earlier, same, later };

// How version text a stands to version text b, read left to right: where both hold a
// run of decimal digits, the runs compare by value (so 1.10 is later than 1.9, and
// 2.400 later than 2.4); any other characters compare by their code; a text that ends
// first is the earlier. Digit runs of any length compare exactly.
VersionOrder compareVersions(std::string_view a, std::string_view b);

inline bool isEarlier(std::string_view a, std::string_view b) { return compareVersions(a, b) == VersionOrder::earlier; }
inline bool isLater(std::string_view a, std::string_view b) { return compareVersions(a, b) == VersionOrder::later; }

} // namespace corvex
