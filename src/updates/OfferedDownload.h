#pragma once

#include "base/Bytes.h"
#include "base/Result.h"
#include "platform/HttpClient.h"
#include "updates/URLConnection.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace corvex {

// The largest firmware file fetched: an S-record file of the instrument's whole flash
// is a few megabytes of text.
constexpr std::uint64_t largestOfferedFirmware = 32ull << 20;

// A file the versions feed offers: the firmware or the program.
struct OfferedFile {
    std::string url; // as the feed gives it; escaped for the request here
    std::optional<std::string> sha256 {}; // the feed's digest, when it gives one
    std::uint64_t maximumBytes { HttpRequest {}.maximumBodyBytes };
};

// Why an offered file did not arrive whole.
struct OfferedDownloadFailure {
    enum class Kind {
        cancelled, // the connection was cancelled
        transport, // no connection, lost, silent past the time-out, larger than the limit
        status, // the server answered, but not 200
        digest, // the body is not the file the feed names
    };
    Kind kind;
    int statusCode { 0 }; // status: what the server answered (0: no status line)
    std::string text {}; // transport: the platform's text for the failure
    std::string actualSha256 {}; // digest: the body's own digest
};

using OfferedDownloadResult = Result<Bytes, OfferedDownloadFailure>;

// Fetches an offered file: a GET past the local cache, ended by the vendor server's
// inactivity time-out and by the size limit, accepted only with status 200 and, when
// the feed gives a digest, only with that SHA-256. The completion runs exactly once on
// the main loop, never from inside this call, unless the connection is abandoned;
// cancelling the returned connection completes with `cancelled`. The update window and
// `corvex firmware install --latest` share it.
std::shared_ptr<URLConnection> downloadOfferedFile(HttpClient& http, const OfferedFile& file,
    std::function<void(OfferedDownloadResult)> completion, URLProgressBlock downloadProgress = {});

} // namespace corvex
