#include "library/LibraryFolder.h"

#include "platform/InstrumentDirectory.h"

#include <cstdlib>

namespace corvex::library {

std::string libraryFolder(const LibraryFolderChoice& choice)
{
    const auto environment = choice.environment ? choice.environment : [](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    };
    const auto given = [](const std::optional<std::string>& value) { return value && !value->empty(); };
    if (given(choice.commandLine))
        return *choice.commandLine;
    if (const auto variable = environment("CORVEX_LIBRARY"); given(variable))
        return *variable;
    if (given(choice.preference))
        return *choice.preference;
    return userDataHomePath(environment) + "/Corvex/Flights";
}

} // namespace corvex::library
