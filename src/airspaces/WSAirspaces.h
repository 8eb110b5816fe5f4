#pragma once

#include "airspaces/AirspacesSoap.h"

#include <QUrl>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QNetworkAccessManager;
class QNetworkReply;
class QObject;

namespace corvex {

class LogSink;

// The client of the vendor's airspaces SOAP service. At most one request runs at a
// time; a request made meanwhile is refused with a log line and its handler is never
// called. Every request that was sent ends in exactly one call of its handler, on the
// main thread and in a later turn of the event loop than the network's own callback,
// so a handler may start the next request.
class WSAirspaces {
public:
    using ListHandler = std::function<void(std::optional<std::vector<airspacesSoap::ApprovedAirspacesEntry>>)>;
    using FileHandler = std::function<void(std::optional<std::string> fileName, std::optional<Bytes> data)>;

    // serviceUrl is the full endpoint (VendorEndpoints::airspacesServiceUrl).
    WSAirspaces(QUrl serviceUrl, LogSink& log);
    // A request still in flight is abandoned without calling its handler.
    ~WSAirspaces();
    WSAirspaces(const WSAirspaces&) = delete;
    WSAirspaces& operator=(const WSAirspaces&) = delete;

    void GetApprovedAirspacesListWithCompletionHandler(ListHandler completionHandler);
    void GetApprovedAirspaces(std::int64_t setId, FileHandler completionHandler);
    void ConvertOpenAirWithDescription(const std::string& description, const std::string& unprocessedAirspacesFileContents,
        const std::string& airspacesFilename, FileHandler completionHandler);
    // The request in flight, if any, completes with nothing.
    void cancelCurrentOperation();

    bool isBusy() const { return m_currentTask != nullptr; }

private:
    using Completion = std::function<void(QNetworkReply&)>;
    void start(airspacesSoap::Operation operation, const std::string& body, Completion completion);
    // Transport and HTTP status checks shared by the three operations; the body when
    // the reply is a 200.
    std::optional<std::string> checkedBody(QNetworkReply& reply, const char* methodName);

    QUrl m_serviceUrl;
    LogSink& m_log;
    std::unique_ptr<QNetworkAccessManager> m_session;
    QNetworkReply* m_currentTask { nullptr };
};

} // namespace corvex
