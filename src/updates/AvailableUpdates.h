#pragma once

#include <optional>
#include <string>

namespace corvex {

// The outcome of one update check: what the versions feed offers (each file's address,
// digest and vendor signature), which of it is newer than what runs, and what was compared. Text fields are absent when the feed did not
// offer the entry (or the check failed); every flag starts false.
struct AvailableUpdates {
    // "larkswMac": the desktop program, release.
    std::optional<std::string> softwareVersion;
    std::optional<std::string> softwareUrl;
    std::optional<std::string> softwareSha256;
    std::optional<std::string> softwareSignature;
    // "larkfw_asp": Lark firmware, release.
    std::optional<std::string> firmwareVersion;
    std::optional<std::string> firmwareUrl;
    std::optional<std::string> firmwareSha256;
    std::optional<std::string> firmwareSignature;
    // "larkswMacBeta": the desktop program, beta.
    std::optional<std::string> softwareBetaVersion;
    std::optional<std::string> softwareBetaUrl;
    std::optional<std::string> softwareBetaSha256;
    std::optional<std::string> softwareBetaSignature;
    // "larkfwBeta": Lark firmware, beta.
    std::optional<std::string> firmwareBetaVersion;
    std::optional<std::string> firmwareBetaUrl;
    std::optional<std::string> firmwareBetaSha256;
    std::optional<std::string> firmwareBetaSignature;
    // "wrenfw_asp": Wren firmware, release.
    std::optional<std::string> firmwareVersionV2;
    std::optional<std::string> firmwareUrlV2;
    std::optional<std::string> firmwareSha256V2;
    std::optional<std::string> firmwareSignatureV2;
    // "wrenfwBeta": Wren firmware, beta.
    std::optional<std::string> firmwareBetaVersionV2;
    std::optional<std::string> firmwareBetaUrlV2;
    std::optional<std::string> firmwareBetaSha256V2;
    std::optional<std::string> firmwareBetaSignatureV2;

    // Release entries are offered whenever they differ from what runs (a withdrawn
    // version is rolled back); beta entries only when they are later.
    bool softwareUpdateAvailable { false };
    bool firmwareUpdateAvailable { false };
    bool softwareBetaUpdateAvailable { false };
    bool firmwareBetaUpdateAvailable { false };
    bool firmwareUpdateAvailableV2 { false };
    bool firmwareBetaUpdateAvailableV2 { false };

    // What was compared: the program's version and the instrument's in "%0.3f" form.
    std::optional<std::string> currentSoftwareVersion;
    std::optional<std::string> currentFirmwareVersion;
    bool theDeviceIsWren { false };

    // Whether a release update exists for the program or for the connected model's
    // firmware. Beta entries never count: they are not announced.
    bool areThereAnyUpdatesAvailableAtAll() const
    {
        if (softwareUpdateAvailable)
            return true;
        return theDeviceIsWren ? firmwareUpdateAvailableV2 : firmwareUpdateAvailable;
    }
};

} // namespace corvex
