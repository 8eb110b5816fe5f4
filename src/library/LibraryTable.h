#pragma once

#include "library/LibraryFlight.h"

#include <string>
#include <vector>

// The library's flights as a table for people: which flights a filter keeps and the
// rows as CSV, the same in the library window and in `corvex library list`.
namespace corvex::library {

// Whether the flight passes the filter: its year; its glider, ignoring case; and the
// text, ignoring case (foldCase: "süd" finds "SÜD"), in the pilot, the glider, the
// logger, the instrument's serial or the file's name.
bool flightMatches(const LibraryFlight& flight, const FlightFilter& filter);

// "2024-10-07 11:34", the UTC minute the table shows for a take-off or a landing.
std::string tableTimeText(std::int64_t utc);

// The rows as CSV, a header first, CR LF line ends; fields with a comma, quote or line
// end are quoted.
std::string libraryCsv(const std::vector<LibraryFlight>& flights);

} // namespace corvex::library
