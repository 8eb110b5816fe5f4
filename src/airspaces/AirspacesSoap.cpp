#include "airspaces/AirspacesSoap.h"

#include "airspaces/Base64.h"
#include "base/Utf8.h"
#include "base/Format.h"
#include "base/XmlWriting.h"
#include "platform/LogSink.h"

#include <pugixml.hpp>

namespace corvex {

namespace airspacesSoap {

namespace {

std::string concatenate(std::initializer_list<std::string_view> parts)
{
    std::string text;
    for (auto part : parts)
        text += part;
    return text;
}

// The request element of an operation, with the data contract's namespaces.
pugi::xml_node appendRequestElement(pugi::xml_node operation)
{
    pugi::xml_node request = operation.append_child("request");
    xml::appendAttribute(request, "xmlns:a", dataContractNamespace);
    xml::appendAttribute(request, "xmlns:i", schemaInstanceNamespace);
    return request;
}

// The SOAP envelope of a request, without white space between tags; the operation
// element goes into the body it returns.
pugi::xml_node appendEnvelope(pugi::xml_document& document)
{
    pugi::xml_node envelope = document.append_child("SOAP-ENV:Envelope");
    xml::appendAttribute(envelope, "xmlns:xsd", schemaNamespace);
    xml::appendAttribute(envelope, "xmlns:xsi", schemaInstanceNamespace);
    xml::appendAttribute(envelope, "xmlns:SOAP-ENC", encodingNamespace);
    xml::appendAttribute(envelope, "SOAP-ENV:encodingStyle", encodingNamespace);
    xml::appendAttribute(envelope, "xmlns:SOAP-ENV", envelopeNamespace);
    return envelope.append_child("SOAP-ENV:Body");
}

pugi::xml_node appendOperation(pugi::xml_node body, Operation operation)
{
    pugi::xml_node element = body.append_child(std::string(operationName(operation)).c_str());
    xml::appendAttribute(element, "xmlns", serviceNamespace);
    return element;
}

std::string requestText(const pugi::xml_document& document)
{
    return xml::documentText(document, xml::Layout::Compact);
}

// The XPath "*:" step of any namespace.
std::string anyNamespace(std::string_view localName)
{
    return concatenate({ "*[local-name()='", localName, "']" });
}

// The text value of a node: all its text content, in document order.
std::string textOf(const pugi::xml_node& node)
{
    std::string text;
    struct Collector : pugi::xml_tree_walker {
        std::string* text;
        bool for_each(pugi::xml_node& child) override
        {
            if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata)
                *text += child.value();
            return true;
        }
    } collector;
    collector.text = &text;
    if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata)
        return node.value();
    pugi::xml_node walked = node;
    walked.traverse(collector);
    return text;
}

std::optional<pugi::xpath_node_set> select(const pugi::xml_node& context, const std::string& query)
{
    try {
        return context.select_nodes(query.c_str());
    } catch (const pugi::xpath_exception&) {
        return std::nullopt;
    }
}

// The text of the query's node when it finds exactly one.
std::optional<std::string> singleText(const pugi::xml_document& document, const std::string& query)
{
    auto nodes = select(document, query);
    if (!nodes || nodes->size() != 1)
        return std::nullopt;
    return textOf(nodes->first().node());
}

// The body as a document, or nothing with the log line. The service declares UTF-8,
// so a body that is not UTF-8 is no document either.
bool parseDocument(pugi::xml_document& document, std::string_view body, LogSink& log)
{
    if (!isValidUtf8(body)) {
        logLine(log, "Couldn't build an NSXMLDocument out of this xml text: %s", "(null)");
        return false;
    }
    const auto result = document.load_buffer(body.data(), body.size(), pugi::parse_default, pugi::encoding_utf8);
    if (!result || !document.document_element()) {
        logLine(log, "Couldn't build an NSXMLDocument out of this xml text: %s", logExcerpt(body).c_str());
        return false;
    }
    return true;
}

} // namespace

std::string_view operationName(Operation operation)
{
    switch (operation) {
    case Operation::GetApprovedAirspacesList:
        return "GetApprovedAirspacesList";
    case Operation::GetApprovedAirspaces:
        return "GetApprovedAirspaces";
    case Operation::ConvertOpenAir:
        return "ConvertOpenAir";
    }
    return {};
}

std::string soapAction(Operation operation)
{
    return concatenate({ serviceNamespace, "IWsAirspaces/", operationName(operation) });
}

std::string envelope(std::string_view operationElement)
{
    pugi::xml_document document = xml::documentWithDeclaration("utf-8");
    appendEnvelope(document).append_buffer(operationElement.data(), operationElement.size());
    return requestText(document);
}

std::string approvedAirspacesListRequest()
{
    pugi::xml_document document = xml::documentWithDeclaration("utf-8");
    appendOperation(appendEnvelope(document), Operation::GetApprovedAirspacesList);
    return requestText(document);
}

std::string approvedAirspacesRequest(std::int64_t setId)
{
    pugi::xml_document document = xml::documentWithDeclaration("utf-8");
    pugi::xml_node request = appendRequestElement(appendOperation(appendEnvelope(document), Operation::GetApprovedAirspaces));
    xml::appendTextElement(request, "a:Id", formatString("%ld", static_cast<long>(setId)));
    return requestText(document);
}

std::string convertOpenAirRequest(std::string_view description, std::string_view openAirContent, std::string_view openAirFileName)
{
    pugi::xml_document document = xml::documentWithDeclaration("utf-8");
    pugi::xml_node request = appendRequestElement(appendOperation(appendEnvelope(document), Operation::ConvertOpenAir));
    xml::appendTextElement(request, "a:Description", description);
    xml::appendTextElement(request, "a:OpenAirContent", openAirContent);
    xml::appendTextElement(request, "a:OpenAirFileName", openAirFileName);
    return requestText(document);
}

std::optional<std::string> parseSoapFaultReason(std::string_view body)
{
    if (!isValidUtf8(body))
        return std::nullopt;
    pugi::xml_document document;
    if (!document.load_buffer(body.data(), body.size(), pugi::parse_default, pugi::encoding_utf8))
        return std::nullopt;
    const auto nodes = select(document, "//" + anyNamespace("Fault") + "/" + anyNamespace("faultstring"));
    if (!nodes || nodes->empty())
        return std::nullopt;
    std::string reason = textOf(nodes->first().node());
    const auto first = reason.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return std::nullopt;
    reason = reason.substr(first, reason.find_last_not_of(" \t\r\n") - first + 1);
    constexpr std::size_t longestReason = 500;
    if (reason.size() > longestReason) {
        std::size_t cut = longestReason;
        // Back to the first byte of a character, never into the middle of one.
        while (cut > 0 && (static_cast<unsigned char>(reason[cut]) & 0xC0) == 0x80)
            --cut;
        reason.resize(cut);
    }
    return reason;
}

std::optional<std::vector<ApprovedAirspacesEntry>> parseApprovedAirspacesListResponse(std::string_view body, LogSink& log)
{
    pugi::xml_document document;
    if (!parseDocument(document, body, log))
        return std::nullopt;
    auto entries = select(document,
        "//" + anyNamespace("GetApprovedAirspacesListResult") + "/" + anyNamespace("AirspacesList") + "/"
            + anyNamespace("Airspaces"));
    if (!entries) {
        logLine(log, "Failed to execute xpath to get the list of Airspaces objects. xmlText is %s",
            logExcerpt(body).c_str());
        return std::nullopt;
    }
    const std::string nameQuery = anyNamespace("DisplayName");
    const std::string idQuery = anyNamespace("Id");
    std::vector<ApprovedAirspacesEntry> list;
    for (const auto& entry : *entries) {
        auto name = select(entry.node(), nameQuery);
        auto id = select(entry.node(), idQuery);
        if (!name || !id || name->empty() || id->empty())
            continue;
        list.push_back({ textOf(name->first().node()), textOf(id->first().node()) });
    }
    return list;
}

std::optional<AirspacesFile> parseAirspacesFileResponse(Operation operation, std::string_view body, LogSink& log)
{
    pugi::xml_document document;
    if (!parseDocument(document, body, log))
        return std::nullopt;
    const std::string result = "//" + anyNamespace(std::string(operationName(operation)) + "Result") + "/";
    auto fileName = singleText(document, result + anyNamespace("BinaryFileName"));
    auto base64 = singleText(document, result + anyNamespace("InternalFormatData"));
    if (!fileName || !base64) {
        logLine(log, "we were unable to extract either binaryFileName or internalFormatData from xml text: %s",
            logExcerpt(body).c_str());
        return std::nullopt;
    }
    auto bytes = decodeBase64Strict(*base64);
    if (!bytes) {
        logLine(log, "Unable to Base64 decode the internalFormatDataBase64Encoded string: %s", base64->c_str());
        return std::nullopt;
    }
    return AirspacesFile { std::move(*fileName), std::move(*bytes) };
}

} // namespace airspacesSoap

} // namespace corvex
