#pragma once

#include "platform/SerialLine.h"

#include <cerrno>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace corvex::testing {

// A scripted instrument for unit tests. Each written request is handed to the responder,
// which returns the bytes the instrument sends back; the reads then deliver them in
// chunks until they run out, after which every read reports 0.1 s of silence. The
// line can be made to fail after a number of bytes (written plus read), or to fail
// reads or writes outright.
class FakeSerialLine final : public SerialLine {
public:
    using Responder = std::function<Bytes(const Bytes& request)>;

    struct State {
        Responder responder;
        std::vector<Bytes> written;
        std::deque<std::uint8_t> pending;
        std::optional<std::size_t> failAfterBytes; // the line drops after this many bytes
        std::size_t bytesSoFar { 0 };
        bool failReads { false };
        bool failWrites { false };
        std::size_t chunkSize { 64 }; // bytes per read call, as a real tty delivers them
        std::size_t largestReadBuffer { 0 }; // the most any one read offered to fill
        TerminalSetupReport setup {};
        int configureCalls { 0 };
    };

    explicit FakeSerialLine(std::shared_ptr<State> state)
        : m_state(std::move(state))
    {
    }

    TerminalSetupReport configureRaw115200() override;
    std::variant<std::size_t, LineError> readSome(std::span<std::uint8_t> buffer) override;
    // The fake has no time: a short silence is the same as the line's own.
    std::variant<std::size_t, LineError> readSomeWithin(std::span<std::uint8_t> buffer, std::chrono::milliseconds) override
    {
        return readSome(buffer);
    }
    std::variant<std::monostate, LineError> writeAll(ByteView bytes) override;

private:
    bool lineDropped() const;
    std::shared_ptr<State> m_state;
};

// Opens FakeSerialLines sharing one state; can be told to refuse a number of opens,
// each with the given error (the device held by another program unless told).
class FakeSerialPortOpener final : public SerialPortOpener {
public:
    PortOpenResult open(const std::string& path) override;

    std::shared_ptr<FakeSerialLine::State> state = std::make_shared<FakeSerialLine::State>();
    int refuseOpens { 0 };
    int refusalError { EBUSY };
    std::string refusalHolder;
    std::vector<std::string> openedPaths;
    int openAttempts { 0 };
};

// Responders for common scripts.
// Answers the requests in order with the given answers; silence after them.
FakeSerialLine::Responder scriptedAnswers(std::vector<Bytes> answers);

Bytes hexBytes(std::string_view hex); // "02 00 00 12 34" -> bytes; spaces ignored

} // namespace corvex::testing
