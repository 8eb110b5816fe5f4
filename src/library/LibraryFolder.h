#pragma once

#include <functional>
#include <optional>
#include <string>

namespace corvex::library {

// Where the flights live. The most specific choice wins: the command line's
// --library, then $CORVEX_LIBRARY, then the preference `flightLibraryFolder`, then
// $XDG_DATA_HOME/Corvex/Flights (or ~/.local/share/Corvex/Flights).
struct LibraryFolderChoice {
    std::optional<std::string> commandLine;
    std::optional<std::string> preference;
    // Reads the environment; the process's own when empty.
    std::function<std::optional<std::string>(const char* name)> environment;
};

std::string libraryFolder(const LibraryFolderChoice& choice);

} // namespace corvex::library
