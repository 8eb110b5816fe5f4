#pragma once

#include "library/LibraryError.h"
#include "library/LibraryFlight.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvex::library {

// What a value of the printed log book is.
enum class LogBookQuantity { Date, Duration, Distance };

// The one place the printed log book turns a value into text: metric, UTC dates.
// Date takes UTC seconds, Duration seconds, Distance metres.
QString logBookValueText(LogBookQuantity quantity, double value);

// The pilot's log book as A4 PDF sheets: a title (the pilot most flights name and the
// year), one line per flight (number, date, site, glider, duration, distance, comment;
// text too long for its cell cut with an ellipsis), the sums brought forward from the
// sheet before and carried forward to the next, the total on the last sheet, and page
// numbers. `flights` as the index lists them, each with its site's name in `site`; only
// those that count are printed. Gives the number of pages written.
LibraryResult<int> writeLogBookPdf(const QString& path, const std::vector<LibraryFlight>& flights, std::optional<int> year);

} // namespace corvex::library
