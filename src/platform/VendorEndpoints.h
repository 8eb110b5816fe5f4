#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace corvex {

// Every request the program makes of the vendor's web server, in one place. The host
// is the "vendorServerURL" preference; CORVEX_VENDOR_URL overrides it (demo, tests).
struct VendorEndpoints {
    static constexpr std::string_view preferenceKey = "vendorServerURL";
    static constexpr std::string_view environmentOverride = "CORVEX_VENDOR_URL";
    // Used when neither the preference nor the variable gives a host.
    static constexpr std::string_view fallbackBaseUrl = "http://127.0.0.1:8917";

    static constexpr std::string_view versionsFeedPath = "/versions.xml";
    static constexpr std::string_view airspacesServicePath = "/api/Airspaces.svc";
    // The feed and the firmware and software downloads ignore caches and time out
    // after 10 s; the airspaces service keeps the session's default: 60 s without a
    // byte. Qt has no such default, and a service that takes the request and never
    // answers would otherwise hold the window's sheet and `corvex airspaces` forever.
    static constexpr int downloadTimeoutSeconds = 10;
    static constexpr int serviceTimeoutSeconds = 60;

    // The base URL without a trailing slash: the environment's, else the preference's
    // value, else the fallback.
    static VendorEndpoints resolve(const std::optional<std::string>& preferenceValue)
    {
        if (const char* overridden = std::getenv(std::string(environmentOverride).c_str()); overridden && *overridden)
            return VendorEndpoints(overridden);
        if (preferenceValue && !preferenceValue->empty())
            return VendorEndpoints(*preferenceValue);
        return VendorEndpoints(std::string(fallbackBaseUrl));
    }

    explicit VendorEndpoints(std::string baseUrl)
        : m_baseUrl(std::move(baseUrl))
    {
        while (!m_baseUrl.empty() && m_baseUrl.back() == '/')
            m_baseUrl.pop_back();
    }

    const std::string& baseUrl() const { return m_baseUrl; }
    std::string versionsFeedUrl() const { return m_baseUrl + std::string(versionsFeedPath); }
    std::string airspacesServiceUrl() const { return m_baseUrl + std::string(airspacesServicePath); }
    // The site's home page, opened in the browser by the manual download.
    std::string websiteUrl() const { return m_baseUrl + "/"; }

private:
    std::string m_baseUrl;
};

} // namespace corvex
