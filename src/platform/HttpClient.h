#pragma once

#include "base/Bytes.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvex {

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

enum class HttpMethod { get, post };

enum class HttpCachePolicy { platformDefault, ignoreLocalCache };

// The largest body each kind of transfer may bring, by what it carries.
namespace TransferLimit {
// The versions feed: a few kilobytes of XML.
inline constexpr std::uint64_t feed = 4ull << 20;
// A firmware file: S-record text of the instrument's whole flash is a few megabytes.
inline constexpr std::uint64_t firmware = 32ull << 20;
// A program archive: the program with its libraries is tens of megabytes.
inline constexpr std::uint64_t program = 256ull << 20;
// An answer of the airspaces service: an airspaces file of a whole country, base64.
inline constexpr std::uint64_t soap = 64ull << 20;
// A map tile: a 256-pixel image is tens of kilobytes.
inline constexpr std::uint64_t tile = 2ull << 20;
} // namespace TransferLimit

struct HttpRequest {
    HttpMethod method { HttpMethod::get };
    std::string url {};
    HttpHeaders headers {};
    Bytes body {};
    // "No byte for this long": every byte that moves in either direction restarts the
    // clock, so a slow but steady download is never cut off. Absent: the platform's own
    // connection time-outs only.
    std::optional<std::chrono::milliseconds> inactivityTimeout {};
    HttpCachePolicy cachePolicy { HttpCachePolicy::platformDefault };
    // A body that grows past this fails the transfer instead of memory: the body is
    // held whole, and a server that never stops sending also never falls silent. Each
    // caller sets the limit of its purpose (TransferLimit); the default is the smallest.
    std::uint64_t maximumBodyBytes { TransferLimit::feed };
    // The whole transfer, however lively: a server that sends a byte now and then never
    // trips the inactivity time-out. Absent: no overall deadline.
    std::optional<std::chrono::milliseconds> totalTimeout {};
};

struct HttpError {
    enum class Kind {
        cancelled, // HttpTransfer::cancel()
        timedOut, // the inactivity time-out expired
        transport, // no connection, connection lost, malformed reply, ...
    };
    Kind kind;
    // The platform's text for the failure, as it goes into log lines.
    std::string text;
};

struct HttpResponse {
    // Absent when the transfer finished. A failed transfer may still carry the status,
    // headers and the part of the body that arrived before it failed.
    std::optional<HttpError> error {};
    // The status line's code; 0 when none arrived. 4xx and 5xx are not errors of the
    // transfer: their body is delivered like any other.
    int statusCode { 0 };
    HttpHeaders headers {};
    Bytes body {};

    // The value of the first header of that name, compared without regard to case.
    std::optional<std::string> header(std::string_view name) const;
};

struct HttpCallbacks {
    // Exactly once per transfer, unless the transfer is abandoned (see HttpTransfer).
    std::function<void(HttpResponse)> completion {};
    // After each chunk of the body received; total is -1 when the server sent no length.
    // Optional.
    std::function<void(std::int64_t received, std::int64_t total)> downloadProgress {};
    // After each chunk of the request body sent. Optional.
    std::function<void(std::int64_t sent, std::int64_t total)> uploadProgress {};
};

// A request in flight. Destroying the handle abandons the request: the transfer stops
// and none of its callbacks runs afterwards, not even one already due. A handle may be
// destroyed from inside one of its own callbacks.
class HttpTransfer {
public:
    virtual ~HttpTransfer() = default;
    // Stops the transfer; its completion then runs once with an HttpError of kind
    // cancelled, on a later turn of the event loop. No progress call follows that
    // completion.
    // Nothing happens when the transfer has already completed or was cancelled before.
    // The handle must live until that completion to receive it.
    virtual void cancel() = 0;
};

// The program's HTTP client. Everything runs on the main thread: every callback is
// delivered there, always in a later turn of the event loop than the network stack's
// own notification (never from inside send() or cancel()), so a callback may start a
// new transfer or destroy the handle of its own.
class HttpClient {
public:
    virtual ~HttpClient() = default;
    // Starts the transfer at once. Keep the handle for as long as the callbacks are
    // wanted.
    [[nodiscard]] virtual std::unique_ptr<HttpTransfer> send(HttpRequest request, HttpCallbacks callbacks) = 0;
};

} // namespace corvex
