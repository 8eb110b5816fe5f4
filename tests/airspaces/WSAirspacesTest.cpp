#include "VendorServerProcess.h"

#include "airspaces/Airspaces.h"
#include "airspaces/OpenAirConversion.h"
#include "airspaces/OpenAirConverter.h"
#include "airspaces/WSAirspaces.h"
#include "platform/qt/QtHttpClient.h"
#include "platform/VendorEndpoints.h"

#include "support/CapturingLogSink.h"

#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>

#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

using namespace corvex;
using namespace corvex::airspacesSoap;
using corvex::testing::CapturingLogSink;
using corvex::testing::runEventLoopFor;
using corvex::testing::waitUntil;
using corvex::testing::VendorServerProcess;

using corvex::testing::readTestFile;

namespace {


Bytes convertedSet(const std::string& file, const std::string& description)
{
    auto converted = openair::convertToInternalFormat(openair::decodeFileText(readTestFile("openair/" + file)), { file, description, {} });
    return std::get<Bytes>(converted);
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray asQByteArray(const Bytes& bytes)
{
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

// One server, two approved sets, a client and its log.
class WSAirspacesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.isRunning()) << server.standardError().toStdString();
        swiss = convertedSet("Switzerland.txt", "Swiss airspace 2016");
        small = convertedSet("openair_2.txt", "");
        const QDir approved(server.approvedDirectory());
        writeFile(approved.filePath("swiss.bin"), asQByteArray(swiss));
        writeFile(approved.filePath("small.bin"), asQByteArray(small));
        writeFile(approved.filePath("index.txt"), "# id, name, file\n7\tSwitzerland & Liechtenstein\tswiss.bin\n12\tTest <4>\tsmall.bin\n");
        client = std::make_unique<WSAirspaces>(server.serviceUrl().toStdString(), http, log);
    }

    struct FileResult {
        int calls { 0 };
        std::optional<std::string> fileName;
        std::optional<Bytes> data;
    };

    WSAirspaces::FileHandler recordInto(FileResult& result)
    {
        return [&result](std::optional<std::string> fileName, std::optional<Bytes> data) {
            ++result.calls;
            result.fileName = std::move(fileName);
            result.data = std::move(data);
        };
    }

    VendorServerProcess server;
    CapturingLogSink log;
    QtHttpClient http;
    std::unique_ptr<WSAirspaces> client;
    Bytes swiss;
    Bytes small;
};

} // namespace

TEST_F(WSAirspacesTest, ListsTheApprovedSetsInOrder)
{
    int calls = 0;
    std::optional<std::vector<ApprovedAirspacesEntry>> list;
    client->GetApprovedAirspacesListWithCompletionHandler([&](auto entries) {
        ++calls;
        list = std::move(entries);
    });
    EXPECT_TRUE(client->isBusy());
    ASSERT_TRUE(waitUntil([&] { return calls > 0; }));
    runEventLoopFor(100);
    EXPECT_EQ(calls, 1);
    ASSERT_TRUE(list);
    EXPECT_EQ(*list, (std::vector<ApprovedAirspacesEntry> { { "Switzerland & Liechtenstein", "7" }, { "Test <4>", "12" } }));
    EXPECT_TRUE(log.lines.empty());

    // No sets at all is an empty list, not a failure.
    QFile::remove(QDir(server.approvedDirectory()).filePath("index.txt"));
    QFile::remove(QDir(server.approvedDirectory()).filePath("swiss.bin"));
    QFile::remove(QDir(server.approvedDirectory()).filePath("small.bin"));
    list.reset();
    client->GetApprovedAirspacesListWithCompletionHandler([&](auto entries) {
        ++calls;
        list = std::move(entries);
    });
    ASSERT_TRUE(waitUntil([&] { return calls == 2; }));
    ASSERT_TRUE(list);
    EXPECT_TRUE(list->empty());
}

TEST_F(WSAirspacesTest, FetchesOneSetUnderItsCacheName)
{
    FileResult result;
    client->GetApprovedAirspaces(7, recordInto(result));
    ASSERT_TRUE(waitUntil([&] { return result.calls > 0; }));
    ASSERT_TRUE(result.data);
    EXPECT_EQ(*result.data, swiss);
    auto set = Airspaces::initWithDataInInternalFormat(*result.data, log);
    ASSERT_TRUE(set);
    EXPECT_EQ(result.fileName, set->buildCacheFilename());
    EXPECT_EQ(set->globalPolylines().size(), 334u);
    EXPECT_TRUE(log.containsPrefix("Totally downloaded from the server "));
    EXPECT_FALSE(client->isBusy());
}

TEST_F(WSAirspacesTest, ConvertsARealOpenAirFileWithEscapedTexts)
{
    FileResult result;
    const std::string description = "Tom & Jerry's <\"best\"> &amp; set";
    const std::string fileName = "Germany & co.txt";
    client->ConvertOpenAirWithDescription(description, openair::decodeFileText(readTestFile("openair/Germany.txt")), fileName, recordInto(result));
    ASSERT_TRUE(waitUntil([&] { return result.calls > 0; }, 30000));
    ASSERT_TRUE(result.data);
    auto set = Airspaces::initWithDataInInternalFormat(*result.data, log);
    ASSERT_TRUE(set);
    EXPECT_EQ(set->globalPolylines().size(), 677u);
    // The texts arrive as they were typed: escaped once on the way, unescaped once.
    EXPECT_EQ(set->airspacesDescription(), description);
    EXPECT_EQ(set->airspacesFilename(), fileName);
    EXPECT_EQ(result.fileName, set->buildCacheFilename());
}

TEST_F(WSAirspacesTest, FailuresHandNothingToTheCaller)
{
    struct Case {
        std::int64_t id;
        std::string logPrefix;
    };
    const Case cases[] = {
        { 999, "GetApprovedAirspaces:withCompletionHandler:: HTTP return status code 500, Body: <s:Envelope" },
        { -1, "we were unable to extract either binaryFileName or internalFormatData from xml text: " },
        { -2, "Unable to Base64 decode the internalFormatDataBase64Encoded string: " },
    };
    for (const auto& c : cases) {
        log.lines.clear();
        FileResult result;
        client->GetApprovedAirspaces(c.id, recordInto(result));
        ASSERT_TRUE(waitUntil([&] { return result.calls > 0; })) << c.id;
        EXPECT_FALSE(result.fileName) << c.id;
        EXPECT_FALSE(result.data) << c.id;
        EXPECT_TRUE(log.containsPrefix(c.logPrefix)) << c.id << ": " << (log.lines.empty() ? "" : log.lines.back());
    }
    EXPECT_TRUE(log.lines.back().find('\n') != std::string::npos); // the Base64 text with its line breaks

    // A file with a user's mistake: the service's fault names the line.
    log.lines.clear();
    FileResult conversion;
    client->ConvertOpenAirWithDescription("", "AC C\nAN X\nAL 1000 fx\nDP 47:00:00 N 008:00:00 E\n", "bad.txt", recordInto(conversion));
    ASSERT_TRUE(waitUntil([&] { return conversion.calls > 0; }));
    EXPECT_FALSE(conversion.data);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_TRUE(log.lines[0].starts_with("ConvertOpenAirWithDescription:unprocessedAirspacesFileContents:airspacesFilename:"
                                         "completionHandler:: HTTP return status code 500, Body: "));
    EXPECT_NE(log.lines[0].find("line 3: AL altitude '1000 fx' is not understood"), std::string::npos) << log.lines[0];

    // Nobody listening.
    log.lines.clear();
    WSAirspaces unreachable("http://127.0.0.1:1/api/Airspaces.svc", http, log);
    int calls = 0;
    bool gotNothing = false;
    unreachable.GetApprovedAirspacesListWithCompletionHandler([&](auto list) {
        ++calls;
        gotNothing = !list;
    });
    ASSERT_TRUE(waitUntil([&] { return calls > 0; }));
    EXPECT_TRUE(gotNothing);
    EXPECT_TRUE(log.containsPrefix("GetApprovedAirspacesListWithCompletionHandler:: NSURLSession error "));
}

// A service that takes the connection and the request and then says nothing: the
// request ends as unreachable once the line has been silent for the time-out, and a
// conversion then falls back to this computer.
TEST(WSAirspacesSilentService, RequestsTimeOutAsUnreachable)
{
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    std::vector<QTcpSocket*> held; // kept open and unanswered; the server deletes them
    QObject::connect(&silent, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* socket = silent.nextPendingConnection())
            held.push_back(socket);
    });
    const std::string url = "http://127.0.0.1:" + std::to_string(silent.serverPort()) + "/api/Airspaces.svc";
    QtHttpClient http;
    CapturingLogSink log;
    WSAirspaces client(url, http, log, std::chrono::milliseconds(300));

    int listCalls = 0;
    client.GetApprovedAirspacesListWithCompletionHandler([&](auto list) {
        ++listCalls;
        EXPECT_FALSE(list);
    });
    ASSERT_TRUE(waitUntil([&] { return listCalls > 0; }, 5000));
    EXPECT_TRUE(log.contains("GetApprovedAirspacesListWithCompletionHandler:: NSURLSession error The request timed out."))
        << (log.lines.empty() ? "" : log.lines.back());

    OpenAirConverter converter(&client, log);
    std::optional<Result<ConvertedAirspaces, ConversionFailure>> outcome;
    converter.convertWithReasons("", readTestFile("openair/openair_2.txt"), "openair_2.txt",
        [&](Result<ConvertedAirspaces, ConversionFailure> result) { outcome = std::move(result); });
    ASSERT_TRUE(waitUntil([&] { return outcome.has_value(); }, 5000));
    ASSERT_TRUE(*outcome);
    EXPECT_TRUE(outcome->value().convertedLocally);
    EXPECT_FALSE(held.empty()); // the requests did reach it
}

TEST_F(WSAirspacesTest, OneRequestAtATime)
{
    int listCalls = 0;
    FileResult refused;
    client->GetApprovedAirspacesListWithCompletionHandler([&](auto) { ++listCalls; });
    client->GetApprovedAirspaces(7, recordInto(refused));
    client->ConvertOpenAirWithDescription("", "", "x.txt", recordInto(refused));
    client->GetApprovedAirspacesListWithCompletionHandler([&](auto) { ADD_FAILURE() << "a refused request completed"; });
    EXPECT_EQ(log.lines,
        (std::vector<std::string> { "GetApprovedAirspaces: hold up while the previous task finishes, will ya?",
            "ConvertOpenAirWithDescription: hold up while the previous task finishes, will ya?",
            "GetApprovedAirspacesListWithCompletionHandler: hold up while the previous task finishes, will ya?" }));
    ASSERT_TRUE(waitUntil([&] { return listCalls > 0; }));
    runEventLoopFor(200);
    EXPECT_EQ(listCalls, 1);
    EXPECT_EQ(refused.calls, 0);

    // The client is idle again before the handler runs, so a handler may chain.
    FileResult chained;
    client->GetApprovedAirspacesListWithCompletionHandler([&](auto) { client->GetApprovedAirspaces(12, recordInto(chained)); });
    ASSERT_TRUE(waitUntil([&] { return chained.calls > 0; }));
    ASSERT_TRUE(chained.data);
    EXPECT_EQ(*chained.data, small);
}

TEST_F(WSAirspacesTest, CancellingEndsInTheHandlerWithNothing)
{
    FileResult result;
    client->GetApprovedAirspaces(-3, recordInto(result)); // answered two seconds late
    runEventLoopFor(200);
    client->cancelCurrentOperation();
    EXPECT_EQ(result.calls, 0); // never from inside the cancel: on a later turn of the loop
    EXPECT_FALSE(client->isBusy());
    ASSERT_TRUE(waitUntil([&] { return result.calls > 0; }));
    runEventLoopFor(100);
    EXPECT_EQ(result.calls, 1);
    EXPECT_FALSE(result.data);
    EXPECT_TRUE(log.contains("GetApprovedAirspaces:withCompletionHandler:: NSURLSession error Operation canceled")) << log.lines.back();

    client->cancelCurrentOperation(); // nothing in flight: nothing happens
    runEventLoopFor(50);
    EXPECT_EQ(result.calls, 1);
}

TEST_F(WSAirspacesTest, ACancelledRequestStillAnswersOnceTheNextIsUnderWay)
{
    FileResult cancelled;
    FileResult next;
    client->GetApprovedAirspaces(-3, recordInto(cancelled)); // answered two seconds late
    client->cancelCurrentOperation();
    client->GetApprovedAirspaces(12, recordInto(next));
    ASSERT_TRUE(waitUntil([&] { return cancelled.calls > 0 && next.calls > 0; }));
    EXPECT_EQ(cancelled.calls, 1);
    EXPECT_FALSE(cancelled.data);
    ASSERT_TRUE(next.data);
    EXPECT_EQ(*next.data, small);

    // Gone with the client: neither the request in flight nor a cancelled one answers.
    FileResult abandoned;
    client->GetApprovedAirspaces(-3, recordInto(abandoned));
    client->cancelCurrentOperation();
    client->GetApprovedAirspaces(-3, recordInto(abandoned));
    client.reset();
    runEventLoopFor(300);
    EXPECT_EQ(abandoned.calls, 0);
}

TEST(VendorEndpoints, EnvironmentOverridesThePreference)
{
    unsetenv("CORVEX_VENDOR_URL");
    EXPECT_EQ(VendorEndpoints::resolve(std::string("http://vendor.example/")).airspacesServiceUrl(),
        "http://vendor.example/api/Airspaces.svc");
    EXPECT_EQ(VendorEndpoints::resolve(std::nullopt).baseUrl(), VendorEndpoints::fallbackBaseUrl);
    setenv("CORVEX_VENDOR_URL", "http://127.0.0.1:9999", 1);
    EXPECT_EQ(VendorEndpoints::resolve(std::string("http://vendor.example")).versionsFeedUrl(), "http://127.0.0.1:9999/versions.xml");
    unsetenv("CORVEX_VENDOR_URL");
}
