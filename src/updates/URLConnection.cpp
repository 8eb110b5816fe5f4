#include "updates/URLConnection.h"

#include <charconv>
#include <utility>

namespace corvex {

namespace {

std::int64_t announcedLength(const HttpResponse& response)
{
    // A body the client decompresses is longer than the length the server announced.
    if (response.header("Content-Encoding"))
        return -1;
    const auto text = response.header("Content-Length");
    if (!text)
        return -1;
    std::int64_t length = -1;
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), length);
    return error == std::errc() && end == text->data() + text->size() && length >= 0 ? length : -1;
}

} // namespace

std::string percentEscapedUrlString(std::string_view text)
{
    static constexpr std::string_view kept = "-._~:/?#[]@!$&'()*+,;=%";
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool alphanumeric = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9');
        if (alphanumeric || kept.find(c) != std::string_view::npos) {
            escaped += c;
        } else {
            escaped += '%';
            escaped += hex[byte >> 4];
            escaped += hex[byte & 0x0F];
        }
    }
    return escaped;
}

URLConnection::URLConnection(HttpClient& client, HttpRequest request, URLCompletionBlock completionBlock,
    URLErrorBlock errorBlock, URLProgressBlock uploadPorgressBlock, URLProgressBlock downloadProgressBlock)
    : m_client(client)
    , m_request(std::move(request))
    , m_completionBlock(std::move(completionBlock))
    , m_errorBlock(std::move(errorBlock))
    , m_uploadBlock(std::move(uploadPorgressBlock))
    , m_downloadBlock(std::move(downloadProgressBlock))
{
}

URLConnection::~URLConnection() = default;

std::shared_ptr<URLConnection> URLConnection::initWithRequest(HttpClient& client, HttpRequest request,
    URLCompletionBlock completionBlock, URLErrorBlock errorBlock, URLProgressBlock uploadPorgressBlock,
    URLProgressBlock downloadProgressBlock)
{
    return std::shared_ptr<URLConnection>(new URLConnection(client, std::move(request), std::move(completionBlock),
        std::move(errorBlock), std::move(uploadPorgressBlock), std::move(downloadProgressBlock)));
}

std::shared_ptr<URLConnection> URLConnection::asyncConnectionWithRequest(HttpClient& client, HttpRequest request,
    URLCompletionBlock completionBlock, URLErrorBlock errorBlock, URLProgressBlock uploadPorgressBlock,
    URLProgressBlock downloadProgressBlock)
{
    auto connection = initWithRequest(client, std::move(request), std::move(completionBlock), std::move(errorBlock),
        std::move(uploadPorgressBlock), std::move(downloadProgressBlock));
    connection->start();
    return connection;
}

std::shared_ptr<URLConnection> URLConnection::asyncConnectionWithRequest(
    HttpClient& client, HttpRequest request, URLCompletionBlock completionBlock, URLErrorBlock errorBlock)
{
    return asyncConnectionWithRequest(
        client, std::move(request), std::move(completionBlock), std::move(errorBlock), {}, {});
}

std::shared_ptr<URLConnection> URLConnection::asyncConnectionWithURLString(
    HttpClient& client, const std::string& urlString, URLCompletionBlock completionBlock, URLErrorBlock errorBlock)
{
    HttpRequest request;
    request.url = urlString;
    return asyncConnectionWithRequest(client, std::move(request), std::move(completionBlock), std::move(errorBlock));
}

void URLConnection::start()
{
    if (m_started)
        return;
    m_started = true;
    m_self = shared_from_this();
    const std::weak_ptr<URLConnection> weak = m_self;
    HttpCallbacks callbacks;
    callbacks.completion = [weak](HttpResponse response) {
        if (const auto self = weak.lock())
            self->didFinish(std::move(response));
    };
    callbacks.downloadProgress = [weak](std::int64_t received, std::int64_t total) {
        if (const auto self = weak.lock())
            self->didReceiveData(received, total);
    };
    callbacks.uploadProgress = [weak](std::int64_t sent, std::int64_t total) {
        if (const auto self = weak.lock())
            self->didSendBodyData(sent, total);
    };
    m_transfer = m_client.send(m_request, std::move(callbacks));
}

void URLConnection::cancel()
{
    if (!m_started)
        return;
    // The completion block may drop the caller's last reference.
    const auto keep = shared_from_this();
    // Dropping the transfer silences it: no cancellation error or late chunk follows.
    m_transfer.reset();
    m_self.reset();
    if (m_completionBlock)
        m_completionBlock(std::nullopt, std::nullopt);
}

void URLConnection::abandon()
{
    const auto keep = shared_from_this();
    m_transfer.reset();
    m_completionBlock = {};
    m_errorBlock = {};
    m_uploadBlock = {};
    m_downloadBlock = {};
    m_self.reset();
}

void URLConnection::didReceiveData(std::int64_t received, std::int64_t total)
{
    m_downloadSize = total;
    if (m_downloadSize != -1 && m_downloadBlock)
        m_downloadBlock(static_cast<float>(received) / static_cast<float>(m_downloadSize));
}

void URLConnection::didSendBodyData(std::int64_t written, std::int64_t expected)
{
    if (m_uploadBlock && expected > 0)
        m_uploadBlock(static_cast<float>(written) / static_cast<float>(expected));
}

void URLConnection::didFinish(HttpResponse response)
{
    const auto keep = shared_from_this();
    m_self.reset();
    m_transfer.reset();
    if (response.error) {
        if (m_errorBlock)
            m_errorBlock(*response.error);
        return;
    }
    if (m_downloadSize == -1)
        m_downloadSize = announcedLength(response);
    URLResponse urlResponse { response.statusCode, std::move(response.headers), m_downloadSize };
    if (m_completionBlock)
        m_completionBlock(std::move(response.body), std::move(urlResponse));
}

} // namespace corvex
