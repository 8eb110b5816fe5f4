#include "updates/UpdateSignature.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace corvex {

namespace {

constexpr std::size_t signatureBytes = 64;

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\n'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\n'))
        text.remove_suffix(1);
    return text;
}

struct FreeKey {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct FreeContext {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

bool verifiesWith(const UpdatePublicKey& publicKey, ByteView data, ByteView signature)
{
    const std::unique_ptr<EVP_PKEY, FreeKey> key(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, publicKey.data(), publicKey.size()));
    const std::unique_ptr<EVP_MD_CTX, FreeContext> context(EVP_MD_CTX_new());
    if (!key || !context)
        return false;
    // Ed25519 hashes the message itself: no digest is named, and the message goes in whole.
    if (EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        return false;
    return EVP_DigestVerify(context.get(), signature.data(), signature.size(), data.data(), data.size()) == 1;
}

} // namespace

std::optional<Bytes> decodeSignatureBase64(std::string_view text)
{
    // EVP_DecodeBlock forgives blanks and pads its output with zeros; a signature or
    // a key is taken only in its one exact spelling.
    if (text.empty() || text.size() % 4 != 0)
        return std::nullopt;
    std::size_t padding = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool alphabet = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
        if (c == '=' && i + 2 >= text.size())
            ++padding;
        else if (!alphabet || padding > 0)
            return std::nullopt;
    }
    Bytes decoded(text.size() / 4 * 3);
    const int length = EVP_DecodeBlock(decoded.data(), reinterpret_cast<const unsigned char*>(text.data()),
        static_cast<int>(text.size()));
    if (length < 0 || static_cast<std::size_t>(length) != decoded.size())
        return std::nullopt;
    decoded.resize(decoded.size() - padding);
    return decoded;
}

std::string describeSignatureVerdict(SignatureVerdict verdict)
{
    switch (verdict) {
    case SignatureVerdict::valid:
        return "signed by a trusted key";
    case SignatureVerdict::missing:
        return "the versions feed gives no signature for it";
    case SignatureVerdict::malformed:
        return "its signature is not 64 bytes of base64";
    case SignatureVerdict::notTrusted:
        return "its signature does not verify with any trusted key (another key signed it, or it was altered)";
    }
    return {};
}

TrustedUpdateKeys::TrustedUpdateKeys()
{
    addList(UpdateSigning::builtInPublicKey);
}

TrustedUpdateKeys TrustedUpdateKeys::resolve(const std::optional<std::string>& preferenceValue)
{
    TrustedUpdateKeys keys;
    if (preferenceValue)
        keys.addList(*preferenceValue);
    if (const char* environment = std::getenv(std::string(UpdateSigning::environmentVariable).c_str()))
        keys.addList(environment);
    return keys;
}

std::vector<std::string> TrustedUpdateKeys::addList(std::string_view commaSeparated)
{
    std::vector<std::string> rejected;
    while (!commaSeparated.empty()) {
        const std::size_t comma = commaSeparated.find(',');
        const std::string_view entry = trimmed(commaSeparated.substr(0, comma));
        commaSeparated.remove_prefix(comma == std::string_view::npos ? commaSeparated.size() : comma + 1);
        if (entry.empty())
            continue;
        const auto bytes = decodeSignatureBase64(entry);
        if (!bytes || bytes->size() != UpdatePublicKey {}.size()) {
            rejected.emplace_back(entry);
            continue;
        }
        UpdatePublicKey key;
        std::copy(bytes->begin(), bytes->end(), key.begin());
        if (std::find(m_keys.begin(), m_keys.end(), key) == m_keys.end())
            m_keys.push_back(key);
    }
    return rejected;
}

SignatureVerdict TrustedUpdateKeys::verify(ByteView data, const std::optional<std::string>& base64Signature) const
{
    if (!base64Signature || trimmed(*base64Signature).empty())
        return SignatureVerdict::missing;
    const auto signature = decodeSignatureBase64(trimmed(*base64Signature));
    if (!signature || signature->size() != signatureBytes)
        return SignatureVerdict::malformed;
    for (const UpdatePublicKey& key : m_keys)
        if (verifiesWith(key, data, *signature))
            return SignatureVerdict::valid;
    return SignatureVerdict::notTrusted;
}

} // namespace corvex
