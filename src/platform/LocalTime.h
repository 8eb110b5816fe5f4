#pragma once

#include <chrono>
#include <string>

namespace corvex {

// "%Y-%m-%d %H:%M:%S" in the computer's local time zone: the download stamp of the
// comment lines that both IGC paths write.
std::string localTimeText(std::chrono::system_clock::time_point moment);

} // namespace corvex
