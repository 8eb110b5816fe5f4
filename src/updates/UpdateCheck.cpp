#include "updates/UpdateCheck.h"

#include "platform/EventLoop.h"
#include "platform/HttpClient.h"
#include "platform/LogSink.h"
#include "platform/VendorEndpoints.h"
#include "updates/URLConnection.h"
#include "base/Format.h"
#include "base/VersionComparison.h"

#include <pugixml.hpp>

#include <algorithm>
#include <chrono>

namespace corvex {

struct VersionsFeed::Document {
    pugi::xml_document xml;
};

VersionsFeed::VersionsFeed(std::unique_ptr<Document> document)
    : m_document(std::move(document))
{
}

VersionsFeed::~VersionsFeed() = default;
VersionsFeed::VersionsFeed(VersionsFeed&&) noexcept = default;
VersionsFeed& VersionsFeed::operator=(VersionsFeed&&) noexcept = default;

std::optional<VersionsFeed> VersionsFeed::parse(const Bytes& data)
{
    auto document = std::make_unique<Document>();
    const pugi::xml_parse_result result = document->xml.load_buffer(data.data(), data.size());
    if (!result || !document->xml.document_element())
        return std::nullopt;
    return VersionsFeed(std::move(document));
}

FeedEntry VersionsFeed::entry(std::string_view productId) const
{
    // Identifiers are our own constants; one with a quote would break the expression.
    if (productId.find('\'') != std::string_view::npos)
        return {};
    const pugi::xml_node root = m_document->xml.document_element();
    const auto attribute = [&](const char* name) -> std::optional<std::string> {
        const std::string query
            = "/corvex/products/product[@id='" + std::string(productId) + "']/@" + std::string(name);
        try {
            const pugi::xpath_node found = root.select_node(query.c_str());
            if (!found.attribute())
                return std::nullopt;
            return std::string(found.attribute().value());
        } catch (const pugi::xpath_exception&) {
            return std::nullopt;
        }
    };
    return FeedEntry { attribute("version"), attribute("url"), attribute("sha256"), attribute("signature") };
}

namespace {

struct SoftwareFields {
    std::string_view productId;
    std::optional<std::string> AvailableUpdates::*version;
    std::optional<std::string> AvailableUpdates::*url;
    std::optional<std::string> AvailableUpdates::*sha256;
    std::optional<std::string> AvailableUpdates::*signature;
    bool AvailableUpdates::*flag;
    // The release is offered whenever it differs from what runs; the beta only when it
    // is later.
    bool offeredWhenDifferent;
};

constexpr SoftwareFields softwareFields[] = {
    { ProductId::software, &AvailableUpdates::softwareVersion, &AvailableUpdates::softwareUrl,
        &AvailableUpdates::softwareSha256, &AvailableUpdates::softwareSignature,
        &AvailableUpdates::softwareUpdateAvailable, true },
    { ProductId::softwareBeta, &AvailableUpdates::softwareBetaVersion, &AvailableUpdates::softwareBetaUrl,
        &AvailableUpdates::softwareBetaSha256, &AvailableUpdates::softwareBetaSignature,
        &AvailableUpdates::softwareBetaUpdateAvailable, false },
};

// Whether an entry counts as an update of what runs.
bool isOffered(const std::string& current, const std::string& offered, bool offeredWhenDifferent)
{
    const VersionOrder order = compareVersions(current, offered);
    return offeredWhenDifferent ? order != VersionOrder::same : order == VersionOrder::earlier;
}

// The offer of one firmware entry; nothing when the feed lacks it or it is incomplete.
OfferedFirmware firmwareOffer(const VersionsFeed& feed, std::string_view productId,
    const std::string& currentFirmwareVersion, bool offeredWhenDifferent)
{
    const FeedEntry entry = feed.entry(productId);
    if (!entry.isComplete())
        return {};
    return OfferedFirmware { entry.url, entry.version, entry.sha256, entry.signature,
        isOffered(currentFirmwareVersion, *entry.version, offeredWhenDifferent) };
}

const char* orNull(const std::optional<std::string>& text) { return text ? text->c_str() : "(null)"; }

HttpRequest feedRequest(std::string url)
{
    HttpRequest request;
    request.url = std::move(url);
    request.cachePolicy = HttpCachePolicy::ignoreLocalCache;
    request.inactivityTimeout = std::chrono::seconds(VendorEndpoints::downloadTimeoutSeconds);
    request.maximumBodyBytes = TransferLimit::feed;
    return request;
}

} // namespace

AvailableUpdates availableUpdatesFromFeed(const VersionsFeed& feed, const std::string& currentSoftwareVersion,
    const std::string& currentFirmwareVersion, InstrumentGeneration deviceModel)
{
    AvailableUpdates updates;
    updates.deviceModel = deviceModel;
    for (const SoftwareFields& fields : softwareFields) {
        const FeedEntry entry = feed.entry(fields.productId);
        if (!entry.isComplete())
            continue;
        updates.*fields.version = entry.version;
        updates.*fields.url = entry.url;
        updates.*fields.sha256 = entry.sha256;
        updates.*fields.signature = entry.signature;
        updates.*fields.flag = isOffered(currentSoftwareVersion, *entry.version, fields.offeredWhenDifferent);
    }
    // Every model's lines are compared with the connected instrument's firmware.
    for (const VarioModel& row : varioModels) {
        ModelFirmwareOffers& offers = updates.firmwareOf(row.generation);
        offers.release = firmwareOffer(
            feed, row.releaseFirmwareProduct, currentFirmwareVersion, row.releaseOfferedWhenDifferent);
        offers.beta = firmwareOffer(feed, row.betaFirmwareProduct, currentFirmwareVersion, false);
    }
    updates.currentSoftwareVersion = currentSoftwareVersion;
    updates.currentFirmwareVersion = currentFirmwareVersion;
    return updates;
}

void logAvailableUpdates(LogSink& log, const AvailableUpdates& updates)
{
    logLine(log, "Current software version: %s, newest software version: %s, newest beta software version: %s",
        orNull(updates.currentSoftwareVersion), orNull(updates.softwareVersion), orNull(updates.softwareBetaVersion));
    // The first model's lines are "the" firmware; each later one is named.
    std::string line = std::string("Current firmware version: ") + orNull(updates.currentFirmwareVersion);
    for (const VarioModel& row : varioModels) {
        const ModelFirmwareOffers& offers = updates.firmwareOf(row.generation);
        line += &row == &varioModels[0]
            ? formatString(", newest firmware version: %s, newest beta firmware version: %s",
                  orNull(offers.release.version), orNull(offers.beta.version))
            : formatString(", newest %s firmware: %s, newest %s beta firmware: %s", row.key,
                  orNull(offers.release.version), row.key, orNull(offers.beta.version));
    }
    logLine(log, "%s (device is %s)", line.c_str(), varioModel(updates.deviceModel).name);
}

UpdateChecker::UpdateChecker(HttpClient& http, LogSink& log, std::string versionsFeedUrl)
    : m_http(http)
    , m_log(log)
    , m_versionsFeedUrl(std::move(versionsFeedUrl))
{
}

UpdateChecker::~UpdateChecker()
{
    for (const auto& weak : m_running)
        if (const auto connection = weak.lock())
            connection->abandon();
}

void UpdateChecker::readFeed(const std::string& currentSoftwareVersion, const std::string& currentFirmwareVersion,
    InstrumentGeneration deviceModel, std::function<void(const UpdateCheckResult&)> completed)
{
    std::erase_if(m_running, [](const std::weak_ptr<URLConnection>& weak) { return weak.expired(); });
    // Shared by both callbacks; only one of them runs.
    auto shared = std::make_shared<std::function<void(const UpdateCheckResult&)>>(std::move(completed));
    LogSink& log = m_log;
    auto connection = URLConnection::asyncConnectionWithRequest(
        m_http, feedRequest(percentEscapedUrlString(m_versionsFeedUrl)),
        [&log, shared, currentSoftwareVersion, currentFirmwareVersion, deviceModel](
            std::optional<Bytes> data, std::optional<URLResponse>) {
            if (!data) {
                logLine(log, "URLConnection data returned is nil. The error is %s", "(null)");
                return;
            }
            UpdateCheckResult result;
            result.updates.deviceModel = deviceModel;
            if (const auto feed = VersionsFeed::parse(*data)) {
                result.updates
                    = availableUpdatesFromFeed(*feed, currentSoftwareVersion, currentFirmwareVersion, deviceModel);
            } else {
                logLine(log, "Unable to check for an update. Non XML response?");
                result.failure = UpdateCheckResult::Failure::notXml;
            }
            if (*shared)
                (*shared)(result);
        },
        [&log, shared, deviceModel](const URLError& error) {
            logLine(log, "URLConnection error: %s", error.text.c_str());
            UpdateCheckResult result;
            result.updates.deviceModel = deviceModel;
            result.failure = UpdateCheckResult::Failure::transport;
            result.errorText = error.text;
            if (*shared)
                (*shared)(result);
        });
    m_running.push_back(connection);
}

void UpdateChecker::checkUpdatesAvailableForCurrentSwVer(const std::string& currentSoftwareVersion,
    const std::string& currentFirmwareVersion, InstrumentGeneration deviceModel,
    std::function<void(const AvailableUpdates&)> asyncronousCheckCompleted)
{
    readFeed(currentSoftwareVersion, currentFirmwareVersion, deviceModel,
        [completed = std::move(asyncronousCheckCompleted)](const UpdateCheckResult& result) {
            if (completed)
                completed(result.updates);
        });
}

void UpdateChecker::checkUpdates(const std::string& currentSoftwareVersion, const std::string& currentFirmwareVersion,
    InstrumentGeneration deviceModel, std::function<void(const UpdateCheckResult&)> completed)
{
    logLine(m_log, "Checking for updates");
    LogSink& log = m_log;
    readFeed(currentSoftwareVersion, currentFirmwareVersion, deviceModel,
        [&log, completed = std::move(completed)](const UpdateCheckResult& result) {
            logAvailableUpdates(log, result.updates);
            if (completed)
                completed(result);
        });
}

UpdateWindowController::UpdateWindowController(
    HttpClient& http, LogSink& log, EventLoopTurner& eventLoop, std::string versionsFeedUrl)
    : m_http(http)
    , m_log(log)
    , m_eventLoop(eventLoop)
    , m_versionsFeedUrl(std::move(versionsFeedUrl))
{
}

std::optional<Bytes> UpdateWindowController::fetchFeed()
{
    // Shared with the callbacks: a caller's loop may outlast this frame.
    struct Outcome {
        bool done { false };
        std::optional<Bytes> body;
    };
    auto outcome = std::make_shared<Outcome>();
    // The address goes out as it is, unlike the asynchronous check's.
    auto connection = URLConnection::asyncConnectionWithRequest(
        m_http, feedRequest(m_versionsFeedUrl),
        [outcome](std::optional<Bytes> data, std::optional<URLResponse>) {
            outcome->body = std::move(data);
            outcome->done = true;
        },
        [outcome](const URLError&) { outcome->done = true; });
    // The inactivity time-out ends every transfer that stalls, so this wait ends.
    while (!outcome->done)
        m_eventLoop.runEventLoopFor(0.01);
    return std::move(outcome->body);
}

bool UpdateWindowController::check(std::string_view productId, const char* missingEntryMessage,
    const std::string& currentVersion, std::string* newUrl, std::string* newVersion)
{
    const std::optional<Bytes> data = fetchFeed();
    if (!data) {
        logLine(m_log, "Unable to check for an update. Connection Error?");
        return false;
    }
    const auto feed = VersionsFeed::parse(*data);
    if (!feed) {
        logLine(m_log, "Unable to check for an update. Non XML response?");
        return false;
    }
    const FeedEntry entry = feed->entry(productId);
    if (!entry.isComplete()) {
        logLine(m_log, "%s", missingEntryMessage);
        return false;
    }
    if (newUrl && isEarlier(currentVersion, *entry.version)) {
        *newUrl = *entry.url;
        if (newVersion)
            *newVersion = *entry.version;
    }
    return true;
}

bool UpdateWindowController::areUpdatesAvailableForCurrentSwVer(
    const std::string& currentVersion, std::string* newSoftwareUpdateURL, std::string* newSoftwareVersion)
{
    return check(ProductId::software, "Unable to check for an update. Mac Software product XML entry not found",
        currentVersion, newSoftwareUpdateURL, newSoftwareVersion);
}

bool UpdateWindowController::areUpdatesAvailableForCurrentFwVer(
    const std::string& currentVersion, std::string* newFirmwareUpdateURL, std::string* newFirmwareVersion)
{
    return check(ProductId::larkFirmwareLegacy, "Unable to check for an update. Firmware product XML entry not found",
        currentVersion, newFirmwareUpdateURL, newFirmwareVersion);
}

std::string describeUpdateCheckFailure(const UpdateCheckResult& result, const std::string& feedUrl)
{
    switch (result.failure) {
    case UpdateCheckResult::Failure::transport:
        return "cannot read the versions feed at " + feedUrl + ": " + result.errorText;
    case UpdateCheckResult::Failure::notXml:
        return "the versions feed at " + feedUrl + " is not XML (an error page?)";
    case UpdateCheckResult::Failure::none:
        break;
    }
    return {};
}

} // namespace corvex
