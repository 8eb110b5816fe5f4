#include "FakeSerialLine.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace corvex::testing {

TerminalSetupReport FakeSerialLine::configureRaw115200()
{
    ++m_state->configureCalls;
    return m_state->setup;
}

bool FakeSerialLine::lineDropped() const
{
    return m_state->failAfterBytes && m_state->bytesSoFar >= *m_state->failAfterBytes;
}

std::variant<std::size_t, LineError> FakeSerialLine::readSome(std::span<std::uint8_t> buffer)
{
    if (m_state->failReads)
        return LineError { "read: Input/output error", false, EIO };
    m_state->largestReadBuffer = std::max(m_state->largestReadBuffer, buffer.size());
    std::size_t count = std::min({ buffer.size(), m_state->pending.size(), m_state->chunkSize });
    if (m_state->failAfterBytes) {
        std::size_t left = *m_state->failAfterBytes > m_state->bytesSoFar ? *m_state->failAfterBytes - m_state->bytesSoFar : 0;
        count = std::min(count, left);
    }
    for (std::size_t i = 0; i < count; ++i) {
        buffer[i] = m_state->pending.front();
        m_state->pending.pop_front();
    }
    m_state->bytesSoFar += count;
    return count;
}

std::variant<std::monostate, LineError> FakeSerialLine::writeAll(ByteView bytes)
{
    if (m_state->failWrites || lineDropped())
        return LineError { "write: Input/output error", false, EIO };
    Bytes request(bytes.begin(), bytes.end());
    m_state->written.push_back(request);
    m_state->bytesSoFar += bytes.size();
    if (m_state->responder) {
        Bytes answer = m_state->responder(request);
        m_state->pending.insert(m_state->pending.end(), answer.begin(), answer.end());
    }
    return std::monostate {};
}

PortOpenResult FakeSerialPortOpener::open(const std::string& path)
{
    ++openAttempts;
    if (refuseOpens > 0) {
        --refuseOpens;
        return Failure { PortOpenError { path + ": " + std::strerror(refusalError), refusalError, refusalHolder } };
    }
    openedPaths.push_back(path);
    return std::unique_ptr<SerialLine>(std::make_unique<FakeSerialLine>(state));
}

FakeSerialLine::Responder scriptedAnswers(std::vector<Bytes> answers)
{
    auto queue = std::make_shared<std::deque<Bytes>>(answers.begin(), answers.end());
    return [queue](const Bytes&) {
        if (queue->empty())
            return Bytes {};
        Bytes next = queue->front();
        queue->pop_front();
        return next;
    };
}

Bytes hexBytes(std::string_view hex)
{
    std::string digits(hex);
    std::erase_if(digits, [](char c) { return c == ' ' || c == '\n'; });
    auto bytes = bytesFromHexadecimal(digits);
    if (!bytes)
        throw std::invalid_argument("not pairs of hex digits");
    return *bytes;
}

} // namespace corvex::testing
