// The replies of the airspaces service: the list, one set, a conversion.
#include "airspaces/AirspacesSoap.h"
#include "airspaces/Base64.h"
#include "platform/LogSink.h"

#include <pugixml.hpp>

#include <cstdlib>

namespace {
class NullLog final : public corvex::LogSink {
public:
    void writeLine(std::string_view) override { }
};
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace corvex::airspacesSoap;
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    NullLog log;
    (void)parseApprovedAirspacesListResponse(body, log);
    (void)parseAirspacesFileResponse(Operation::GetApprovedAirspaces, body, log);
    (void)parseAirspacesFileResponse(Operation::ConvertOpenAir, body, log);
    (void)corvex::decodeBase64Strict(body);
    // Whatever the texts, the request is a document.
    const std::string request = convertOpenAirRequest(body, body, body);
    pugi::xml_document document;
    if (!document.load_buffer(request.data(), request.size(), pugi::parse_default, pugi::encoding_utf8))
        std::abort();
    return 0;
}
