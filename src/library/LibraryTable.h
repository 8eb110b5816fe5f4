#pragma once

#include "base/Units.h"
#include "library/LibraryFlight.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The library's flights as a table for people: which flights a filter keeps and the
// rows as CSV, the same in the library window and in `corvex library list`.
namespace corvex::library {

// Whether the flight passes the filter: its year; its glider, ignoring case; and the
// text, ignoring case (foldCase: "süd" finds "SÜD"), in the pilot, the glider, the
// logger, the instrument's serial or the file's name.
bool flightMatches(const LibraryFlight& flight, const FlightFilter& filter);

// The glider a file names, trimmed; empty for the words loggers write when the pilot
// set none ("not set", "None", "Default", "-", "unknown", "n/a", in any case), so that
// they never show or count as a glider of their own.
std::string gliderName(std::string_view named);

// The totals by glider with the groups of such placeholder names (rows of an older
// index) counted in the group of no glider, the empty key.
std::vector<FlightTotals> withPlaceholderGlidersMerged(std::vector<FlightTotals> totals);

// "2024-10-07 11:34", the UTC minute the table shows for a take-off or a landing.
std::string tableTimeText(std::int64_t utc);

// A cell of the text table (`corvex library list`): the text with its control
// characters made visible (visibleText), on one line, at most width characters, the
// last one an ellipsis where it was cut; padded with spaces to the width when padded,
// so that the columns after it stay in place.
enum class CellPadding { None, ToWidth };
std::string tableCell(std::string_view text, std::size_t width, CellPadding padding = CellPadding::ToWidth);

// The rows as CSV, a header first, CR LF line ends; fields with a comma, quote or line
// end are quoted, and a text field that a spreadsheet would take for a formula (it
// begins with =, +, -, @, tab or carriage return) is written as text, with a single
// quote before it inside the quotes.
// The figures are in the units chosen, each unit in its column's header ("Highest
// (ft)"); the times in UTC when takeoffOffset is empty, else at the offset it gives
// for the flight ("2024-10-07 13:34 +02:00", landing at the take-off's offset). The
// columns stay in their order whatever the choice.
struct CsvChoice {
    UnitSystem units { UnitSystem::Metric };
    std::function<int(const LibraryFlight&)> takeoffOffset;
};
std::string libraryCsv(const std::vector<LibraryFlight>& flights, const CsvChoice& choice = {});

} // namespace corvex::library
