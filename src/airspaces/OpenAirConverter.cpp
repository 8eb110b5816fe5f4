#include "airspaces/OpenAirConverter.h"

#include "airspaces/Airspaces.h"
#include "airspaces/OpenAirConversion.h"
#include "airspaces/OpenAirParser.h"
#include "airspaces/WSAirspaces.h"
#include "platform/LogSink.h"

#include <variant>

namespace corvex {

namespace {

// The service's name made safe for the cache folder, or nothing (logged) when the set
// has no name that is.
std::optional<std::string> cacheName(const std::string& serviceName, const Bytes& bytes, LogSink& log)
{
    auto name = safeCacheFileName(serviceName, bytes);
    if (!name)
        logLine(log, "The converted set has no name that is safe in the cache folder (the service named it '%s')",
            serviceName.c_str());
    else if (*name != serviceName)
        logLine(log, "The service's file name '%s' is not a plain file name; the set is cached as '%s'", serviceName.c_str(),
            name->c_str());
    return name;
}

} // namespace

OpenAirConverter::OpenAirConverter(WSAirspaces* service, LogSink& log, Clock clock)
    : m_service(service)
    , m_log(log)
    , m_clock(std::move(clock))
{
}

std::chrono::sys_seconds OpenAirConverter::systemClock()
{
    return std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
}

Result<ConvertedAirspaces, ConversionFailure> convertOpenAirLocally(
    const std::string& description, const std::string& text, const std::string& fileName, std::chrono::sys_seconds uploadDate, LogSink& log)
{
    auto converted = openair::convertToInternalFormat(text, { fileName, description, uploadDate });
    if (auto* errors = std::get_if<std::vector<openair::Error>>(&converted)) {
        ConversionFailure failure { ConversionFailure::Reason::InvalidFile };
        for (const openair::Error& error : *errors) {
            failure.problems.push_back("line " + std::to_string(error.line) + ": " + error.message);
            logLine(log, "Cannot convert '%s' on this computer: %s", fileName.c_str(), failure.problems.back().c_str());
        }
        return Failure { std::move(failure) };
    }
    Bytes bytes = std::move(std::get<Bytes>(converted));
    // The service names its sets after their header; the same name here, so that a set
    // is found in the cache whichever of the two made it.
    auto name = safeCacheFileName({}, bytes);
    if (!name) {
        logLine(log, "The set converted from '%s' on this computer has no name that is safe in the cache folder", fileName.c_str());
        return Failure { ConversionFailure { ConversionFailure::Reason::NoSafeName } };
    }
    logLine(log, "Converted '%s' on this computer: %zu bytes, cached as '%s'", fileName.c_str(), bytes.size(), name->c_str());
    return ConvertedAirspaces { std::move(*name), std::move(bytes), true };
}

void OpenAirConverter::convert(
    const std::string& description, std::string_view fileBytes, const std::string& fileName, Completion completion)
{
    convertWithReasons(description, fileBytes, fileName, [completion = std::move(completion)](auto result) {
        if (!completion)
            return;
        if (result)
            completion(std::move(*result));
        else
            completion(std::nullopt);
    });
}

void OpenAirConverter::convertWithReasons(
    const std::string& description, std::string_view fileBytes, const std::string& fileName, DetailedCompletion completion)
{
    // Many OpenAir files are ISO-8859-1; both converters take UTF-8.
    std::string text = openair::decodeFileText(fileBytes);
    if (!m_service) {
        logLine(m_log, "No airspaces service is set up; converting '%s' on this computer", fileName.c_str());
        auto converted = convertOpenAirLocally(description, text, fileName, m_clock(), m_log);
        if (completion)
            completion(std::move(converted));
        return;
    }
    // The handler may run after this object is gone: it keeps what it needs by value,
    // except the log, which outlives every conversion.
    auto onReply = [&log = m_log, clock = m_clock, description, text, fileName, completion = std::move(completion)](
                       WSAirspaces::FileReply reply) {
        auto result = [&]() -> Result<ConvertedAirspaces, ConversionFailure> {
            if (reply.data) {
                auto name = cacheName(reply.fileName.value_or(""), *reply.data, log);
                if (!name)
                    return Failure { ConversionFailure { ConversionFailure::Reason::NoSafeName } };
                return ConvertedAirspaces { std::move(*name), std::move(*reply.data), false };
            }
            switch (reply.failure.value_or(WSAirspaces::Failure::Refused)) {
            case WSAirspaces::Failure::Unreachable:
                logLine(log, "The airspaces service cannot be reached; converting '%s' on this computer", fileName.c_str());
                return convertOpenAirLocally(description, text, fileName, clock(), log);
            case WSAirspaces::Failure::Cancelled:
                return Failure { ConversionFailure { ConversionFailure::Reason::Cancelled } };
            case WSAirspaces::Failure::Refused:
                break;
            }
            return Failure { ConversionFailure { ConversionFailure::Reason::Refused, {}, std::move(reply.refusal) } };
        }();
        if (completion)
            completion(std::move(result));
    };
    m_service->ConvertOpenAirWithDescription(description, text, fileName, WSAirspaces::FileReplyHandler(std::move(onReply)));
}

} // namespace corvex
