#pragma once

#include "Commands.h"
#include "library/FlightLibrary.h"
#include "platform/LogSink.h"

#include <memory>

namespace corvex::cli {

// --library DIR, as every command that reads the flight library takes it.
extern const CliOption libraryOption;

// The library where --library, the preferences or the default say; prints the reason
// and gives nothing when it cannot be opened. The system log by default.
std::unique_ptr<library::FlightLibrary> openLibrary(CliContext& context, LogSink* log = nullptr);

} // namespace corvex::cli
