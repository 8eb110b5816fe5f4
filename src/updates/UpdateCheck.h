#pragma once

#include "base/Bytes.h"
#include "updates/AvailableUpdates.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvex {

class EventLoopTurner;
class HttpClient;
class LogSink;
class URLConnection;

// Product identifiers of the versions feed; each model's firmware entries are in its
// row of the model table (device/VarioModel.h).
namespace ProductId {
inline constexpr std::string_view software = "larkswMac";
inline constexpr std::string_view softwareBeta = "larkswMacBeta";
// The Lark's release firmware under its older name, read by the synchronous check.
inline constexpr std::string_view larkFirmwareLegacy = "larkfw";
} // namespace ProductId

// One product entry as the feed gives it: each attribute absent when the feed has none
// (present but empty counts as present).
struct FeedEntry {
    std::optional<std::string> version;
    std::optional<std::string> url;
    std::optional<std::string> sha256;
    // The vendor's Ed25519 signature of the file, base64 (see UpdateSignature.h).
    std::optional<std::string> signature;
    // The entry counts only with both its version and its address.
    bool isComplete() const { return version && url; }
};

// A parsed versions feed. Nothing when the bytes are not XML.
class VersionsFeed {
public:
    static std::optional<VersionsFeed> parse(const Bytes& data);
    ~VersionsFeed();
    VersionsFeed(VersionsFeed&&) noexcept;
    VersionsFeed& operator=(VersionsFeed&&) noexcept;

    FeedEntry entry(std::string_view productId) const;

private:
    struct Document;
    explicit VersionsFeed(std::unique_ptr<Document> document);
    std::unique_ptr<Document> m_document;
};

// What the feed offers against what runs: the program's two entries and each model's
// two, their flags, and the two compared versions.
AvailableUpdates availableUpdatesFromFeed(const VersionsFeed& feed, const std::string& currentSoftwareVersion,
    const std::string& currentFirmwareVersion, InstrumentGeneration deviceModel);

// The two lines that tell the log what a check found; absent values print "(null)".
void logAvailableUpdates(LogSink& log, const AvailableUpdates& updates);

// One check's outcome with the reason why it offers nothing, for callers that tell
// the user (the command line); the window only looks at the updates.
struct UpdateCheckResult {
    enum class Failure { none, transport, notXml };
    AvailableUpdates updates;
    Failure failure { Failure::none };
    // The transport's error text.
    std::string errorText;
};

// Why a check offers nothing because it failed, for the user and without a full stop:
// "cannot read the versions feed at URL: <why>" or "the versions feed at URL is not
// XML (an error page?)"; empty when it did not fail.
std::string describeUpdateCheckFailure(const UpdateCheckResult& result, const std::string& feedUrl);

// Reads the versions feed and compares it with the running program and the connected
// instrument. Shared by the update window and `corvex update check`. Every callback
// runs on the main loop.
class UpdateChecker {
public:
    // The client and the log must outlive the checker.
    UpdateChecker(HttpClient& http, LogSink& log, std::string versionsFeedUrl);
    // Checks still running report nothing afterwards.
    ~UpdateChecker();
    UpdateChecker(const UpdateChecker&) = delete;
    UpdateChecker& operator=(const UpdateChecker&) = delete;

    void setVersionsFeedUrl(std::string url) { m_versionsFeedUrl = std::move(url); }
    const std::string& versionsFeedUrl() const { return m_versionsFeedUrl; }

    // Starts the feed request and returns. The callback gets the outcome, which offers
    // nothing when the feed could not be read or is not XML; a cancelled request calls
    // nothing.
    void checkUpdatesAvailableForCurrentSwVer(const std::string& currentSoftwareVersion,
        const std::string& currentFirmwareVersion, InstrumentGeneration deviceModel,
        std::function<void(const AvailableUpdates&)> asyncronousCheckCompleted);

    // The same with the reason of a failure.
    void readFeed(const std::string& currentSoftwareVersion, const std::string& currentFirmwareVersion,
        InstrumentGeneration deviceModel, std::function<void(const UpdateCheckResult&)> completed);

    // The check as it runs on every connection: announced in the log, its outcome
    // logged, then handed on.
    void checkUpdates(const std::string& currentSoftwareVersion, const std::string& currentFirmwareVersion,
        InstrumentGeneration deviceModel, std::function<void(const UpdateCheckResult&)> completed);

private:
    HttpClient& m_http;
    LogSink& m_log;
    std::string m_versionsFeedUrl;
    std::vector<std::weak_ptr<URLConnection>> m_running;
};

// The synchronous check: one entry of the feed against one version, waiting for the
// feed by turning the event loop. The program's own flows use UpdateChecker.
class UpdateWindowController {
public:
    // Every object must outlive the controller.
    UpdateWindowController(HttpClient& http, LogSink& log, EventLoopTurner& eventLoop, std::string versionsFeedUrl);

    // True when the feed was read and holds the entry ("larkswMac", "larkfw"); then,
    // when the current version is earlier than the offered one, fills the given
    // out-parameters. True thus means that the check worked, not that an update exists.
    bool areUpdatesAvailableForCurrentSwVer(
        const std::string& currentVersion, std::string* newSoftwareUpdateURL, std::string* newSoftwareVersion);
    bool areUpdatesAvailableForCurrentFwVer(
        const std::string& currentVersion, std::string* newFirmwareUpdateURL, std::string* newFirmwareVersion);

private:
    std::optional<Bytes> fetchFeed();
    bool check(std::string_view productId, const char* missingEntryMessage, const std::string& currentVersion,
        std::string* newUrl, std::string* newVersion);

    HttpClient& m_http;
    LogSink& m_log;
    EventLoopTurner& m_eventLoop;
    std::string m_versionsFeedUrl;
};

} // namespace corvex
