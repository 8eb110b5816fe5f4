#include "updates/OfferedDownload.h"

#include "base/Sha256.h"
#include "platform/VendorEndpoints.h"

#include <algorithm>
#include <cctype>
#include <chrono>

namespace corvex {

namespace {

struct AddressParts {
    std::string scheme; // lower case
    std::string host; // lower case, without brackets or port
};

// The scheme and host of an absolute address; an empty scheme when it has none.
AddressParts addressParts(std::string_view url)
{
    AddressParts parts;
    const std::size_t colon = url.find(':');
    if (colon == std::string_view::npos || colon == 0)
        return parts;
    for (const char c : url.substr(0, colon)) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.')
            return parts;
        parts.scheme += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    std::string_view rest = url.substr(colon + 1);
    if (!rest.starts_with("//"))
        return parts;
    rest.remove_prefix(2);
    rest = rest.substr(0, rest.find_first_of("/?#"));
    if (const std::size_t at = rest.rfind('@'); at != std::string_view::npos)
        rest.remove_prefix(at + 1);
    if (rest.starts_with('[')) {
        rest = rest.substr(1, rest.find(']') == std::string_view::npos ? rest.size() : rest.find(']') - 1);
    } else if (const std::size_t port = rest.find(':'); port != std::string_view::npos) {
        rest = rest.substr(0, port);
    }
    for (const char c : rest)
        parts.host += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return parts;
}

bool isLoopbackHost(const std::string& host)
{
    return host == "localhost" || host == "::1" || (host.starts_with("127.") && host.find_first_not_of("0123456789.") == std::string::npos);
}

} // namespace

bool isWebAddressForTheBrowser(std::string_view url)
{
    const AddressParts parts = addressParts(url);
    return parts.scheme == "https" && !parts.host.empty();
}

bool mayFetchOfferedAddress(std::string_view url, std::string_view serverUrl)
{
    const AddressParts parts = addressParts(url);
    if (parts.host.empty())
        return false;
    if (parts.scheme == "https")
        return true;
    if (parts.scheme != "http")
        return false;
    if (isLoopbackHost(parts.host))
        return true;
    // The user chose a plain http server: its own addresses are taken as they are.
    const AddressParts server = addressParts(serverUrl);
    return server.scheme == "http" && server.host == parts.host;
}

std::shared_ptr<URLConnection> downloadOfferedFile(HttpClient& http, const OfferedFile& file,
    std::function<void(OfferedDownloadResult)> completion, URLProgressBlock downloadProgress)
{
    using Kind = OfferedDownloadFailure::Kind;
    HttpRequest request;
    request.url = percentEscapedUrlString(file.url);
    request.cachePolicy = HttpCachePolicy::ignoreLocalCache;
    request.inactivityTimeout = std::chrono::seconds(VendorEndpoints::downloadTimeoutSeconds);
    request.maximumBodyBytes = file.maximumBytes;
    // Only https is trusted; loopback and a plain http server the user chose are the
    // exceptions. A refused address is never requested: the request goes out without
    // one, which the client fails on a later turn like any other unreachable address.
    std::string refusal;
    if (!mayFetchOfferedAddress(request.url, file.serverUrl)) {
        refusal = "the address " + request.url + " is neither https nor on the vendor server the user set";
        request.url.clear();
    }
    // Shared by both blocks; only one of them runs.
    auto finish = std::make_shared<std::function<void(OfferedDownloadResult)>>(std::move(completion));
    return URLConnection::asyncConnectionWithRequest(
        http, std::move(request),
        [finish, refusal, expected = file.sha256, signature = file.signature, keys = file.trustedKeys](
            std::optional<Bytes> body, std::optional<URLResponse> response) {
            if (!body)
                return (*finish)(Failure { OfferedDownloadFailure { Kind::cancelled } });
            if (!refusal.empty())
                return (*finish)(Failure { OfferedDownloadFailure { Kind::address, 0, refusal } });
            const int status = response ? response->statusCode : 0;
            if (status != 200)
                return (*finish)(Failure { OfferedDownloadFailure { Kind::status, status } });
            if (expected) {
                std::string actual = Sha256::hexOf(*body);
                if (!sameHexDigest(actual, *expected))
                    return (*finish)(Failure { OfferedDownloadFailure { Kind::digest, status, {}, std::move(actual) } });
            }
            if (const SignatureVerdict verdict = keys.verify(*body, signature); verdict != SignatureVerdict::valid)
                return (*finish)(Failure { OfferedDownloadFailure { Kind::notSigned, status, describeSignatureVerdict(verdict) } });
            (*finish)(std::move(*body));
        },
        [finish, refusal](const URLError& error) {
            if (!refusal.empty() && error.kind != HttpError::Kind::cancelled)
                return (*finish)(Failure { OfferedDownloadFailure { Kind::address, 0, refusal } });
            const Kind kind = error.kind == HttpError::Kind::cancelled ? Kind::cancelled : Kind::transport;
            (*finish)(Failure { OfferedDownloadFailure { kind, 0, error.text } });
        },
        {}, std::move(downloadProgress));
}

} // namespace corvex
