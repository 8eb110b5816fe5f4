#pragma once

#include "base/Bytes.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// libcrypto's digest context, kept out of the callers' includes.
struct evp_md_ctx_st;

namespace corvex {

// SHA-256 (libcrypto's), fed in pieces so that a large download or file is hashed without a second
// copy in memory. `finish` pads, returns the digest and leaves the object ready for a
// new message.
class Sha256 {
public:
    using Digest = std::array<std::uint8_t, 32>;

    Sha256();
    ~Sha256();
    Sha256(Sha256&&) noexcept;
    Sha256& operator=(Sha256&&) noexcept;

    void update(ByteView bytes);
    void update(std::string_view text);
    Digest finish();
    // The digest as 64 lowercase hexadecimal digits, the form `sha256sum` prints and
    // the versions feed carries.
    std::string finishHex();

    static Digest of(ByteView bytes);
    static std::string hexOf(ByteView bytes);
    // The hexadecimal digest of a file's contents, or nothing when it cannot be read.
    static std::optional<std::string> hexOfFile(const std::string& path);

private:
    void reset();

    struct FreeContext {
        void operator()(evp_md_ctx_st* context) const;
    };
    std::unique_ptr<evp_md_ctx_st, FreeContext> m_context;
};

// Whether two hexadecimal digests name the same bytes: upper or lower case digits
// and surrounding blanks of a hand-written feed entry do not matter.
bool sameHexDigest(std::string_view left, std::string_view right);

} // namespace corvex
