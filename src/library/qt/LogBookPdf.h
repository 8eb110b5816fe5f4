#pragma once

#include "base/Units.h"
#include "library/LibraryError.h"
#include "library/LibraryFlight.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace corvex::library {

// What a value of the printed log book is.
enum class LogBookQuantity { Date, Duration, Distance };

// The one place the printed log book turns a value into text. Date takes seconds and
// gives the day they fall on ("2024-10-07"; shift a UTC moment by its offset for the
// local day), Duration seconds ("1:05"), Distance metres as a number in the units
// ("12.3": the column's header names the unit).
QString logBookValueText(LogBookQuantity quantity, double value, UnitSystem units = UnitSystem::Metric);

// How the book shows its figures: the units of the distances, and the dates in UTC when
// takeoffOffset is empty, else the local date of each take-off at the offset it gives
// (minutes from UTC). A year's book then holds the flights whose local date falls in it.
struct LogBookChoice {
    UnitSystem units { UnitSystem::Metric };
    std::function<int(const LibraryFlight&)> takeoffOffset;
};

// The pilot's log book as A4 landscape PDF sheets: a title (the pilot most flights name
// and the year), one line per flight (number, date, site, glider, duration, distance,
// and the comment in all the width left; text too long for its cell cut with an
// ellipsis), the sums brought forward from the sheet before and carried forward to the
// next, the total on the last sheet, and page numbers. `flights` as the index lists
// them, each with its site's name in `site`; only those that count are printed. Gives
// the number of pages written.
LibraryResult<int> writeLogBookPdf(
    const QString& path, const std::vector<LibraryFlight>& flights, std::optional<int> year, const LogBookChoice& choice = {});

} // namespace corvex::library
