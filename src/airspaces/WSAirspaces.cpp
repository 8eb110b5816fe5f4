#include "airspaces/WSAirspaces.h"

#include "platform/LogSink.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace corvex {

using namespace airspacesSoap;

namespace {

const char* const listMethod = "GetApprovedAirspacesListWithCompletionHandler:";
const char* const setMethod = "GetApprovedAirspaces:withCompletionHandler:";
const char* const conversionMethod
    = "ConvertOpenAirWithDescription:unprocessedAirspacesFileContents:airspacesFilename:completionHandler:";

// Handlers run from the event loop again, after the network callback has returned.
void postToMainLoop(std::function<void()> work)
{
    QTimer::singleShot(0, QCoreApplication::instance(), std::move(work));
}

} // namespace

WSAirspaces::WSAirspaces(QUrl serviceUrl, LogSink& log)
    : m_serviceUrl(std::move(serviceUrl))
    , m_log(log)
    , m_session(std::make_unique<QNetworkAccessManager>())
{
}

WSAirspaces::~WSAirspaces()
{
    if (m_currentTask) {
        QNetworkReply* reply = m_currentTask;
        m_currentTask = nullptr;
        QObject::disconnect(reply, nullptr, nullptr, nullptr);
        reply->abort();
        reply->deleteLater();
    }
}

void WSAirspaces::start(Operation operation, const std::string& body, Completion completion)
{
    QNetworkRequest request(m_serviceUrl);
    request.setRawHeader("SOAPAction", QByteArray::fromStdString(soapAction(operation)));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray(contentType.data(), static_cast<int>(contentType.size())));
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    QNetworkReply* reply = m_session->post(request, QByteArray::fromStdString(body));
    m_currentTask = reply;
    QObject::connect(reply, &QNetworkReply::finished, reply, [this, reply, completion = std::move(completion)] {
        if (m_currentTask == reply)
            m_currentTask = nullptr;
        reply->deleteLater();
        completion(*reply);
    });
}

std::optional<std::string> WSAirspaces::checkedBody(QNetworkReply& reply, const char* methodName)
{
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const std::string body = reply.readAll().toStdString();
    // Qt reports an HTTP error status as a reply error too; only a reply without any
    // status is a transport failure.
    if (!status.isValid()) {
        logLine(m_log, "%s: NSURLSession error %s", methodName, reply.errorString().toStdString().c_str());
        return std::nullopt;
    }
    if (status.toInt() != 200) {
        logLine(m_log, "%s: HTTP return status code %ld, Body: %.*s", methodName, static_cast<long>(status.toInt()),
            static_cast<int>(body.size()), body.data());
        return std::nullopt;
    }
    // A reply cut off after its status line is still a transport failure.
    if (reply.error() != QNetworkReply::NoError) {
        logLine(m_log, "%s: NSURLSession error %s", methodName, reply.errorString().toStdString().c_str());
        return std::nullopt;
    }
    return body;
}

void WSAirspaces::GetApprovedAirspacesListWithCompletionHandler(ListHandler completionHandler)
{
    if (m_currentTask) {
        logLine(m_log, "GetApprovedAirspacesListWithCompletionHandler: hold up while the previous task finishes, will ya?");
        return;
    }
    start(Operation::GetApprovedAirspacesList, approvedAirspacesListRequest(),
        [this, handler = std::move(completionHandler)](QNetworkReply& reply) {
            std::optional<std::vector<ApprovedAirspacesEntry>> list;
            if (auto body = checkedBody(reply, listMethod))
                list = parseApprovedAirspacesListResponse(*body, m_log);
            postToMainLoop([handler, list = std::move(list)] {
                if (handler)
                    handler(list);
            });
        });
}

void WSAirspaces::GetApprovedAirspaces(std::int64_t setId, FileHandler completionHandler)
{
    if (m_currentTask) {
        logLine(m_log, "GetApprovedAirspaces: hold up while the previous task finishes, will ya?");
        return;
    }
    start(Operation::GetApprovedAirspaces, approvedAirspacesRequest(setId),
        [this, handler = std::move(completionHandler)](QNetworkReply& reply) {
            std::optional<AirspacesFile> file;
            if (auto body = checkedBody(reply, setMethod)) {
                logLine(m_log, "Totally downloaded from the server %ld bytes", static_cast<long>(body->size()));
                file = parseAirspacesFileResponse(Operation::GetApprovedAirspaces, *body, m_log);
            }
            postToMainLoop([handler, file = std::move(file)] {
                if (!handler)
                    return;
                if (file)
                    handler(file->binaryFileName, file->internalFormatData);
                else
                    handler(std::nullopt, std::nullopt);
            });
        });
}

void WSAirspaces::ConvertOpenAirWithDescription(const std::string& description,
    const std::string& unprocessedAirspacesFileContents, const std::string& airspacesFilename, FileHandler completionHandler)
{
    if (m_currentTask) {
        logLine(m_log, "ConvertOpenAirWithDescription: hold up while the previous task finishes, will ya?");
        return;
    }
    start(Operation::ConvertOpenAir, convertOpenAirRequest(description, unprocessedAirspacesFileContents, airspacesFilename),
        [this, handler = std::move(completionHandler)](QNetworkReply& reply) {
            std::optional<AirspacesFile> file;
            if (auto body = checkedBody(reply, conversionMethod))
                file = parseAirspacesFileResponse(Operation::ConvertOpenAir, *body, m_log);
            postToMainLoop([handler, file = std::move(file)] {
                if (!handler)
                    return;
                if (file)
                    handler(file->binaryFileName, file->internalFormatData);
                else
                    handler(std::nullopt, std::nullopt);
            });
        });
}

void WSAirspaces::cancelCurrentOperation()
{
    if (m_currentTask)
        m_currentTask->abort();
}

} // namespace corvex
