#include "platform/qt/QtHttpClient.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace corvex {

namespace {

QByteArray toQByteArray(const std::string& text)
{
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

// Qt marks a reply whose status is 4xx or 5xx as failed too; for us those are answers
// like any other, and only a failure of the transfer itself is an error. The same
// codes also name failures of a 200 answer (a body that fails to decompress, or
// decompresses past Qt's limit, is UnknownContentError): with a status below 400 they
// are the transfer's own.
bool onlyReportsTheStatus(QNetworkReply::NetworkError error, int statusCode)
{
    if (statusCode < 400)
        return false;
    return (error >= QNetworkReply::ContentAccessDenied && error <= QNetworkReply::UnknownContentError)
        || error == QNetworkReply::ProtocolInvalidOperationError
        || (error >= QNetworkReply::InternalServerError && error <= QNetworkReply::UnknownServerError);
}

std::string formatDeadline(double seconds)
{
    char text[96];
    std::snprintf(text, sizeof text, "The transfer did not end within its deadline of %g seconds.", seconds);
    return text;
}

// Everything one transfer needs. The handle owns it; the reply's and the timer's slots
// and the posted callbacks hold it weakly, so dropping the handle silences them all.
struct TransferState {
    ~TransferState() { stopNetwork(); }

    // Detaches from the reply first, so that aborting it reports nothing.
    void stopNetwork()
    {
        inactivity.stop();
        deadline.stop();
        if (reply) {
            QObject::disconnect(reply, nullptr, nullptr, nullptr);
            reply->abort();
            reply->deleteLater();
            reply = nullptr;
        }
    }

    void takeMetaData()
    {
        response.statusCode = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        response.headers.clear();
        for (const auto& [name, value] : reply->rawHeaderPairs())
            response.headers.emplace_back(name.toStdString(), value.toStdString());
        // A body that Qt decompresses is longer than the length the server announced.
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        expectedLength = length.isValid() && !reply->hasRawHeader("Content-Encoding") ? length.toLongLong() : -1;
    }

    void takeBody()
    {
        const QByteArray chunk = reply->readAll();
        response.body.insert(response.body.end(), chunk.begin(), chunk.end());
    }

    bool bodyTooLarge() const { return response.body.size() > maximumBodyBytes; }
    HttpError tooLargeError() const
    {
        return { HttpError::Kind::transport, "The reply is larger than " + std::to_string(maximumBodyBytes) + " bytes." };
    }

    QPointer<QNetworkAccessManager> manager;
    QPointer<QNetworkReply> reply;
    QTimer inactivity;
    QTimer deadline;
    HttpCallbacks callbacks;
    HttpResponse response;
    std::int64_t expectedLength { -1 };
    std::uint64_t maximumBodyBytes { 0 };
    // Set once the completion is posted; nothing is posted after it.
    bool completed { false };
};

// Runs work on a later turn of the main loop, unless the transfer's handle (or the
// client) is gone by then. The state stays alive while the work runs, so the work may
// destroy the handle.
void post(TransferState& state, const std::weak_ptr<TransferState>& weakState,
    std::function<void(TransferState&)> work)
{
    if (!state.manager)
        return;
    QMetaObject::invokeMethod(
        state.manager,
        [weakState, work = std::move(work)] {
            if (const auto alive = weakState.lock())
                work(*alive);
        },
        Qt::QueuedConnection);
}

void complete(TransferState& state, const std::weak_ptr<TransferState>& weakState, std::optional<HttpError> error)
{
    state.completed = true;
    state.response.error = std::move(error);
    post(state, weakState, [response = std::move(state.response)](TransferState& alive) mutable {
        // Released before the call: a completion that captures its own owner must not
        // keep it alive through the handle.
        auto completion = std::move(alive.callbacks.completion);
        alive.callbacks = {};
        if (completion)
            completion(std::move(response));
    });
}

class QtHttpTransfer final : public HttpTransfer {
public:
    explicit QtHttpTransfer(std::shared_ptr<TransferState> state)
        : m_state(std::move(state))
    {
    }

    void cancel() override
    {
        TransferState& state = *m_state;
        if (state.completed || !state.reply)
            return;
        QObject::disconnect(state.reply, nullptr, nullptr, nullptr);
        state.reply->abort();
        QString text = state.reply->errorString();
        if (text.isEmpty())
            text = QStringLiteral("Operation canceled");
        state.stopNetwork();
        complete(state, m_state, HttpError { HttpError::Kind::cancelled, text.toStdString() });
    }

private:
    std::shared_ptr<TransferState> m_state;
};

} // namespace

QtHttpClient::QtHttpClient(std::optional<std::chrono::milliseconds> defaultTotalTimeout)
    : m_manager(std::make_unique<QNetworkAccessManager>())
    , m_defaultTotalTimeout(defaultTotalTimeout)
{
}

QtHttpClient::~QtHttpClient()
{
    // The manager deletes its replies; none of them may report anything on the way.
    for (QNetworkReply* reply : m_manager->findChildren<QNetworkReply*>())
        QObject::disconnect(reply, nullptr, nullptr, nullptr);
}

std::unique_ptr<HttpTransfer> QtHttpClient::send(HttpRequest request, HttpCallbacks callbacks)
{
    if (!request.totalTimeout)
        request.totalTimeout = m_defaultTotalTimeout;
    QNetworkRequest networkRequest(QUrl(QString::fromStdString(request.url)));
    for (const auto& [name, value] : request.headers)
        networkRequest.setRawHeader(toQByteArray(name), toQByteArray(value));
    if (request.cachePolicy == HttpCachePolicy::ignoreLocalCache)
        networkRequest.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);

    auto state = std::make_shared<TransferState>();
    state->manager = m_manager.get();
    state->callbacks = std::move(callbacks);
    state->maximumBodyBytes = request.maximumBodyBytes;
    if (request.method == HttpMethod::post) {
        const QByteArray body(reinterpret_cast<const char*>(request.body.data()), static_cast<qsizetype>(request.body.size()));
        state->reply = m_manager->post(networkRequest, body);
    } else {
        state->reply = m_manager->get(networkRequest);
    }

    const std::weak_ptr<TransferState> weakState = state;
    QNetworkReply* reply = state->reply;
    // Every sign of life restarts the inactivity clock: headers, each body chunk and
    // each piece of the request body sent. Qt throttles its progress signals, so
    // readyRead is what sees every chunk.
    const auto alive = [weakState] {
        if (const auto locked = weakState.lock(); locked && locked->inactivity.interval() > 0)
            locked->inactivity.start();
    };
    if (request.inactivityTimeout) {
        state->inactivity.setSingleShot(true);
        state->inactivity.setInterval(std::max<int>(1, static_cast<int>(request.inactivityTimeout->count())));
        QObject::connect(&state->inactivity, &QTimer::timeout, [weakState] {
            const auto locked = weakState.lock();
            if (!locked || locked->completed)
                return;
            locked->stopNetwork();
            complete(*locked, weakState, HttpError { HttpError::Kind::timedOut, "The request timed out." });
        });
        state->inactivity.start();
    }

    if (request.totalTimeout) {
        state->deadline.setSingleShot(true);
        QObject::connect(&state->deadline, &QTimer::timeout, [weakState, seconds = request.totalTimeout->count() / 1000.0] {
            const auto locked = weakState.lock();
            if (!locked || locked->completed)
                return;
            locked->stopNetwork();
            complete(*locked, weakState,
                HttpError { HttpError::Kind::timedOut, formatDeadline(seconds) });
        });
        state->deadline.start(std::max<int>(1, static_cast<int>(std::min<std::int64_t>(request.totalTimeout->count(), INT32_MAX))));
    }

    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [weakState, alive] {
        alive();
        if (const auto locked = weakState.lock())
            locked->takeMetaData();
    });
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [weakState, alive] {
        alive();
        const auto locked = weakState.lock();
        if (!locked)
            return;
        locked->takeBody();
        if (locked->bodyTooLarge()) {
            locked->stopNetwork();
            complete(*locked, weakState, locked->tooLargeError());
            return;
        }
        if (locked->callbacks.downloadProgress) {
            post(*locked, weakState,
                [received = static_cast<std::int64_t>(locked->response.body.size()), total = locked->expectedLength](
                    TransferState& later) {
                    if (later.callbacks.downloadProgress)
                        later.callbacks.downloadProgress(received, total);
                });
        }
    });
    QObject::connect(reply, &QNetworkReply::uploadProgress, reply, [weakState, alive](qint64 sent, qint64 total) {
        alive();
        const auto locked = weakState.lock();
        // Qt reports (0, 0) for a request without a body.
        if (!locked || total <= 0 || !locked->callbacks.uploadProgress)
            return;
        post(*locked, weakState, [sent, total](TransferState& later) {
            if (later.callbacks.uploadProgress)
                later.callbacks.uploadProgress(sent, total);
        });
    });
    QObject::connect(reply, &QNetworkReply::finished, reply, [weakState] {
        const auto locked = weakState.lock();
        if (!locked || locked->completed || !locked->reply)
            return;
        QNetworkReply& finished = *locked->reply;
        locked->takeMetaData();
        locked->takeBody();
        std::optional<HttpError> error;
        if (locked->bodyTooLarge())
            error = locked->tooLargeError();
        else if (finished.error() != QNetworkReply::NoError
            && !onlyReportsTheStatus(finished.error(), locked->response.statusCode))
            error = HttpError { HttpError::Kind::transport, finished.errorString().toStdString() };
        locked->inactivity.stop();
        locked->deadline.stop();
        QObject::disconnect(&finished, nullptr, nullptr, nullptr);
        finished.deleteLater();
        locked->reply = nullptr;
        complete(*locked, weakState, std::move(error));
    });
    return std::make_unique<QtHttpTransfer>(std::move(state));
}

} // namespace corvex
