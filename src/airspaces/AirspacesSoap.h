#pragma once

#include "base/Bytes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvex {

class LogSink;

// The messages of the vendor's airspaces SOAP 1.1 service: request bodies built byte
// for byte, and the pure parsers of the replies. The transport is elsewhere
// (WSAirspaces), so the stand-in server, the tests and the fuzzers share these.
namespace airspacesSoap {

inline constexpr std::string_view serviceNamespace = "http://tempuri.org/";
inline constexpr std::string_view dataContractNamespace
    = "http://schemas.datacontract.org/2004/07/Corvex.Services.Airspaces.Entities";
inline constexpr std::string_view envelopeNamespace = "http://schemas.xmlsoap.org/soap/envelope/";
inline constexpr std::string_view encodingNamespace = "http://schemas.xmlsoap.org/soap/encoding/";
inline constexpr std::string_view schemaNamespace = "http://www.w3.org/2001/XMLSchema";
inline constexpr std::string_view schemaInstanceNamespace = "http://www.w3.org/2001/XMLSchema-instance";
inline constexpr std::string_view contentType = "text/xml; charset=utf-8";

enum class Operation {
    GetApprovedAirspacesList,
    GetApprovedAirspaces,
    ConvertOpenAir,
};

std::string_view operationName(Operation operation);
// The "SOAPAction" header: the service namespace, "IWsAirspaces/" and the operation.
std::string soapAction(Operation operation);

// The envelope around one operation element, no white space between tags.
std::string envelope(std::string_view operationElement);
std::string approvedAirspacesListRequest();
std::string approvedAirspacesRequest(std::int64_t setId);
// The three texts as XML character data: escaped by the writer, what XML 1.0 cannot
// carry left out, a text that is not UTF-8 read as ISO-8859-1.
std::string convertOpenAirRequest(std::string_view description, std::string_view openAirContent, std::string_view openAirFileName);

// One entry of the approved list: the service's "DisplayName" and "Id" texts.
struct ApprovedAirspacesEntry {
    std::string displayName;
    std::string id;
    friend bool operator==(const ApprovedAirspacesEntry&, const ApprovedAirspacesEntry&) = default;
};

// A set as the service hands it over: its BinaryFileName and the decoded bytes.
struct AirspacesFile {
    std::string binaryFileName;
    Bytes internalFormatData;
};

// The parsers log their failures with the caller's method name where the line has
// one. The list may be empty: a reply without the list element is an empty list.
std::optional<std::vector<ApprovedAirspacesEntry>> parseApprovedAirspacesListResponse(std::string_view body, LogSink& log);
// For GetApprovedAirspaces and ConvertOpenAir.
std::optional<AirspacesFile> parseAirspacesFileResponse(Operation operation, std::string_view body, LogSink& log);
// The reason a SOAP fault gives (its faultstring, whitespace trimmed), or nothing when
// the body is no fault or gives no reason. The text is the service's and is shown to
// the user as it comes, so it is cut at 500 bytes (on a UTF-8 boundary).
std::optional<std::string> parseSoapFaultReason(std::string_view body);

} // namespace airspacesSoap

} // namespace corvex
