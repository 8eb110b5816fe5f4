#pragma once

#include "device/FlightRecord.h"

#include <string>

// The text forms of a log-book entry: the flight list's title and the log-book CSV.
// Values arrive in the instrument's units; these only scale and format them.
namespace corvex {

// "7: 13-07-05    09:03": flight number, then the two-digit year, month, day and the
// launch time.
std::string recordStringTitle(const FlightRecord& record);

// The CSV header line, without line end. The odd spellings ("max lift, avg Lift",
// "launch long", "landing lon") are what existing log-book files carry; keep them.
std::string recordCsvStringTitle();

// One CSV row, without line end, one value per header column.
std::string recordCsvString(const FlightRecord& record);

// What a record looks like in the diagnostic log: its CSV row.
std::string description(const FlightRecord& record);

} // namespace corvex
