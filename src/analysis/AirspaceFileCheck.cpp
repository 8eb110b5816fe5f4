#include "analysis/AirspaceFileCheck.h"

#include "analysis/NearAirspaces.h"
#include "base/FileRead.h"


namespace corvex::analysis {

Result<AirspaceFileCheck, OpenAirFileError> checkAgainstOpenAirFile(const std::string& path,
    const flights::IgcFlight* flight, std::optional<double> nearMarginMetres, const AirspaceCheckOptions& options)
{
    using Kind = OpenAirFileError::Kind;
    const auto read = readFileWhole(path, FileKind::OpenAir);
    if (!read) {
        const FileReadError& error = read.error();
        if (error.kind == FileReadError::Kind::TooLarge)
            return Failure { OpenAirFileError { Kind::TooLarge, {}, error.size ? error.size : largestOpenAirFileBytes + 1 } };
        return Failure { OpenAirFileError { Kind::Unreadable, error.reason() } };
    }
    const std::string& bytes = *read;
    const std::uintmax_t size = bytes.size();

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
    found.check = checkAirspaces(*flight, index, options);
    if (nearMarginMetres)
        found.near = airspacesNearTrack(*flight, index, *nearMarginMetres);
    return found;
}

} // namespace corvex::analysis
