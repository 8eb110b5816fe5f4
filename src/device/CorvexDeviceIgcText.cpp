// The IGC text that recent firmware writes itself, fetched block by block.
#include "device/CorvexDevice.h"

#include "device/Protocol.h"
#include "device/TrackLogCodec.h"
#include "platform/LocalTime.h"
#include "platform/LogSink.h"

#include <algorithm>
#include <ctime>

namespace corvex {

using namespace protocol;

namespace {

// Appends a block's text as CR LF lines: split at line feeds, empty pieces dropped; a
// text without a line feed is one line. A piece keeps a carriage return it carried.
void appendLines(std::string& igc, std::string_view text)
{
    if (text.find('\n') == std::string_view::npos) {
        igc.append(text);
        igc.append("\r\n");
        return;
    }
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        if (end > start) {
            igc.append(text.substr(start, end - start));
            igc.append("\r\n");
        }
        start = end + 1;
    }
}

// "FLIGHT01.IGC" becomes "FLIGHT01": only the last extension goes, and a name whose
// only dot leads it (".IGC") has no extension.
std::string withoutExtension(const std::string& name)
{
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return name;
    return name.substr(0, dot);
}

} // namespace

std::optional<std::string> CorvexDevice::downloadTextIgcFromTheDevice(
    std::uint16_t flightNumber, std::optional<std::string>* filename)
{
    const auto readFailure = [this] {
        logLine(log(), "deviceReadDataOfLength: failure inside downloadTextIgcFromTheDevice");
        return std::nullopt;
    };

    std::string igc;
    std::optional<std::string> proposedName;
    std::uint8_t state = 0;
    bool commentInserted = false;
    // Whether the instrument pads its answers to the full frame, learnt from the first
    // answer, so that no later block waits for padding that never comes.
    enum class Padding { Unknown, Padded, Unpadded } padding = Padding::Unknown;
    const bool recentFirmware = m_firmwareVersion.isRecentIgcFirmware();

    const auto appendComment = [&] {
        logLine(log(), "Adding comment");
        igc += formatString("LXCV HUB version Mac %s\r\n", m_environment.applicationVersion.c_str());
        igc += formatString("LXCV Downloaded %s\r\n", localTimeText(m_environment.now()).c_str());
        commentInserted = true;
    };

    for (std::size_t blocks = 1;; ++blocks) {
        if (blocks > igcTextBlockLimit) {
            logLine(log(), "downloadTextIgcFromTheDevice: the instrument does not end the file (more than %lu blocks)",
                static_cast<unsigned long>(igcTextBlockLimit));
            return std::nullopt;
        }
        const std::uint8_t request[] = { byte(Command::LogBook), byte(LogBookOperation::IgcTextBlock),
            static_cast<std::uint8_t>(flightNumber >> 8), static_cast<std::uint8_t>(flightNumber & 0xFF), state };
        if (!deviceWriteData(request)) {
            logLine(log(), "deviceWriteData devReadTracklogReq failure");
            return std::nullopt;
        }
        // The header says how long the text is, so the read ends with the text instead
        // of waiting for the line to go quiet. The state and the length byte are needed
        // to read any answer.
        auto header = deviceReadDataOfLength(igcTextHeaderLength);
        if (!header || header->size() < igcTextHeaderLength || (*header)[0] != byte(Command::LogBook))
            return readFailure();
        const std::uint8_t blockState = (*header)[1];
        const std::size_t announced = (*header)[2];
        auto body = deviceReadDataOfLength(announced);
        if (!body)
            return readFailure();
        // Some instruments pad every answer to the full frame. The padding is read here,
        // never left to be taken for the start of the next answer. Whether it comes is
        // told by a short silence after the first answer's text (padding follows the
        // text at line speed); after that an answer is read as the last one was, padded
        // to its full length or ended with its text.
        const std::size_t paddingLength = igcTextAnswerLength - igcTextHeaderLength - body->size();
        if (body->size() == announced && padding != Padding::Unpadded) {
            auto rest = padding == Padding::Padded
                ? deviceReadDataOfLength(paddingLength)
                : deviceReadDataOfLength(paddingLength, std::chrono::milliseconds(igcTextPaddingSilenceMilliseconds));
            if (!rest)
                return readFailure();
            padding = rest->empty() ? Padding::Unpadded : Padding::Padded;
            body->insert(body->end(), rest->begin(), rest->end());
        }
        const ByteView received = *body;

        if (blockState == igcReadStateFilename) {
            // The file name runs to the first NUL of the answer; the length byte is
            // not applied to it.
            const std::string raw = textField(received);
            const bool validText = utf8Characters(raw).has_value();
            const bool sevenBit = std::all_of(raw.begin(), raw.end(), [](char c) { return c >= 0; });
            logLine(log(), "Just Read filename: (%s) (%s) (%s)", raw.c_str(), validText ? raw.c_str() : "(null)",
                validText && sevenBit ? describeBytes(bytesOf(raw)).c_str() : "(null)");
            proposedName = validText ? std::optional(raw) : std::nullopt;
            state = igcReadStateFilename;
            continue;
        }
        if (blockState == IGC_READ_STATE_ERROR) {
            logLine(log(), "IGC_READ_STATE_ERROR");
            return std::nullopt;
        }
        if (blockState >= igcReadStateEnd && recentFirmware)
            break;

        // The text ends at its length or at its first NUL. An answer cut short before
        // either lost bytes on the line: the file would miss part of a line, so the
        // transfer fails instead of saving it.
        const ByteView available = received.first(std::min(announced, received.size()));
        const std::string text = textField(available);
        if (received.size() < announced && text.size() == available.size())
            return readFailure();

        if (recentFirmware && blockState == igcReadStateComment && !commentInserted)
            appendComment();
        logLine(log(), "Reading data block, state is %02x", blockState);
        appendLines(igc, text);
        if (!recentFirmware && blockState == igcReadStateComment && !commentInserted)
            appendComment();
        state = blockState;
        if (state >= igcReadStateEnd)
            break;
    }
    if (filename) {
        *filename = proposedName ? std::optional(withoutExtension(safeFileName(*proposedName))) : std::nullopt;
    }
    return igc;
}

} // namespace corvex
