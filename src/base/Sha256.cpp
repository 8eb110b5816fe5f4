#include "base/Sha256.h"

#include <cctype>
#include <fstream>

namespace corvex {

namespace {

constexpr std::uint32_t roundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5, 0xd807aa98, 0x12835b01,
    0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc,
    0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147,
    0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116, 0x1e376c08,
    0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3, 0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208,
    0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

constexpr std::array<std::uint32_t, 8> initialState = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19,
};

constexpr std::uint32_t rotateRight(std::uint32_t value, int count)
{
    return (value >> count) | (value << (32 - count));
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

} // namespace

Sha256::Sha256()
{
    reset();
}

void Sha256::reset()
{
    m_state = initialState;
    m_blockLength = 0;
    m_messageLength = 0;
}

void Sha256::compressBlock(const std::uint8_t* block)
{
    std::uint32_t w[64];
    for (int i = 0; i < 16; ++i)
        w[i] = (std::uint32_t { block[4 * i] } << 24) | (std::uint32_t { block[4 * i + 1] } << 16)
            | (std::uint32_t { block[4 * i + 2] } << 8) | block[4 * i + 3];
    for (int i = 16; i < 64; ++i) {
        const std::uint32_t s0 = rotateRight(w[i - 15], 7) ^ rotateRight(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const std::uint32_t s1 = rotateRight(w[i - 2], 17) ^ rotateRight(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::uint32_t a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
    std::uint32_t e = m_state[4], f = m_state[5], g = m_state[6], h = m_state[7];
    for (int i = 0; i < 64; ++i) {
        const std::uint32_t s1 = rotateRight(e, 6) ^ rotateRight(e, 11) ^ rotateRight(e, 25);
        const std::uint32_t choice = (e & f) ^ (~e & g);
        const std::uint32_t t1 = h + s1 + choice + roundConstants[i] + w[i];
        const std::uint32_t s0 = rotateRight(a, 2) ^ rotateRight(a, 13) ^ rotateRight(a, 22);
        const std::uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
        const std::uint32_t t2 = s0 + majority;
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    m_state[0] += a;
    m_state[1] += b;
    m_state[2] += c;
    m_state[3] += d;
    m_state[4] += e;
    m_state[5] += f;
    m_state[6] += g;
    m_state[7] += h;
}

void Sha256::update(ByteView bytes)
{
    m_messageLength += bytes.size();
    std::size_t offset = 0;
    if (m_blockLength > 0) {
        while (m_blockLength < 64 && offset < bytes.size())
            m_block[m_blockLength++] = bytes[offset++];
        if (m_blockLength < 64)
            return;
        compressBlock(m_block.data());
        m_blockLength = 0;
    }
    for (; offset + 64 <= bytes.size(); offset += 64)
        compressBlock(bytes.data() + offset);
    while (offset < bytes.size())
        m_block[m_blockLength++] = bytes[offset++];
}

void Sha256::update(std::string_view text)
{
    update(ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

Sha256::Digest Sha256::finish()
{
    const std::uint64_t bitLength = m_messageLength * 8;
    // Padding: one 1 bit, zeros up to 56 bytes into a block, then the message length in
    // bits as a big-endian 64-bit number.
    std::uint8_t padding[72] = { 0x80 };
    const std::size_t zeros = (m_blockLength < 56 ? 56 - m_blockLength : 120 - m_blockLength);
    for (int i = 0; i < 8; ++i)
        padding[zeros + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bitLength >> (56 - 8 * i));
    update(ByteView(padding, zeros + 8));

    Digest digest {};
    for (std::size_t i = 0; i < 8; ++i)
        for (std::size_t k = 0; k < 4; ++k)
            digest[4 * i + k] = static_cast<std::uint8_t>(m_state[i] >> (24 - 8 * k));
    reset();
    return digest;
}

std::string Sha256::finishHex()
{
    return hexadecimalString(finish());
}

Sha256::Digest Sha256::of(ByteView bytes)
{
    Sha256 hash;
    hash.update(bytes);
    return hash.finish();
}

std::string Sha256::hexOf(ByteView bytes)
{
    return hexadecimalString(of(bytes));
}

std::optional<std::string> Sha256::hexOfFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::nullopt;
    Sha256 hash;
    std::array<char, 65536> buffer;
    while (file) {
        file.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const auto got = file.gcount();
        if (got > 0)
            hash.update(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
    }
    if (file.bad())
        return std::nullopt;
    return hash.finishHex();
}

bool sameHexDigest(std::string_view left, std::string_view right)
{
    left = trimmed(left);
    right = trimmed(right);
    if (left.size() != right.size() || left.empty())
        return false;
    for (std::size_t i = 0; i < left.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(left[i])) != std::tolower(static_cast<unsigned char>(right[i])))
            return false;
    return true;
}

} // namespace corvex
