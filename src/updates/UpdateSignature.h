#pragma once

#include "base/Bytes.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvex {

// The vendor signs every file the versions feed offers (a program archive, a firmware
// file) with Ed25519 over its exact bytes; the feed carries the raw 64-byte signature
// in base64 as the entry's `signature` attribute. The program trusts the vendor's key
// built in here, plus the keys of the "updatePublicKeys" preference and of
// CORVEX_UPDATE_PUBLIC_KEYS (a stand-in server, the tests): each a comma-separated
// list of raw 32-byte public keys in base64.
namespace UpdateSigning {
// The vendor's release key. Its private half is kept by the vendor, out of this tree.
inline constexpr std::string_view builtInPublicKey = "KNfzE35zFID4POg5YxhL1tkxuyF3mf3EozuUlAetqNw=";
inline constexpr std::string_view preferenceKey = "updatePublicKeys";
inline constexpr std::string_view environmentVariable = "CORVEX_UPDATE_PUBLIC_KEYS";
// What the user is told when an offered file is refused for its signature.
inline constexpr const char* refusalText = "The update is not signed by the vendor";
} // namespace UpdateSigning

using UpdatePublicKey = std::array<std::uint8_t, 32>;

// Why a signature was not accepted; `valid` when it was.
enum class SignatureVerdict {
    valid,
    missing, // the feed gives no signature
    malformed, // not 64 bytes of base64
    notTrusted, // no trusted key verifies it: another key signed it, or the bytes changed
};

// The reason for the log: "the feed gives no signature", ...
std::string describeSignatureVerdict(SignatureVerdict verdict);

// The keys an offered file may be signed with.
class TrustedUpdateKeys {
public:
    // The built-in key only.
    TrustedUpdateKeys();
    // The built-in key, the preference's keys and then the environment's.
    static TrustedUpdateKeys resolve(const std::optional<std::string>& preferenceValue);

    // Adds every key of a comma-separated list (blanks around each ignored) and returns
    // the entries that are not a base64 32-byte key, which add nothing.
    std::vector<std::string> addList(std::string_view commaSeparated);
    const std::vector<UpdatePublicKey>& keys() const { return m_keys; }

    // Whether one of the keys made this signature over exactly these bytes.
    SignatureVerdict verify(ByteView data, const std::optional<std::string>& base64Signature) const;

private:
    std::vector<UpdatePublicKey> m_keys;
};

// Standard base64 with its padding (no blanks, no line breaks); nothing otherwise.
std::optional<Bytes> decodeSignatureBase64(std::string_view text);

} // namespace corvex
