#pragma once

#include "base/Bytes.h"
#include "platform/HttpClient.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace corvex {

// What the server answered, as the callers look at it: they check the status code and
// interpret the bytes themselves.
struct URLResponse {
    int statusCode { 0 };
    HttpHeaders headers {};
    // The length the server announced; -1 when it sent none.
    std::int64_t expectedContentLength { -1 };
};

// The platform's error for a failed transfer (connection refused, lost, timed out).
using URLError = HttpError;

// Finished: the body and the response. Cancelled: neither.
using URLCompletionBlock = std::function<void(std::optional<Bytes> data, std::optional<URLResponse> response)>;
using URLErrorBlock = std::function<void(const URLError& error)>;
// A fraction, 0 to 1 when the server's length is right.
using URLProgressBlock = std::function<void(float progress)>;

// The address text made safe for a request: bytes that may not appear in a URL
// (spaces, quotes, non-ASCII as UTF-8, ...) become %XX; everything else, existing
// escapes included, stays as it is.
std::string percentEscapedUrlString(std::string_view text);

// One asynchronous HTTP transfer reported through callbacks given at creation. It is
// the only HTTP client of the updates: the feed, the firmware and the software
// downloads. Status codes mean nothing to it: a 404 page completes like any other body.
//
// Every callback runs on the main loop, never from inside start(). A started
// connection keeps itself alive until it has finished, failed or been cancelled, so the
// caller need not hold it; a caller that wants to cancel later keeps the pointer.
class URLConnection final : public std::enable_shared_from_this<URLConnection> {
public:
    // Creates, starts and returns the connection. Either progress block may be empty.
    static std::shared_ptr<URLConnection> asyncConnectionWithRequest(HttpClient& client, HttpRequest request,
        URLCompletionBlock completionBlock, URLErrorBlock errorBlock, URLProgressBlock uploadPorgressBlock,
        URLProgressBlock downloadProgressBlock);
    static std::shared_ptr<URLConnection> asyncConnectionWithRequest(
        HttpClient& client, HttpRequest request, URLCompletionBlock completionBlock, URLErrorBlock errorBlock);
    // A plain GET with the platform's default cache policy and time-outs.
    static std::shared_ptr<URLConnection> asyncConnectionWithURLString(
        HttpClient& client, const std::string& urlString, URLCompletionBlock completionBlock, URLErrorBlock errorBlock);

    // Keeps the request and the blocks; starts nothing. The client must outlive the
    // transfer.
    static std::shared_ptr<URLConnection> initWithRequest(HttpClient& client, HttpRequest request,
        URLCompletionBlock completionBlock, URLErrorBlock errorBlock, URLProgressBlock uploadPorgressBlock,
        URLProgressBlock downloadProgressBlock);

    URLConnection(const URLConnection&) = delete;
    URLConnection& operator=(const URLConnection&) = delete;
    ~URLConnection();

    // Starts the transfer. A connection serves one transfer: a second start does nothing.
    void start();
    // Once started: stops the transfer if it still runs and calls the completion block,
    // at once, without data and without response (also after the transfer has ended,
    // which the callers treat as one more cancellation). Before start: nothing.
    void cancel();
    // Stops the transfer and forgets every block without calling any: for an owner that
    // goes away while the transfer may still run.
    void abandon();

    const HttpRequest& request() const { return m_request; }
    // The length the server announced; -1 until it is known or when it sent none.
    std::int64_t downloadSize() const { return m_downloadSize; }
    bool isRunning() const { return m_transfer != nullptr; }

private:
    URLConnection(HttpClient& client, HttpRequest request, URLCompletionBlock completionBlock, URLErrorBlock errorBlock,
        URLProgressBlock uploadPorgressBlock, URLProgressBlock downloadProgressBlock);

    void didReceiveData(std::int64_t received, std::int64_t total);
    void didSendBodyData(std::int64_t written, std::int64_t expected);
    void didFinish(HttpResponse response);

    HttpClient& m_client;
    HttpRequest m_request;
    std::unique_ptr<HttpTransfer> m_transfer;
    std::int64_t m_downloadSize { -1 };
    URLCompletionBlock m_completionBlock;
    URLErrorBlock m_errorBlock;
    URLProgressBlock m_uploadBlock;
    URLProgressBlock m_downloadBlock;
    bool m_started { false };
    // Held while the transfer runs, so that nobody else has to.
    std::shared_ptr<URLConnection> m_self;
};

} // namespace corvex
