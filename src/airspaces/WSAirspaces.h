#pragma once

#include "airspaces/AirspacesSoap.h"
#include "platform/HttpClient.h"
#include "platform/VendorEndpoints.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace corvex {

class LogSink;

// The client of the vendor's airspaces SOAP service. At most one request runs at a
// time; a request made meanwhile is refused with a log line and its handler is never
// called. Every request that was sent ends in exactly one call of its handler, on the
// main thread and in a later turn of the event loop than the network's own callback,
// so a handler may start the next request.
class WSAirspaces {
public:
    // Why a request ended without a result.
    enum class Failure {
        // No answer came: no connection, no such host, the connection lost, timed out.
        Unreachable,
        Cancelled,
        // The service answered without a result: an HTTP error status (a SOAP fault among
        // them) or a reply that cannot be read.
        Refused,
    };
    // A set or a conversion: the file name and the bytes, or why there are none.
    struct FileReply {
        std::optional<std::string> fileName;
        std::optional<Bytes> data;
        std::optional<Failure> failure; // present exactly when data is not
        // Refused: the reason the service gave (a SOAP fault's text), when it gave one.
        std::optional<std::string> refusal {};
    };

    using ListHandler = std::function<void(std::optional<std::vector<airspacesSoap::ApprovedAirspacesEntry>>)>;
    using FileHandler = std::function<void(std::optional<std::string> fileName, std::optional<Bytes> data)>;
    using FileReplyHandler = std::function<void(FileReply reply)>;

    // serviceUrl is the full endpoint (VendorEndpoints::airspacesServiceUrl). The HTTP
    // client must outlive this object. A request that goes without a byte in either
    // direction for inactivityTimeout ends as Unreachable.
    WSAirspaces(std::string serviceUrl, HttpClient& http, LogSink& log,
        std::chrono::milliseconds inactivityTimeout = std::chrono::seconds(VendorEndpoints::serviceTimeoutSeconds));
    // A request still in flight is abandoned without calling its handler.
    ~WSAirspaces();
    WSAirspaces(const WSAirspaces&) = delete;
    WSAirspaces& operator=(const WSAirspaces&) = delete;

    void GetApprovedAirspacesListWithCompletionHandler(ListHandler completionHandler);
    void GetApprovedAirspaces(std::int64_t setId, FileHandler completionHandler);
    void GetApprovedAirspaces(std::int64_t setId, FileReplyHandler completionHandler);
    void ConvertOpenAirWithDescription(const std::string& description, const std::string& unprocessedAirspacesFileContents,
        const std::string& airspacesFilename, FileHandler completionHandler);
    // The same, telling a service that cannot be reached from one that refused.
    void ConvertOpenAirWithDescription(const std::string& description, const std::string& unprocessedAirspacesFileContents,
        const std::string& airspacesFilename, FileReplyHandler completionHandler);
    // The request in flight, if any, completes with nothing. The client is idle again
    // at once, so the next request may start before that completion arrives.
    void cancelCurrentOperation();

    bool isBusy() const { return m_currentTask.has_value(); }

private:
    using Completion = std::function<void(const HttpResponse&)>;
    void start(airspacesSoap::Operation operation, const std::string& body, Completion completion);
    // Takes the finished request's handle out of the bookkeeping; the caller drops it.
    std::unique_ptr<HttpTransfer> takeTask(std::uint64_t serial);
    struct CheckedBody {
        std::optional<std::string> body;
        Failure failure { Failure::Refused }; // when there is no body
        std::optional<std::string> refusal {};
    };
    // Transport and HTTP status checks shared by the three operations; the body when
    // the reply is a 200.
    CheckedBody checkedBody(const HttpResponse& response, const char* methodName);

    std::string m_serviceUrl;
    HttpClient& m_http;
    LogSink& m_log;
    std::chrono::milliseconds m_inactivityTimeout;
    struct Task {
        std::uint64_t serial;
        std::unique_ptr<HttpTransfer> transfer;
    };
    std::uint64_t m_requestsSent { 0 };
    std::optional<Task> m_currentTask;
    // Cancelled requests whose completion (with nothing) is still to come: kept so that
    // it arrives, and dropped with this object so that it does not.
    std::vector<Task> m_cancelledTasks;
};

} // namespace corvex
