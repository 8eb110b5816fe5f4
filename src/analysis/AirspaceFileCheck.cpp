#include "analysis/AirspaceFileCheck.h"

#include "analysis/NearAirspaces.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace corvex::analysis {

Result<AirspaceFileCheck, OpenAirFileError> checkAgainstOpenAirFile(
    const std::string& path, const flights::IgcFlight* flight, std::optional<double> nearMarginMetres)
{
    using Kind = OpenAirFileError::Kind;
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (error)
        return Failure { OpenAirFileError { Kind::Unreadable, error.message() } };
    if (!std::filesystem::is_regular_file(status))
        return Failure { OpenAirFileError { Kind::Unreadable, "it is not a file" } };
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error)
        return Failure { OpenAirFileError { Kind::Unreadable, error.message() } };
    if (size > largestOpenAirFileBytes)
        return Failure { OpenAirFileError { Kind::TooLarge, {}, size } };

    std::ifstream in(path, std::ios::binary);
    if (!in)
        return Failure { OpenAirFileError { Kind::Unreadable, std::strerror(errno) } };
    // Read up to one byte past the limit, in case the file grew since it was measured.
    std::string bytes(static_cast<std::size_t>(size) + 1, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (in.bad())
        return Failure { OpenAirFileError { Kind::Unreadable, std::strerror(errno) } };
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    if (bytes.size() > largestOpenAirFileBytes)
        return Failure { OpenAirFileError { Kind::TooLarge, {}, bytes.size() } };

    AirspaceFileCheck found;
    found.parsed = openair::parse(openair::decodeFileText(bytes));
    if (found.parsed.airspaces.empty()) {
        if (found.parsed.errors.empty())
            return Failure { OpenAirFileError { Kind::NoAirspace, {} } };
        const auto& first = found.parsed.errors.front();
        return Failure { OpenAirFileError { Kind::NotOpenAir, first.message, size, first.line } };
    }
    if (!flight)
        return found;
    const AirspaceIndex index(found.parsed);
    found.check = checkAirspaces(*flight, index);
    if (nearMarginMetres)
        found.near = airspacesNearTrack(*flight, index, *nearMarginMetres);
    return found;
}

} // namespace corvex::analysis
