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
    Bytes bytes;
    int high = -1;
    for (char c : hex) {
        int value;
        if (c >= '0' && c <= '9')
            value = c - '0';
        else if (c >= 'a' && c <= 'f')
            value = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            value = c - 'A' + 10;
        else if (c == ' ' || c == '\n')
            continue;
        else
            throw std::invalid_argument("not a hex digit");
        if (high < 0) {
            high = value;
        } else {
            bytes.push_back(static_cast<std::uint8_t>(high << 4 | value));
            high = -1;
        }
    }
    if (high >= 0)
        throw std::invalid_argument("odd number of hex digits");
    return bytes;
}

} // namespace corvex::testing
