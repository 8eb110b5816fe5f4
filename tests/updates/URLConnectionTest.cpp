// URLConnection over the real HTTP client against the stand-in vendor server on
// loopback, including its transfers that are broken on purpose.
#include "TestUpdateKey.h"
#include "UpdateProducts.h"
#include "VendorServerProcess.h"
#include "platform/qt/QtHttpClient.h"
#include "support/QtTestHelpers.h"
#include "base/Sha256.h"
#include "updates/OfferedDownload.h"
#include "updates/URLConnection.h"

#include <QFile>

#include <gtest/gtest.h>

#include <chrono>

using namespace corvex;
using namespace corvex::testing;

namespace {

// Everything one connection reported.
struct Recorded {
    int completions { 0 };
    int errors { 0 };
    std::optional<Bytes> data;
    std::optional<URLResponse> response;
    std::optional<URLError> error;
    std::vector<float> downloadProgress;

    URLCompletionBlock completion()
    {
        return [this](std::optional<Bytes> body, std::optional<URLResponse> answer) {
            ++completions;
            data = std::move(body);
            response = std::move(answer);
        };
    }
    URLErrorBlock failure()
    {
        return [this](const URLError& failed) {
            ++errors;
            error = failed;
        };
    }
    URLProgressBlock progress()
    {
        return [this](float value) { downloadProgress.push_back(value); };
    }
    bool ended() const { return completions + errors > 0; }
};

class URLConnectionTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.isRunning()) << server.standardError().toStdString(); }

    std::string url(const char* path) const { return server.baseUrl().toStdString() + path; }

    HttpRequest get(const char* path) const
    {
        HttpRequest request;
        request.url = url(path);
        request.inactivityTimeout = std::chrono::seconds(10);
        return request;
    }

    VendorServerProcess server;
    QtHttpClient client;
};

TEST_F(URLConnectionTest, DeliversABodyWithProgressAndKeepsItselfAliveUntilDone)
{
    const QByteArray content(300000, 'f');
    QFile file(server.productsDirectory() + "/firmware.s19");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();

    Recorded recorded;
    std::weak_ptr<URLConnection> weak = URLConnection::asyncConnectionWithRequest(
        client, get("/firmware.s19"), recorded.completion(), recorded.failure(), {}, recorded.progress());
    // Nobody holds it but itself, and nothing is reported from inside start.
    ASSERT_FALSE(weak.expired());
    EXPECT_FALSE(recorded.ended());

    ASSERT_TRUE(waitUntil([&] { return recorded.ended(); }));
    EXPECT_EQ(recorded.errors, 0);
    ASSERT_TRUE(recorded.data && recorded.response);
    EXPECT_EQ(recorded.data->size(), static_cast<std::size_t>(content.size()));
    EXPECT_EQ(recorded.response->statusCode, 200);
    EXPECT_EQ(recorded.response->expectedContentLength, content.size());
    ASSERT_FALSE(recorded.downloadProgress.empty());
    EXPECT_TRUE(std::is_sorted(recorded.downloadProgress.begin(), recorded.downloadProgress.end()));
    EXPECT_FLOAT_EQ(recorded.downloadProgress.back(), 1.0F);
    EXPECT_TRUE(weak.expired());
}

TEST_F(URLConnectionTest, WithoutALengthTheSizeIsMinusOneAndNoProgressIsReported)
{
    Recorded recorded;
    auto connection = URLConnection::asyncConnectionWithRequest(
        client, get("/test/no-length"), recorded.completion(), recorded.failure(), {}, recorded.progress());
    ASSERT_TRUE(waitUntil([&] { return recorded.ended(); }));
    EXPECT_EQ(recorded.errors, 0);
    EXPECT_EQ(connection->downloadSize(), -1);
    EXPECT_TRUE(recorded.downloadProgress.empty());
    ASSERT_TRUE(recorded.data);
    EXPECT_EQ(recorded.data->size(), 200000U);
}

TEST_F(URLConnectionTest, ANotFoundPageCompletesWithItsBodyAndStatus)
{
    Recorded recorded;
    // No progress blocks at all: none may be called.
    auto connection = URLConnection::asyncConnectionWithURLString(
        client, url("/no-such-firmware.s19"), recorded.completion(), recorded.failure());
    ASSERT_TRUE(waitUntil([&] { return recorded.ended(); }));
    EXPECT_EQ(recorded.errors, 0);
    ASSERT_TRUE(recorded.response && recorded.data);
    EXPECT_EQ(recorded.response->statusCode, 404);
    EXPECT_EQ(std::string(recorded.data->begin(), recorded.data->end()), "Not found\n");

    // Cancelling what has ended reports one more completion, without data; the callers
    // take it for a cancellation by the user.
    connection->cancel();
    EXPECT_EQ(recorded.completions, 2);
    EXPECT_FALSE(recorded.data);
    EXPECT_FALSE(recorded.response);
}

TEST_F(URLConnectionTest, CancelBeforeStartDoesNothing)
{
    Recorded recorded;
    auto connection = URLConnection::initWithRequest(
        client, get("/test/no-length"), recorded.completion(), recorded.failure(), {}, recorded.progress());
    connection->cancel();
    runEventLoopFor(300);
    EXPECT_FALSE(recorded.ended());
    EXPECT_TRUE(recorded.downloadProgress.empty());
}

TEST_F(URLConnectionTest, CancelDuringATransferCompletesOnceWithoutDataAndNoError)
{
    Recorded recorded;
    auto connection = URLConnection::asyncConnectionWithRequest(
        client, get("/test/stall"), recorded.completion(), recorded.failure(), {}, recorded.progress());
    // The first part of the body has arrived; the rest never comes.
    ASSERT_TRUE(waitUntil([&] { return !recorded.downloadProgress.empty(); }));
    EXPECT_FALSE(recorded.ended());
    connection->cancel();
    EXPECT_EQ(recorded.completions, 1);
    EXPECT_FALSE(recorded.data);
    EXPECT_FALSE(recorded.response);
    const auto progressCalls = recorded.downloadProgress.size();
    runEventLoopFor(500);
    EXPECT_EQ(recorded.completions, 1);
    EXPECT_EQ(recorded.errors, 0);
    EXPECT_EQ(recorded.downloadProgress.size(), progressCalls);
}

TEST_F(URLConnectionTest, TransportFailuresReachTheErrorBlockOnly)
{
    // A server that stops sending times out; a port where nobody listens refuses.
    HttpRequest stalled = get("/test/stall");
    stalled.inactivityTimeout = std::chrono::milliseconds(400);
    HttpRequest refused;
    refused.url = "http://127.0.0.1:1/versions.xml";
    refused.inactivityTimeout = std::chrono::seconds(10);
    const std::pair<HttpRequest, HttpError::Kind> cases[] = {
        { stalled, HttpError::Kind::timedOut },
        { refused, HttpError::Kind::transport },
    };
    for (const auto& [request, kind] : cases) {
        SCOPED_TRACE(request.url);
        Recorded recorded;
        URLConnection::asyncConnectionWithRequest(client, request, recorded.completion(), recorded.failure());
        ASSERT_TRUE(waitUntil([&] { return recorded.ended(); }));
        runEventLoopFor(100);
        EXPECT_EQ(recorded.completions, 0);
        ASSERT_EQ(recorded.errors, 1);
        EXPECT_EQ(recorded.error->kind, kind);
        EXPECT_FALSE(recorded.error->text.empty());
    }
}

// The one download of an offered file (update window and command line): only a whole
// 200 body with the feed's digest and the vendor's signature, from an address that may
// be fetched, is handed on; every other outcome says which it was.
TEST_F(URLConnectionTest, AnOfferedFileArrivesWholeWithItsDigestOrSaysWhyNot)
{
    const QByteArray content(5000, 's');
    QFile file(server.productsDirectory() + "/offered-firmware.s19");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    const Bytes bytes(content.begin(), content.end());
    const std::string digest = Sha256::hexOf(bytes);
    const std::string signature = signUpdateFile(bytes, testUpdateSigningKeyPath);
    const std::string unknownSigner = signUpdateFile(bytes, "");
    const std::string otherBytes = signUpdateFile(bytesOf("another file"), testUpdateSigningKeyPath);
    TrustedUpdateKeys testKeys;
    ASSERT_TRUE(testKeys.addList(testUpdatePublicKey).empty());
    const std::string served = url("/offered-firmware.s19");
    const auto offered = [&](std::string address, std::optional<std::string> sha256, std::optional<std::string> signed_,
                             std::uint64_t limit = TransferLimit::firmware, std::string serverUrl = {}) {
        return OfferedFile { std::move(address), std::move(sha256), std::move(signed_), limit, std::move(serverUrl), testKeys };
    };
    OfferedFile builtInKeysOnly = offered(served, digest, signature);
    builtInKeysOnly.trustedKeys = TrustedUpdateKeys();
    using Kind = OfferedDownloadFailure::Kind;
    struct Case {
        OfferedFile file;
        std::optional<Kind> failure;
        int status;
    };
    const Case cases[] = {
        { offered(served, digest, signature), std::nullopt, 0 },
        { offered(served, " " + digest + "\n", signature), std::nullopt, 0 },
        { offered(served, std::nullopt, signature), std::nullopt, 0 }, // no digest in the feed
        { offered(served, std::string(64, '0'), signature), Kind::digest, 200 },
        { offered(served, digest, signature, 4096), Kind::transport, 0 }, // over the limit
        { offered(url("/no-such-firmware.s19"), digest, signature), Kind::status, 404 },
        { offered("http://127.0.0.1:1/firmware.s19", std::nullopt, signature), Kind::transport, 0 },
        // Signed by the vendor or refused, whatever the digest says.
        { offered(served, digest, std::nullopt), Kind::notSigned, 200 },
        { offered(served, digest, ""), Kind::notSigned, 200 },
        { offered(served, digest, unknownSigner), Kind::notSigned, 200 },
        { offered(served, digest, otherBytes), Kind::notSigned, 200 },
        { offered(served, digest, signature.substr(4)), Kind::notSigned, 200 },
        { offered(served, digest, "not base64 at all!"), Kind::notSigned, 200 },
        { builtInKeysOnly, Kind::notSigned, 200 },
        // Only https, and http from loopback or from the server the user set (the
        // rule's cases are in UpdateSigning.OnlySecureAddressesAreFetchedOrOpened).
        { offered("file://" + server.productsDirectory().toStdString() + "/offered-firmware.s19", digest, signature),
            Kind::address, 0 },
        { offered("http://updates.invalid/firmware.s19", std::nullopt, signature, TransferLimit::firmware,
              "https://updates.invalid"), Kind::address, 0 },
        // The user's own http server is asked (and is not there).
        { offered("http://updates.invalid/firmware.s19", std::nullopt, signature, TransferLimit::firmware,
              "http://updates.invalid:8080"), Kind::transport, 0 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file.url);
        std::vector<OfferedDownloadResult> results;
        downloadOfferedFile(client, c.file, [&](OfferedDownloadResult result) { results.push_back(std::move(result)); });
        EXPECT_TRUE(results.empty()); // never from inside the call
        ASSERT_TRUE(waitUntil([&] { return !results.empty(); }));
        runEventLoopFor(100);
        ASSERT_EQ(results.size(), 1U);
        if (!c.failure) {
            ASSERT_TRUE(results[0]);
            EXPECT_EQ(results[0]->size(), static_cast<std::size_t>(content.size()));
            continue;
        }
        ASSERT_FALSE(results[0]);
        EXPECT_EQ(results[0].error().kind, *c.failure);
        EXPECT_EQ(results[0].error().statusCode, c.status);
        EXPECT_EQ(results[0].error().kind != Kind::status && results[0].error().kind != Kind::digest,
            !results[0].error().text.empty());
        EXPECT_EQ(results[0].error().actualSha256, c.failure == Kind::digest ? digest : "");
    }

    // A cancelled download says so, once.
    std::vector<OfferedDownloadResult> results;
    auto stalled = downloadOfferedFile(client, { url("/test/stall") }, [&](OfferedDownloadResult result) { results.push_back(std::move(result)); });
    stalled->cancel();
    runEventLoopFor(300);
    ASSERT_EQ(results.size(), 1U);
    EXPECT_EQ(results[0].error().kind, Kind::cancelled);
}

TEST(URLEscaping, EscapesWhatAURLCannotHoldAndKeepsTheRest)
{
    EXPECT_EQ(percentEscapedUrlString("http://h:8/a b/ü.zip?x=1&y=%20"), "http://h:8/a%20b/%C3%BC.zip?x=1&y=%20");
}

} // namespace
