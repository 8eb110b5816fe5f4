#include "airspaces/AirspacesSoap.h"
#include "airspaces/Base64.h"

#include "support/CapturingLogSink.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

using namespace corvex;
using namespace corvex::airspacesSoap;
using corvex::testing::CapturingLogSink;

namespace {

const std::string envelopeStart
    = "<?xml version=\"1.0\" encoding=\"utf-8\"?><SOAP-ENV:Envelope xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
      "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\" "
      "SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\" "
      "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\"><SOAP-ENV:Body>";
const std::string envelopeEnd = "</SOAP-ENV:Body></SOAP-ENV:Envelope>";
const std::string requestStart = "<request xmlns:a=\"http://schemas.datacontract.org/2004/07/Corvex.Services.Airspaces.Entities\" "
                                 "xmlns:i=\"http://www.w3.org/2001/XMLSchema-instance\">";

std::string reply(const std::string& body)
{
    return "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>" + body + "</s:Body></s:Envelope>";
}

std::string setReply(const std::string& result)
{
    return reply("<GetApprovedAirspacesResponse xmlns=\"http://tempuri.org/\"><GetApprovedAirspacesResult "
                 "xmlns:a=\"urn:x\">"
        + result + "</GetApprovedAirspacesResult></GetApprovedAirspacesResponse>");
}

} // namespace

TEST(AirspacesSoap, RequestsAreBuiltByteForByte)
{
    EXPECT_EQ(soapAction(Operation::GetApprovedAirspacesList), "http://tempuri.org/IWsAirspaces/GetApprovedAirspacesList");
    EXPECT_EQ(soapAction(Operation::ConvertOpenAir), "http://tempuri.org/IWsAirspaces/ConvertOpenAir");
    EXPECT_EQ(approvedAirspacesListRequest(),
        envelopeStart + "<GetApprovedAirspacesList xmlns=\"http://tempuri.org/\"/>" + envelopeEnd);
    EXPECT_EQ(approvedAirspacesRequest(-42),
        envelopeStart + "<GetApprovedAirspaces xmlns=\"http://tempuri.org/\">" + requestStart
            + "<a:Id>-42</a:Id></request></GetApprovedAirspaces>" + envelopeEnd);
    EXPECT_EQ(convertOpenAirRequest("Tom & Jerry's \"Alps\"", "AN <A&B>\r\n", "a&amp;b.txt"),
        envelopeStart + "<ConvertOpenAir xmlns=\"http://tempuri.org/\">" + requestStart
            + "<a:Description>Tom &amp; Jerry's \"Alps\"</a:Description>"
              "<a:OpenAirContent>AN &lt;A&amp;B&gt;\r\n</a:OpenAirContent>"
              "<a:OpenAirFileName>a&amp;amp;b.txt</a:OpenAirFileName></request></ConvertOpenAir>"
            + envelopeEnd);
}

// Whatever the user's texts hold, the request is a document that carries them, less
// what XML 1.0 cannot hold.
TEST(AirspacesSoap, RequestTextsAreAlwaysWellFormed)
{
    const std::pair<std::string, std::string> texts[] = {
        { "&\"'><", "&\"'><" },
        { "&amp;", "&amp;" },
        { "Z\xc3\xbcrich", "Z\xc3\xbcrich" },
        { "Z\xfcrich", "Z\xc3\xbcrich" }, // ISO-8859-1
        { "", "" },
        { "a\x01\x08\x1f\x7f b", "a\x7f b" },
        { "tab\tline\ncr", "tab\tline\ncr" },
        { "\xef\xbf\xbe\xef\xbf\xbfkeep\xef\xbf\xbd", "keep\xef\xbf\xbd" }, // U+FFFE and U+FFFF, not U+FFFD
        { "]]></a:Description><x>", "]]></a:Description><x>" },
    };
    for (const auto& [text, kept] : texts) {
        SCOPED_TRACE(text);
        const std::string request = convertOpenAirRequest(text, "AC R\r\n", text);
        pugi::xml_document document;
        ASSERT_TRUE(document.load_buffer(request.data(), request.size(), pugi::parse_default, pugi::encoding_utf8)) << request;
        const pugi::xml_node fields = document.child("SOAP-ENV:Envelope").child("SOAP-ENV:Body").child("ConvertOpenAir").child("request");
        EXPECT_EQ(std::string(fields.child_value("a:Description")), kept);
        EXPECT_EQ(std::string(fields.child_value("a:OpenAirFileName")), kept);
    }
}

TEST(AirspacesSoap, ListRepliesInAnyNamespace)
{
    CapturingLogSink log;
    const std::string body = reply(
        "<GetApprovedAirspacesListResponse xmlns=\"http://tempuri.org/\"><GetApprovedAirspacesListResult "
        "xmlns:a=\"urn:x\"><a:AirspacesList><a:Airspaces><a:DisplayName>Alps <![CDATA[&]]> more</a:DisplayName>"
        "<a:Id>7</a:Id></a:Airspaces><a:Airspaces><a:DisplayName>No id</a:DisplayName></a:Airspaces>"
        "<b:Airspaces xmlns:b=\"urn:y\"><b:Id>9</b:Id><b:DisplayName>Jura</b:DisplayName></b:Airspaces>"
        "</a:AirspacesList></GetApprovedAirspacesListResult></GetApprovedAirspacesListResponse>");
    auto list = parseApprovedAirspacesListResponse(body, log);
    ASSERT_TRUE(list);
    EXPECT_EQ(*list, (std::vector<ApprovedAirspacesEntry> { { "Alps & more", "7" }, { "Jura", "9" } }));

    auto empty = parseApprovedAirspacesListResponse(
        reply("<GetApprovedAirspacesListResponse xmlns=\"http://tempuri.org/\"><GetApprovedAirspacesListResult>"
              "<AirspacesList/></GetApprovedAirspacesListResult></GetApprovedAirspacesListResponse>"),
        log);
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());
    auto noResult = parseApprovedAirspacesListResponse(reply("<Other/>"), log);
    ASSERT_TRUE(noResult);
    EXPECT_TRUE(noResult->empty());
    EXPECT_TRUE(log.lines.empty());

    EXPECT_FALSE(parseApprovedAirspacesListResponse("<a><b></a>", log));
    EXPECT_TRUE(log.contains("Couldn't build an NSXMLDocument out of this xml text: <a><b></a>"));
    EXPECT_FALSE(parseApprovedAirspacesListResponse("", log));
    EXPECT_FALSE(parseApprovedAirspacesListResponse("<a>\xff</a>", log));
}

TEST(AirspacesSoap, SetRepliesNeedExactlyOneOfEachElement)
{
    CapturingLogSink log;
    auto file = parseAirspacesFileResponse(
        Operation::GetApprovedAirspaces, setReply("<a:BinaryFileName>x.as</a:BinaryFileName><a:InternalFormatData>AAEC/w==</a:InternalFormatData>"), log);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->binaryFileName, "x.as");
    EXPECT_EQ(file->internalFormatData, (Bytes { 0, 1, 2, 0xff }));
    // The result element of the other operation does not count.
    EXPECT_FALSE(parseAirspacesFileResponse(
        Operation::ConvertOpenAir, setReply("<a:BinaryFileName>x.as</a:BinaryFileName><a:InternalFormatData>AAEC</a:InternalFormatData>"), log));

    const std::string missing = setReply("<a:InternalFormatData>AAEC</a:InternalFormatData>");
    const std::string twice = setReply("<a:BinaryFileName>x</a:BinaryFileName><a:InternalFormatData>AAEC</a:InternalFormatData>"
                                       "<a:InternalFormatData>AAEC</a:InternalFormatData>");
    for (const auto& body : { missing, twice }) {
        CapturingLogSink failures;
        EXPECT_FALSE(parseAirspacesFileResponse(Operation::GetApprovedAirspaces, body, failures));
        EXPECT_EQ(failures.lines,
            std::vector<std::string> { "we were unable to extract either binaryFileName or internalFormatData from xml text: " + body });
    }

    CapturingLogSink broken;
    EXPECT_FALSE(parseAirspacesFileResponse(Operation::GetApprovedAirspaces,
        setReply("<a:BinaryFileName>x</a:BinaryFileName><a:InternalFormatData>AAEC\nAAEC</a:InternalFormatData>"), broken));
    EXPECT_EQ(broken.lines, std::vector<std::string> { "Unable to Base64 decode the internalFormatDataBase64Encoded string: AAEC\nAAEC" });
}

// A refusal's reason, shown to the user: a fault's own text, trimmed, cut at 500 bytes.
TEST(AirspacesSoap, FaultReasonsComeFromTheFaultstringOnly)
{
    const std::string acrossTheLimit = std::string(499, 'a') + "\xc3\xa9";
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        { "<e:Envelope xmlns:e=\"urn:e\"><e:Body><e:Fault><faultstring xml:lang=\"en\"> Not now\n</faultstring></e:Fault>"
          "</e:Body></e:Envelope>",
            "Not now" },
        { "<Fault><faultstring> </faultstring></Fault>", std::nullopt },
        { "<html>Service Unavailable", std::nullopt },
        { "<Fault><faultstring>" + acrossTheLimit + "</faultstring></Fault>", std::string(499, 'a') },
    };
    for (const auto& [body, reason] : cases)
        EXPECT_EQ(parseSoapFaultReason(body), reason) << body;
}

TEST(Base64, StrictAlphabetAndPadding)
{
    for (std::size_t length = 0; length < 8; ++length) {
        Bytes bytes;
        for (std::size_t i = 0; i < length; ++i)
            bytes.push_back(static_cast<std::uint8_t>(0xf0 + i * 7));
        EXPECT_EQ(decodeBase64Strict(encodeBase64(bytes)), bytes) << length;
    }
    EXPECT_EQ(encodeBase64(bytesOf("Man")), "TWFu");
    EXPECT_EQ(encodeBase64(bytesOf("Ma")), "TWE=");
    EXPECT_EQ(decodeBase64Strict(""), Bytes {});
    for (const char* bad : { "TWFu\n", "TW Fu", "TWE", "TW=u", "=TWE", "TWFu====", "T===", "TWE=TWFu", "TWF\r", "TWF-" })
        EXPECT_FALSE(decodeBase64Strict(bad)) << bad;
}
