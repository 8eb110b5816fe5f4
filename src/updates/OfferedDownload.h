#pragma once

#include "base/Bytes.h"
#include "base/Result.h"
#include "platform/HttpClient.h"
#include "updates/FirmwareFile.h"
#include "updates/URLConnection.h"
#include "updates/UpdateSignature.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace corvex {

// The largest firmware file fetched: an S-record file of the instrument's whole flash
// is a few megabytes of text.
constexpr std::uint64_t largestOfferedFirmware = TransferLimit::firmware;
static_assert(largestOfferedFirmware == largestFirmwareFileBytes, "a firmware file is a firmware file, however it comes");

// A file the versions feed offers: the firmware or the program.
struct OfferedFile {
    std::string url; // as the feed gives it; escaped for the request here
    std::optional<std::string> sha256 {}; // the feed's digest, when it gives one
    std::optional<std::string> signature {}; // the feed's Ed25519 signature, base64
    std::uint64_t maximumBytes { TransferLimit::program };
    // The vendor server the user set (the preference, CORVEX_VENDOR_URL, --server):
    // a plain http address is fetched only from its host or from loopback.
    std::string serverUrl {};
    // The keys the file must be signed with.
    TrustedUpdateKeys trustedKeys {};
};

// Why an offered file did not arrive whole.
struct OfferedDownloadFailure {
    enum class Kind {
        cancelled, // the connection was cancelled
        transport, // no connection, lost, silent past the time-out, larger than the limit
        status, // the server answered, but not 200
        digest, // the body is not the file the feed names
        address, // not an address to fetch: another scheme than https, or http elsewhere
        notSigned, // no signature, or none that a trusted key made over these bytes
    };
    Kind kind;
    int statusCode { 0 }; // status: what the server answered (0: no status line)
    std::string text {}; // transport: the platform's text; address, notSigned: the reason for the log
    std::string actualSha256 {}; // digest: the body's own digest
};

// Whether an address the feed offers may be fetched: https always; http only from
// loopback or from the host of a vendor server the user set to http; nothing else
// (file:, ftp:, data:, ...). Also the rule for handing an address to the browser,
// without the http exception: see isWebAddressForTheBrowser.
bool mayFetchOfferedAddress(std::string_view url, std::string_view serverUrl);
// Only https goes to the desktop's browser.
bool isWebAddressForTheBrowser(std::string_view url);

using OfferedDownloadResult = Result<Bytes, OfferedDownloadFailure>;

// Fetches an offered file: refused before any request when its address may not be
// fetched; a GET past the local cache, ended by the vendor server's inactivity
// time-out and by the size limit, accepted only with status 200, when the feed gives a
// digest only with that SHA-256, and only with a signature a trusted key made over
// exactly these bytes: nothing unsigned reaches the unpacking or the instrument. The completion runs exactly once on
// the main loop, never from inside this call, unless the connection is abandoned;
// cancelling the returned connection completes with `cancelled`. The update window and
// `corvex firmware install --latest` share it.
std::shared_ptr<URLConnection> downloadOfferedFile(HttpClient& http, const OfferedFile& file,
    std::function<void(OfferedDownloadResult)> completion, URLProgressBlock downloadProgress = {});

} // namespace corvex
