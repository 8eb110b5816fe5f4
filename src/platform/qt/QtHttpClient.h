#pragma once

#include "platform/HttpClient.h"

#include <chrono>
#include <memory>
#include <optional>

class QNetworkAccessManager;

namespace corvex {

// HttpClient over QtNetwork. Destroying the client abandons every transfer it started:
// their callbacks never run, and cancel() on their handles does nothing.
class QtHttpClient final : public HttpClient {
public:
    // A deadline for every transfer whose request sets none (the command line's
    // --timeout); none without one.
    explicit QtHttpClient(std::optional<std::chrono::milliseconds> defaultTotalTimeout = {});
    ~QtHttpClient() override;
    QtHttpClient(const QtHttpClient&) = delete;
    QtHttpClient& operator=(const QtHttpClient&) = delete;

    std::unique_ptr<HttpTransfer> send(HttpRequest request, HttpCallbacks callbacks) override;

private:
    std::unique_ptr<QNetworkAccessManager> m_manager;
    std::optional<std::chrono::milliseconds> m_defaultTotalTimeout;
};

} // namespace corvex
