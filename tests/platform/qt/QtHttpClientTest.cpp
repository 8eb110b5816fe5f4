#include "platform/qt/QtHttpClient.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

using namespace corvex;
using namespace std::chrono_literals;

namespace {

// An HTTP server on 127.0.0.1 whose answers the test writes by hand, so that it can
// stall, trickle or leave out the length. It reads each request's head and body, then
// hands the socket to the answer. One request at a time per connection.
class LoopbackServer {
public:
    using Answer = std::function<void(QTcpSocket&)>;

    explicit LoopbackServer(Answer answer)
        : m_answer(std::move(answer))
    {
        m_server.listen(QHostAddress::LocalHost);
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                auto received = std::make_shared<QByteArray>();
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, received] {
                    received->append(socket->readAll());
                    const qsizetype headEnd = received->indexOf("\r\n\r\n");
                    if (headEnd < 0)
                        return;
                    qsizetype length = 0;
                    for (const QByteArray& line : received->left(headEnd).split('\n')) {
                        if (line.toLower().startsWith("content-length:"))
                            length = line.mid(15).trimmed().toLongLong();
                    }
                    if (received->size() < headEnd + 4 + length)
                        return;
                    requestBodySize = length;
                    // The client keeps the connection for its next request.
                    received->remove(0, headEnd + 4 + length);
                    m_answer(*socket);
                });
            }
        });
    }

    std::string url() const { return "http://127.0.0.1:" + std::to_string(m_server.serverPort()) + "/file"; }

    qsizetype requestBodySize { -1 };

private:
    QTcpServer m_server;
    Answer m_answer;
};

// Writes the body one byte per interval; the timer dies with the socket.
void trickle(QTcpSocket& socket, QByteArray body, std::chrono::milliseconds interval)
{
    auto* timer = new QTimer(&socket);
    QObject::connect(timer, &QTimer::timeout, &socket, [&socket, timer, body, sent = qsizetype { 0 }]() mutable {
        socket.write(body.mid(sent++, 1));
        if (sent == body.size())
            timer->stop();
    });
    timer->start(interval);
}

struct Recorder {
    HttpCallbacks callbacks()
    {
        return {
            [this](HttpResponse r) {
                ++completions;
                response = std::move(r);
            },
            [this](std::int64_t received, std::int64_t total) { downloads.emplace_back(received, total); },
            [this](std::int64_t sent, std::int64_t total) { uploads.emplace_back(sent, total); },
        };
    }
    bool waitForCompletion() { return QTest::qWaitFor([this] { return completions > 0; }, 10000); }

    using Progress = std::pair<std::int64_t, std::int64_t>;
    int completions { 0 };
    HttpResponse response;
    std::vector<Progress> downloads;
    std::vector<Progress> uploads;
};

HttpRequest getRequest(const LoopbackServer& server, std::optional<std::chrono::milliseconds> inactivityTimeout = {})
{
    return { HttpMethod::get, server.url(), {}, {}, inactivityTimeout, HttpCachePolicy::ignoreLocalCache };
}

} // namespace

TEST(QtHttpClient, TheInactivityTimeOutCountsSilenceNotTheWholeTransfer)
{
    QtHttpClient client;
    const QByteArray body = "twelve bytes";
    LoopbackServer steady([&](QTcpSocket& socket) {
        socket.write("HTTP/1.1 200 OK\r\nContent-Length: 12\r\n\r\n");
        trickle(socket, body, 100ms);
    });
    Recorder slow;
    QElapsedTimer clock;
    clock.start();
    auto transfer = client.send(getRequest(steady, 400ms), slow.callbacks());
    ASSERT_TRUE(slow.waitForCompletion());
    EXPECT_GT(clock.elapsed(), 1000); // well past the time-out, yet never silent for it
    EXPECT_FALSE(slow.response.error) << slow.response.error->text;
    EXPECT_EQ(slow.response.body, Bytes(body.begin(), body.end()));
    ASSERT_FALSE(slow.downloads.empty());
    EXPECT_EQ(slow.downloads.back(), Recorder::Progress(12, 12));

    LoopbackServer stalled([](QTcpSocket& socket) { socket.write("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc"); });
    Recorder stuck;
    clock.restart();
    transfer = client.send(getRequest(stalled, 400ms), stuck.callbacks());
    ASSERT_TRUE(stuck.waitForCompletion());
    EXPECT_GE(clock.elapsed(), 400);
    ASSERT_TRUE(stuck.response.error);
    EXPECT_EQ(stuck.response.error->kind, HttpError::Kind::timedOut);
    EXPECT_EQ(stuck.response.statusCode, 200);
    QTest::qWait(100);
    EXPECT_EQ(stuck.completions, 1);
}

TEST(QtHttpClient, ProgressBodiesAndStatusesArriveAsSent)
{
    QtHttpClient client;
    // No Content-Length: the body runs until the server closes.
    LoopbackServer unsized([](QTcpSocket& socket) {
        socket.write("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nfirst part, ");
        QTimer::singleShot(50, &socket, [&socket] {
            socket.write("second part");
            socket.disconnectFromHost();
        });
    });
    Recorder unknownLength;
    auto transfer = client.send(getRequest(unsized), unknownLength.callbacks());
    ASSERT_TRUE(unknownLength.waitForCompletion());
    EXPECT_FALSE(unknownLength.response.error);
    EXPECT_EQ(unknownLength.response.body, bytesOf("first part, second part"));
    ASSERT_GE(unknownLength.downloads.size(), 2u);
    for (const auto& [received, total] : unknownLength.downloads)
        EXPECT_EQ(total, -1) << received;
    EXPECT_EQ(unknownLength.downloads.back().first, 23);

    // A 404 is an answer, not a failed transfer; the upload reports its whole body.
    LoopbackServer missing([](QTcpSocket& socket) {
        socket.write("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\nX-Reason: gone\r\n\r\nnot here.");
    });
    Recorder notFound;
    const Bytes upload(300000, 'x');
    transfer = client.send({ HttpMethod::post, missing.url(), { { "Content-Type", "text/plain" } }, upload, {}, {} },
        notFound.callbacks());
    ASSERT_TRUE(notFound.waitForCompletion());
    EXPECT_FALSE(notFound.response.error);
    EXPECT_EQ(notFound.response.statusCode, 404);
    EXPECT_EQ(notFound.response.body, bytesOf("not here."));
    EXPECT_EQ(notFound.response.header("x-reason"), "gone");
    EXPECT_EQ(missing.requestBodySize, 300000);
    ASSERT_FALSE(notFound.uploads.empty());
    EXPECT_EQ(notFound.uploads.back(), Recorder::Progress(300000, 300000));
}

TEST(QtHttpClient, ABodyPastItsLimitFailsTheTransferInsteadOfMemory)
{
    QtHttpClient client;
    LoopbackServer tenBytes([](QTcpSocket& socket) { socket.write("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n0123456789"); });
    for (const auto& [limit, fails] : { std::pair { 10u, false }, std::pair { 9u, true } }) {
        HttpRequest request = getRequest(tenBytes);
        request.maximumBodyBytes = limit;
        Recorder recorder;
        auto transfer = client.send(request, recorder.callbacks());
        ASSERT_TRUE(recorder.waitForCompletion());
        EXPECT_EQ(recorder.response.error.has_value(), fails) << limit;
    }

    // A server that never stops sending never falls silent either: only the limit ends it.
    LoopbackServer endless([](QTcpSocket& socket) {
        socket.write("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
        auto* timer = new QTimer(&socket);
        QObject::connect(timer, &QTimer::timeout, &socket, [&socket] { socket.write(QByteArray(64 * 1024, 'x')); });
        timer->start(1);
    });
    HttpRequest request = getRequest(endless, 2s);
    request.maximumBodyBytes = 1 << 20;
    Recorder recorder;
    auto transfer = client.send(request, recorder.callbacks());
    ASSERT_TRUE(recorder.waitForCompletion());
    ASSERT_TRUE(recorder.response.error);
    EXPECT_EQ(recorder.response.error->kind, HttpError::Kind::transport);
    EXPECT_EQ(recorder.response.error->text, "The reply is larger than 1048576 bytes.");
    EXPECT_LT(recorder.response.body.size(), 2u << 20);
    QTest::qWait(50);
    EXPECT_EQ(recorder.completions, 1);
}

TEST(QtHttpClient, CancelAndAbandonNeverCallBackFromInsideTheCall)
{
    QtHttpClient client;
    LoopbackServer silent([](QTcpSocket& socket) { socket.write("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc"); });

    // Cancelled before anything reached the server, and once the answer had begun.
    for (const int waitMilliseconds : { 0, 300 }) {
        Recorder cancelled;
        auto transfer = client.send(getRequest(silent), cancelled.callbacks());
        QTest::qWait(waitMilliseconds);
        transfer->cancel();
        EXPECT_EQ(cancelled.completions, 0) << waitMilliseconds;
        ASSERT_TRUE(cancelled.waitForCompletion()) << waitMilliseconds;
        ASSERT_TRUE(cancelled.response.error);
        EXPECT_EQ(cancelled.response.error->kind, HttpError::Kind::cancelled);
        EXPECT_EQ(cancelled.response.error->text, "Operation canceled");
        transfer->cancel(); // already over: nothing more
        QTest::qWait(100);
        EXPECT_EQ(cancelled.completions, 1) << waitMilliseconds;
    }

    // Dropping the handle silences the transfer, even a completion already due.
    LoopbackServer quick([](QTcpSocket& socket) { socket.write("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"); });
    Recorder abandoned;
    auto transfer = client.send(getRequest(quick), abandoned.callbacks());
    transfer->cancel();
    transfer.reset();
    transfer = client.send(getRequest(silent), abandoned.callbacks());
    QTest::qWait(300);
    transfer.reset();
    QTest::qWait(200);
    EXPECT_EQ(abandoned.completions, 0);

    // A completion may drop its own handle and start the next transfer.
    int chained = 0;
    std::unique_ptr<HttpTransfer> next;
    transfer = client.send(getRequest(quick), { .completion = [&](HttpResponse) {
        transfer.reset();
        next = client.send(getRequest(quick), { .completion = [&](HttpResponse response) { chained = response.statusCode; } });
    } });
    ASSERT_TRUE(QTest::qWaitFor([&] { return chained != 0; }, 10000));
    EXPECT_EQ(chained, 200);
}

// Qt reports a body that fails to decompress, or decompresses past its safety limit, with
// an error code that also serves 4xx answers: under a 200 it is a failed transfer, never
// an empty body that passes for the file.
TEST(QtHttpClient, ABodyThatFailsToDecompressFailsTheTransfer)
{
    QtHttpClient client;
    // Zeros compress a thousandfold: past Qt's threshold the ratio gives the bomb away.
    const QByteArray bomb = qCompress(QByteArray(64 << 20, '\0'), 9).mid(4);
    const std::pair<const char*, QByteArray> bodies[] = {
        { "deflate", bomb },
        { "gzip", QByteArray("this is not gzip at all, just text") },
    };
    for (const auto& [encoding, body] : bodies) {
        SCOPED_TRACE(encoding);
        LoopbackServer server([&, encoding = encoding, body = body](QTcpSocket& socket) {
            socket.write("HTTP/1.1 200 OK\r\nContent-Encoding: " + QByteArray(encoding)
                + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        });
        HttpRequest request = getRequest(server, 5s);
        request.maximumBodyBytes = 512ull << 20; // Qt's own limit is the one under test
        Recorder recorder;
        auto transfer = client.send(request, recorder.callbacks());
        ASSERT_TRUE(recorder.waitForCompletion());
        ASSERT_TRUE(recorder.response.error);
        EXPECT_EQ(recorder.response.error->kind, HttpError::Kind::transport);
        EXPECT_LT(recorder.response.body.size(), 64u << 20);
    }
}

// A server that sends a byte now and then is never silent long enough for the
// inactivity time-out; the overall deadline, the request's or the client's, ends it.
TEST(QtHttpClient, TheDeadlineEndsATransferThatNeverFallsSilent)
{
    LoopbackServer trickling([](QTcpSocket& socket) {
        socket.write("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n");
        trickle(socket, QByteArray(1000, 'x'), 50ms);
    });
    QtHttpClient plain;
    QtHttpClient withDeadline(600ms);
    struct Case {
        const char* what;
        QtHttpClient& client;
        std::optional<std::chrono::milliseconds> requestDeadline;
    };
    const Case cases[] = {
        { "the request's deadline", plain, 600ms },
        { "the client's default", withDeadline, std::nullopt },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HttpRequest request = getRequest(trickling, 400ms);
        request.totalTimeout = c.requestDeadline;
        Recorder recorder;
        QElapsedTimer clock;
        clock.start();
        auto transfer = c.client.send(request, recorder.callbacks());
        ASSERT_TRUE(recorder.waitForCompletion());
        EXPECT_GE(clock.elapsed(), 550); // Qt's coarse timers fire up to 5 % early
        EXPECT_LT(clock.elapsed(), 5000);
        ASSERT_TRUE(recorder.response.error);
        EXPECT_EQ(recorder.response.error->kind, HttpError::Kind::timedOut);
        EXPECT_EQ(recorder.response.error->text, "The transfer did not end within its deadline of 0.6 seconds.");
        QTest::qWait(100);
        EXPECT_EQ(recorder.completions, 1);
    }
}
