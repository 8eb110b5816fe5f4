#include "base/Sha256.h"

#include <array>
#include <cctype>
#include <cerrno>
#include <new>
#include <openssl/evp.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvex {

namespace {

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

} // namespace

void Sha256::FreeContext::operator()(evp_md_ctx_st* context) const
{
    EVP_MD_CTX_free(context);
}

Sha256::Sha256()
    : m_context(EVP_MD_CTX_new())
{
    reset();
}

Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::reset()
{
    // SHA-256 has no failure of its own: a context or an initialisation that fails is
    // memory that ran out.
    if (!m_context || EVP_DigestInit_ex(m_context.get(), EVP_sha256(), nullptr) != 1)
        throw std::bad_alloc();
}

void Sha256::update(ByteView bytes)
{
    if (!bytes.empty())
        EVP_DigestUpdate(m_context.get(), bytes.data(), bytes.size());
}

void Sha256::update(std::string_view text)
{
    update(ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

Sha256::Digest Sha256::finish()
{
    Digest digest {};
    unsigned int length = 0;
    EVP_DigestFinal_ex(m_context.get(), digest.data(), &length);
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
    // Opened without waiting (a named pipe would wait for a writer for ever), then read
    // only when what is open is a regular file.
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0)
        return std::nullopt;
    struct stat status {};
    Sha256 hash;
    std::array<char, 65536> buffer;
    bool read = ::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode);
    while (read) {
        const ssize_t got = ::read(descriptor, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            read = got == 0;
            break;
        }
        hash.update(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
    }
    ::close(descriptor);
    if (!read)
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
