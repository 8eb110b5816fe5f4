#include "updates/OfferedDownload.h"

#include "base/Sha256.h"
#include "platform/VendorEndpoints.h"

#include <chrono>

namespace corvex {

std::shared_ptr<URLConnection> downloadOfferedFile(HttpClient& http, const OfferedFile& file,
    std::function<void(OfferedDownloadResult)> completion, URLProgressBlock downloadProgress)
{
    using Kind = OfferedDownloadFailure::Kind;
    HttpRequest request;
    request.url = percentEscapedUrlString(file.url);
    request.cachePolicy = HttpCachePolicy::ignoreLocalCache;
    request.inactivityTimeout = std::chrono::seconds(VendorEndpoints::downloadTimeoutSeconds);
    request.maximumBodyBytes = file.maximumBytes;
    // Shared by both blocks; only one of them runs.
    auto finish = std::make_shared<std::function<void(OfferedDownloadResult)>>(std::move(completion));
    return URLConnection::asyncConnectionWithRequest(
        http, std::move(request),
        [finish, expected = file.sha256](std::optional<Bytes> body, std::optional<URLResponse> response) {
            if (!body)
                return (*finish)(Failure { OfferedDownloadFailure { Kind::cancelled } });
            const int status = response ? response->statusCode : 0;
            if (status != 200)
                return (*finish)(Failure { OfferedDownloadFailure { Kind::status, status } });
            if (expected) {
                std::string actual = Sha256::hexOf(*body);
                if (!sameHexDigest(actual, *expected))
                    return (*finish)(Failure { OfferedDownloadFailure { Kind::digest, status, {}, std::move(actual) } });
            }
            (*finish)(std::move(*body));
        },
        [finish](const URLError& error) {
            const Kind kind = error.kind == HttpError::Kind::cancelled ? Kind::cancelled : Kind::transport;
            (*finish)(Failure { OfferedDownloadFailure { kind, 0, error.text } });
        },
        {}, std::move(downloadProgress));
}

} // namespace corvex
