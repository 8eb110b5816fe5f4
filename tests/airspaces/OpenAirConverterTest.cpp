#include "airspaces/Airspaces.h"
#include "airspaces/Base64.h"
#include "airspaces/OpenAirConversion.h"
#include "airspaces/OpenAirConverter.h"
#include "airspaces/WSAirspaces.h"

#include "support/CapturingLogSink.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

using namespace corvex;
using corvex::testing::CapturingLogSink;
using corvex::testing::readTestFile;

namespace {

// Keeps every request; the test answers the last one when it likes.
class ScriptedHttpClient final : public HttpClient {
public:
    struct Sent {
        HttpRequest request;
        HttpCallbacks callbacks;
    };
    std::unique_ptr<HttpTransfer> send(HttpRequest request, HttpCallbacks callbacks) override
    {
        sent.push_back({ std::move(request), std::move(callbacks) });
        struct Transfer final : HttpTransfer {
            void cancel() override { }
        };
        return std::make_unique<Transfer>();
    }
    void answer(HttpResponse response) { sent.back().callbacks.completion(std::move(response)); }

    std::vector<Sent> sent;
};

const std::string smallOpenAir = "AC D\nAN Zürich CTR\nAL GND\nAH 3000 ft\n"
                                 "DP 47:30:00 N 008:30:00 E\nDP 47:30:00 N 008:40:00 E\nDP 47:20:00 N 008:40:00 E\n";
const std::chrono::sys_seconds fixedDate { std::chrono::seconds(1780000000) };

HttpResponse conversionReply(const std::string& binaryFileName, const Bytes& set)
{
    const std::string body = "<?xml version=\"1.0\" encoding=\"utf-8\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\">"
                             "<s:Body><ConvertOpenAirResponse xmlns=\"urn:x\"><ConvertOpenAirResult xmlns:a=\"urn:y\"><a:BinaryFileName>"
        + binaryFileName + "</a:BinaryFileName><a:InternalFormatData>" + encodeBase64(set)
        + "</a:InternalFormatData></ConvertOpenAirResult></ConvertOpenAirResponse></s:Body></s:Envelope>";
    HttpResponse response;
    response.statusCode = 200;
    response.body = Bytes(body.begin(), body.end());
    return response;
}

HttpResponse failedTransfer(HttpError::Kind kind)
{
    HttpResponse response;
    response.error = HttpError { kind, "Connection refused" };
    return response;
}

HttpResponse status(int code)
{
    HttpResponse response;
    response.statusCode = code;
    const std::string body = "<s:Envelope><s:Body><s:Fault><faultstring>no</faultstring></s:Fault></s:Body></s:Envelope>";
    response.body = Bytes(body.begin(), body.end());
    return response;
}

struct Outcome {
    int calls { 0 };
    std::optional<ConvertedAirspaces> converted;
};

OpenAirConverter::Completion recordInto(Outcome& outcome)
{
    return [&outcome](std::optional<ConvertedAirspaces> converted) {
        ++outcome.calls;
        outcome.converted = std::move(converted);
    };
}

// What the stand-in service makes of the file.
Bytes localSet(const std::string& fileName, const std::string& description)
{
    return std::get<Bytes>(openair::convertToInternalFormat(smallOpenAir, { fileName, description, fixedDate }));
}

} // namespace

TEST(SafeCacheFileName, KeepsPlainNamesAndFallsBackToTheHeader)
{
    const Bytes set = localSet("alps.txt", "");
    const std::string headerName = *buildCacheFilenameFromHeader(set);
    struct Case {
        std::string serviceName;
        std::string expected;
    };
    const Case cases[] = {
        { "alps.txt0a1b.as", "alps.txt0a1b.as" },
        { "Zürich & co.as", "Zürich & co.as" },
        { std::string(255, 'a'), std::string(255, 'a') },
        { "", headerName },
        { "../../.config/autostart/x.desktop", headerName },
        { "sets/alps.as", headerName },
        { "/etc/passwd", headerName },
        { ".", headerName },
        { "..", headerName },
        { ".hidden.as", headerName },
        { std::string("alps\0.as", 8), headerName },
        { "two\nlines.as", headerName },
        { std::string(256, 'a'), headerName },
        { "sets\\alps.as", headerName },
        { "caf\xe9.as", headerName }, // ISO-8859-1, not UTF-8
    };
    for (const Case& c : cases)
        EXPECT_EQ(safeCacheFileName(c.serviceName, set), c.expected) << c.serviceName;

    // The header's own name is made safe by the same rule, and a header too short has
    // none.
    const Bytes slashed = localSet("a/b.txt", "");
    EXPECT_EQ(safeCacheFileName("..", slashed)->substr(0, 7), "a_b.txt");
    EXPECT_EQ(safeCacheFileName("..", localSet(".profile", ""))->substr(0, 8), "_profile");
    // A set's name as long as its slot leaves the key room within one file name.
    EXPECT_EQ(safeCacheFileName("", localSet(std::string(250, 'n'), ""))->size(), 255u);
    EXPECT_FALSE(safeCacheFileName("", Bytes(100, 0)));
}

TEST(OpenAirConverter, ConvertsHereWhenTheServiceIsMissingOrUnreachable)
{
    struct Case {
        const char* name;
        std::optional<HttpError::Kind> transferFailure; // none: no service at all
    };
    const Case cases[] = {
        { "no service", std::nullopt },
        { "connection refused", HttpError::Kind::transport },
        { "timed out", HttpError::Kind::timedOut },
    };
    for (const Case& c : cases) {
        CapturingLogSink log;
        ScriptedHttpClient http;
        WSAirspaces service("http://127.0.0.1:9/api/Airspaces.svc", http, log);
        OpenAirConverter converter(c.transferFailure ? &service : nullptr, log, [] { return fixedDate; });
        Outcome outcome;
        converter.convert("Swiss CTRs", smallOpenAir, "swiss.txt", recordInto(outcome));
        if (c.transferFailure) {
            EXPECT_EQ(outcome.calls, 0) << c.name;
            http.answer(failedTransfer(*c.transferFailure));
        }
        ASSERT_EQ(outcome.calls, 1) << c.name;
        ASSERT_TRUE(outcome.converted) << c.name;
        EXPECT_TRUE(outcome.converted->convertedLocally);
        EXPECT_EQ(outcome.converted->bytes, localSet("swiss.txt", "Swiss CTRs")) << c.name;
        EXPECT_TRUE(log.containsPrefix("Converted 'swiss.txt' on this computer: ")) << c.name;
        auto set = Airspaces::initWithDataInInternalFormat(outcome.converted->bytes, log);
        ASSERT_TRUE(set);
        EXPECT_EQ(outcome.converted->fileName, set->buildCacheFilename());
        EXPECT_EQ(set->airspacesUploadDate(), fixedDate);
        EXPECT_EQ(set->globalPolylines().size(), 1u);
    }
}

TEST(OpenAirConverter, BelievesTheServiceWhenItAnswers)
{
    struct Case {
        const char* name;
        HttpResponse response;
        bool converted;
        std::optional<std::string> reason {}; // the refusal's, shown to the user
    };
    const Bytes serviceSet = localSet("swiss.txt", "from the service");
    const Case cases[] = {
        { "SOAP fault", status(500), false, "no" },
        { "service unavailable", status(503), false, "no" },
        { "unreadable reply", status(200), false },
        { "cancelled", failedTransfer(HttpError::Kind::cancelled), false },
        { "converted", conversionReply("swiss.as", serviceSet), true },
    };
    for (const Case& c : cases) {
        CapturingLogSink log;
        ScriptedHttpClient http;
        WSAirspaces service("http://127.0.0.1:9/api/Airspaces.svc", http, log);
        OpenAirConverter converter(&service, log, [] { return fixedDate; });
        Outcome outcome;
        std::optional<std::string> reason;
        converter.convertWithReasons("", smallOpenAir, "swiss.txt", [&](Result<ConvertedAirspaces, ConversionFailure> result) {
            reason = result ? std::nullopt : result.error().serviceReason;
            recordInto(outcome)(result ? std::optional(std::move(*result)) : std::nullopt);
        });
        http.answer(c.response);
        ASSERT_EQ(outcome.calls, 1) << c.name;
        EXPECT_EQ(reason, c.reason) << c.name;
        EXPECT_FALSE(log.containsPrefix("The airspaces service cannot be reached")) << c.name;
        EXPECT_EQ(outcome.converted.has_value(), c.converted) << c.name;
        if (outcome.converted) {
            EXPECT_FALSE(outcome.converted->convertedLocally);
            EXPECT_EQ(outcome.converted->bytes, serviceSet);
            EXPECT_EQ(outcome.converted->fileName, "swiss.as");
        }
    }
}

TEST(OpenAirConverter, TheServicesNameIsMadeSafeAndLatin1FilesAreDecoded)
{
    CapturingLogSink log;
    ScriptedHttpClient http;
    WSAirspaces service("http://127.0.0.1:9/api/Airspaces.svc", http, log);
    OpenAirConverter converter(&service, log);
    const Bytes serviceSet = localSet("swiss.txt", "");
    Outcome outcome;
    // "Zürich" in ISO-8859-1: one byte 0xfc, which is no UTF-8.
    std::string latin1 = smallOpenAir;
    latin1.replace(latin1.find("ü"), 2, "\xfc");
    converter.convert("", latin1, "swiss.txt", recordInto(outcome));
    const std::string sent(http.sent.back().request.body.begin(), http.sent.back().request.body.end());
    EXPECT_NE(sent.find("AN Zürich CTR"), std::string::npos);
    http.answer(conversionReply("../../swiss.as", serviceSet));
    ASSERT_TRUE(outcome.converted);
    EXPECT_EQ(outcome.converted->fileName, *buildCacheFilenameFromHeader(serviceSet));

    // The older files of several countries, converted here.
    OpenAirConverter offline(nullptr, log);
    Outcome germany;
    offline.convert("", readTestFile("openair/Germany.txt"), "Germany.txt", recordInto(germany));
    ASSERT_TRUE(germany.converted);
    auto set = Airspaces::initWithDataInInternalFormat(germany.converted->bytes, log);
    ASSERT_TRUE(set);
    EXPECT_EQ(set->globalPolylines().size(), 677u);

    // A file with a mistake is not converted here either, and says where.
    Outcome broken;
    offline.convert("", "AC C\nAN X\nAL 1000 fx\nDP 47:00:00 N 008:00:00 E\n", "bad.txt", recordInto(broken));
    EXPECT_EQ(broken.calls, 1);
    EXPECT_FALSE(broken.converted);
    EXPECT_TRUE(log.containsPrefix("Cannot convert 'bad.txt' on this computer: line 3: "));
}
