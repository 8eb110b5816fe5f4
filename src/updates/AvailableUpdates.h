#pragma once

#include "device/VarioModel.h"

#include <array>
#include <optional>
#include <string>

namespace corvex {

// One firmware entry of the feed as a check found it, with the digest and the
// signature the feed gives for its file (when it gives them). Text fields are absent
// when the feed did not offer the entry (or the check failed).
struct OfferedFirmware {
    std::optional<std::string> url;
    std::optional<std::string> version;
    std::optional<std::string> sha256;
    std::optional<std::string> signature;
    // Whether the check found it newer (or, for a release the model rolls back to,
    // different).
    bool isUpdate { false };
};

// A model's two firmware lines in the feed.
struct ModelFirmwareOffers {
    OfferedFirmware release;
    OfferedFirmware beta;
    const OfferedFirmware& line(bool isBeta) const { return isBeta ? beta : release; }
    OfferedFirmware& line(bool isBeta) { return isBeta ? beta : release; }
};

// The outcome of one update check: what the versions feed offers (each file's address,
// digest and vendor signature), which of it is newer than what runs, and what was
// compared. Text fields are absent when the feed did not offer the entry (or the check
// failed); every flag starts false.
struct AvailableUpdates {
    // "larkswMac": the desktop program, release.
    std::optional<std::string> softwareVersion;
    std::optional<std::string> softwareUrl;
    std::optional<std::string> softwareSha256;
    std::optional<std::string> softwareSignature;
    // "larkswMacBeta": the desktop program, beta.
    std::optional<std::string> softwareBetaVersion;
    std::optional<std::string> softwareBetaUrl;
    std::optional<std::string> softwareBetaSha256;
    std::optional<std::string> softwareBetaSignature;
    // What the feed offers each model's firmware, by the model table's rows: the row's
    // release and beta products ("larkfw_asp" and "larkfwBeta", "wrenfw_asp" and
    // "wrenfwBeta"). Every row's entries are read and compared, whichever model is
    // connected.
    std::array<ModelFirmwareOffers, varioModelCount> firmwareByModel {};

    // The program's release is offered whenever it differs from what runs (a withdrawn
    // version is rolled back); its beta only when it is later.
    bool softwareUpdateAvailable { false };
    bool softwareBetaUpdateAvailable { false };

    // What was compared: the program's version and the instrument's in "%0.3f" form.
    std::optional<std::string> currentSoftwareVersion;
    std::optional<std::string> currentFirmwareVersion;
    // The connected model (the first row when none is connected).
    InstrumentGeneration deviceModel { InstrumentGeneration::Lark };
    // A shorthand for the tests; the program asks the row.
    bool theDeviceIsWren() const { return deviceModel == InstrumentGeneration::Wren; }

    const ModelFirmwareOffers& firmwareOf(InstrumentGeneration model) const
    {
        return firmwareByModel[varioModelIndex(model)];
    }
    ModelFirmwareOffers& firmwareOf(InstrumentGeneration model) { return firmwareByModel[varioModelIndex(model)]; }
    // The firmware offered the connected model, release or beta.
    const OfferedFirmware& offeredFirmware(bool beta) const { return firmwareOf(deviceModel).line(beta); }

    // Whether a release update exists for the program or for the connected model's
    // firmware. Beta entries never count: they are not announced.
    bool areThereAnyUpdatesAvailableAtAll() const
    {
        return softwareUpdateAvailable || offeredFirmware(false).isUpdate;
    }
};

} // namespace corvex
