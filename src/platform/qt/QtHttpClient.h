#pragma once

#include "platform/HttpClient.h"

#include <memory>

class QNetworkAccessManager;

namespace corvex {

// HttpClient over QtNetwork. Destroying the client abandons every transfer it started:
// their callbacks never run, and cancel() on their handles does nothing.
class QtHttpClient final : public HttpClient {
public:
    QtHttpClient();
    ~QtHttpClient() override;
    QtHttpClient(const QtHttpClient&) = delete;
    QtHttpClient& operator=(const QtHttpClient&) = delete;

    std::unique_ptr<HttpTransfer> send(HttpRequest request, HttpCallbacks callbacks) override;

private:
    std::unique_ptr<QNetworkAccessManager> m_manager;
};

} // namespace corvex
