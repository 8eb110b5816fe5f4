#include "airspaces/WSAirspaces.h"

#include "base/Format.h"
#include "platform/LogSink.h"

#include <algorithm>

namespace corvex {

using namespace airspacesSoap;

namespace {

const char* const listMethod = "GetApprovedAirspacesListWithCompletionHandler:";
const char* const setMethod = "GetApprovedAirspaces:withCompletionHandler:";
const char* const conversionMethod
    = "ConvertOpenAirWithDescription:unprocessedAirspacesFileContents:airspacesFilename:completionHandler:";

WSAirspaces::FileReply fileReply(std::optional<AirspacesFile> file, WSAirspaces::Failure failure, std::optional<std::string> refusal)
{
    if (!file)
        return { std::nullopt, std::nullopt, failure, failure == WSAirspaces::Failure::Refused ? std::move(refusal) : std::nullopt };
    return { std::move(file->binaryFileName), std::move(file->internalFormatData), std::nullopt };
}

// The name and bytes alone, or nothing for both, for the callers that need no reason.
WSAirspaces::FileReplyHandler withoutReason(WSAirspaces::FileHandler handler)
{
    if (!handler)
        return {};
    return [handler = std::move(handler)](WSAirspaces::FileReply reply) {
        handler(std::move(reply.fileName), std::move(reply.data));
    };
}

WSAirspaces::Failure failureOf(const HttpError& error)
{
    return error.kind == HttpError::Kind::cancelled ? WSAirspaces::Failure::Cancelled : WSAirspaces::Failure::Unreachable;
}

} // namespace

WSAirspaces::WSAirspaces(std::string serviceUrl, HttpClient& http, LogSink& log, std::chrono::milliseconds inactivityTimeout)
    : m_serviceUrl(std::move(serviceUrl))
    , m_http(http)
    , m_log(log)
    , m_inactivityTimeout(inactivityTimeout)
{
}

// Dropping the handles abandons their transfers: no handler runs after this.
WSAirspaces::~WSAirspaces() = default;

void WSAirspaces::start(Operation operation, const std::string& body, Completion completion)
{
    HttpRequest request;
    request.method = HttpMethod::post;
    request.url = m_serviceUrl;
    request.headers = { { "SOAPAction", soapAction(operation) }, { "Content-Type", std::string(contentType) } };
    request.body = bytesOf(body);
    request.inactivityTimeout = m_inactivityTimeout;
    request.maximumBodyBytes = TransferLimit::soap;
    request.cachePolicy = HttpCachePolicy::ignoreLocalCache;
    const std::uint64_t serial = ++m_requestsSent;
    // The client never calls back from inside send(), so the handle is stored before
    // the completion can look for it.
    auto transfer = m_http.send(std::move(request), { [this, serial, completion = std::move(completion)](HttpResponse response) {
        // Idle again before the caller's handler runs, so that the handler may chain.
        const auto finished = takeTask(serial);
        completion(response);
    } });
    m_currentTask = Task { serial, std::move(transfer) };
}

std::unique_ptr<HttpTransfer> WSAirspaces::takeTask(std::uint64_t serial)
{
    std::unique_ptr<HttpTransfer> taken;
    if (m_currentTask && m_currentTask->serial == serial) {
        taken = std::move(m_currentTask->transfer);
        m_currentTask.reset();
        return taken;
    }
    const auto cancelled = std::find_if(
        m_cancelledTasks.begin(), m_cancelledTasks.end(), [serial](const Task& task) { return task.serial == serial; });
    if (cancelled != m_cancelledTasks.end()) {
        taken = std::move(cancelled->transfer);
        m_cancelledTasks.erase(cancelled);
    }
    return taken;
}

WSAirspaces::CheckedBody WSAirspaces::checkedBody(const HttpResponse& response, const char* methodName)
{
    const std::string body(response.body.begin(), response.body.end());
    const std::string errorText = response.error ? response.error->text : std::string();
    if (response.statusCode == 0) {
        logLine(m_log, "%s: NSURLSession error %s", methodName, errorText.c_str());
        return { std::nullopt, response.error ? failureOf(*response.error) : Failure::Unreachable };
    }
    if (response.statusCode != 200) {
        logLine(m_log, "%s: HTTP return status code %ld, Body: %s", methodName, static_cast<long>(response.statusCode),
            logExcerpt(body).c_str());
        return { std::nullopt, Failure::Refused, parseSoapFaultReason(body) };
    }
    // A reply cut off after its status line is still a transport failure.
    if (response.error) {
        logLine(m_log, "%s: NSURLSession error %s", methodName, errorText.c_str());
        return { std::nullopt, failureOf(*response.error) };
    }
    return { body, Failure::Refused };
}

void WSAirspaces::GetApprovedAirspacesListWithCompletionHandler(ListHandler completionHandler)
{
    if (m_currentTask) {
        logLine(m_log, "GetApprovedAirspacesListWithCompletionHandler: hold up while the previous task finishes, will ya?");
        return;
    }
    start(Operation::GetApprovedAirspacesList, approvedAirspacesListRequest(),
        [this, handler = std::move(completionHandler)](const HttpResponse& response) {
            std::optional<std::vector<ApprovedAirspacesEntry>> list;
            if (auto checked = checkedBody(response, listMethod); checked.body)
                list = parseApprovedAirspacesListResponse(*checked.body, m_log);
            if (handler)
                handler(std::move(list));
        });
}

void WSAirspaces::GetApprovedAirspaces(std::int64_t setId, FileHandler completionHandler)
{
    GetApprovedAirspaces(setId, withoutReason(std::move(completionHandler)));
}

void WSAirspaces::GetApprovedAirspaces(std::int64_t setId, FileReplyHandler completionHandler)
{
    if (m_currentTask) {
        logLine(m_log, "GetApprovedAirspaces: hold up while the previous task finishes, will ya?");
        return;
    }
    start(Operation::GetApprovedAirspaces, approvedAirspacesRequest(setId),
        [this, handler = std::move(completionHandler)](const HttpResponse& response) {
            auto checked = checkedBody(response, setMethod);
            std::optional<AirspacesFile> file;
            if (checked.body) {
                logLine(m_log, "Totally downloaded from the server %ld bytes", static_cast<long>(checked.body->size()));
                file = parseAirspacesFileResponse(Operation::GetApprovedAirspaces, *checked.body, m_log);
            }
            if (handler)
                handler(fileReply(std::move(file), checked.failure, std::move(checked.refusal)));
        });
}

void WSAirspaces::ConvertOpenAirWithDescription(const std::string& description,
    const std::string& unprocessedAirspacesFileContents, const std::string& airspacesFilename, FileHandler completionHandler)
{
    ConvertOpenAirWithDescription(
        description, unprocessedAirspacesFileContents, airspacesFilename, withoutReason(std::move(completionHandler)));
}

void WSAirspaces::ConvertOpenAirWithDescription(const std::string& description,
    const std::string& unprocessedAirspacesFileContents, const std::string& airspacesFilename,
    FileReplyHandler completionHandler)
{
    if (m_currentTask) {
        logLine(m_log, "ConvertOpenAirWithDescription: hold up while the previous task finishes, will ya?");
        return;
    }
    start(Operation::ConvertOpenAir, convertOpenAirRequest(description, unprocessedAirspacesFileContents, airspacesFilename),
        [this, handler = std::move(completionHandler)](const HttpResponse& response) {
            auto checked = checkedBody(response, conversionMethod);
            std::optional<AirspacesFile> file;
            if (checked.body)
                file = parseAirspacesFileResponse(Operation::ConvertOpenAir, *checked.body, m_log);
            if (handler)
                handler(fileReply(std::move(file), checked.failure, std::move(checked.refusal)));
        });
}

void WSAirspaces::cancelCurrentOperation()
{
    if (!m_currentTask)
        return;
    m_currentTask->transfer->cancel();
    m_cancelledTasks.push_back(std::move(*m_currentTask));
    m_currentTask.reset();
}

} // namespace corvex
