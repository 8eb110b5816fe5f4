// The IGC text that recent firmware writes itself, fetched block by block.
#include "device/CorvexDevice.h"

#include "base/FileNames.h"
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

DeviceResult<std::string> CorvexDevice::downloadTextIgcFromTheDevice(
    std::uint16_t flightNumber, std::optional<std::string>* filename)
{
    // What a read that gave out found; the log line stays the one it always was.
    const auto readFailure = [this](DeviceErrorKind kind, const char* detail) -> DeviceResult<std::string> {
        logLine(log(), "deviceReadDataOfLength: failure inside downloadTextIgcFromTheDevice");
        return deviceFailure(kind, detail);
    };

    // Some instruments pad an answer with NULs to 300 bytes, some to 3 + 255, some not
    // at all. Each answer is read to the end of its text; the padding is skipped where
    // it is found: queued before the next request, or (when it was still on its way)
    // before the next answer's first byte, which is never NUL.
    std::size_t skippedPadding = 0;
    const auto dropQueuedPadding = [&] {
        Bytes queued = drainLine(std::chrono::milliseconds(0));
        const bool onlyPadding = std::all_of(queued.begin(), queued.end(), [](std::uint8_t b) { return b == 0; });
        if (!onlyPadding)
            logLine(log(), "Discarded %lu late bytes before the next request: %s", static_cast<unsigned long>(queued.size()),
                describeBytes(queued).c_str());
    };
    const auto readHeader = [&]() -> DeviceResult<Bytes> {
        Bytes header;
        while (header.size() < igcTextHeaderLength) {
            auto more = deviceReadDataOfLength(igcTextHeaderLength - header.size());
            if (!more)
                return deviceFailure(DeviceErrorKind::Unplugged, "the line failed");
            if (more->empty())
                return deviceFailure(header.empty() ? DeviceErrorKind::NoAnswer : DeviceErrorKind::ShortAnswer,
                    "the answer's header did not arrive");
            for (std::uint8_t b : *more) {
                if (header.empty() && b == 0 && skippedPadding < igcTextPaddingLimit) {
                    ++skippedPadding;
                    continue;
                }
                header.push_back(b);
            }
        }
        return header;
    };

    // A file that never ends is not asked for again.
    bool endless = false;
    const std::uint64_t connection = m_connection;
    const auto transferOnce = [&]() -> DeviceResult<std::string> {
        std::string igc;
        std::optional<std::string> proposedName;
        std::uint8_t state = 0;
        bool commentInserted = false;
        const bool recentFirmware = m_firmwareVersion.isRecentIgcFirmware();

        const auto appendComment = [&] {
            logLine(log(), "Adding comment");
            igc += formatString("LXCV HUB version Mac %s\r\n", m_environment.applicationVersion.c_str());
            igc += formatString("LXCV Downloaded %s\r\n", localTimeText(context().now()).c_str());
            commentInserted = true;
        };

        for (std::size_t blocks = 1;; ++blocks) {
            if (blocks > igcTextBlockLimit) {
                logLine(log(), "downloadTextIgcFromTheDevice: the instrument does not end the file (more than %lu blocks)",
                    static_cast<unsigned long>(igcTextBlockLimit));
                endless = true;
                return deviceFailure(DeviceErrorKind::BadAnswer, "the instrument does not end the file");
            }
            const std::uint8_t request[] = { byte(Command::LogBook), byte(LogBookOperation::IgcTextBlock),
                static_cast<std::uint8_t>(flightNumber >> 8), static_cast<std::uint8_t>(flightNumber & 0xFF), state };
            skippedPadding = 0;
            if (hasOpenLine())
                dropQueuedPadding();
            if (!deviceWriteData(request)) {
                logLine(log(), "deviceWriteData devReadTracklogReq failure");
                return deviceFailure(DeviceErrorKind::Unplugged, "the request could not be written");
            }
            // The header says how long the text is, so the read ends with the text
            // instead of waiting for the line to go quiet.
            auto header = readHeader();
            if (!header)
                return readFailure(header.error().kind, header.error().detail.c_str());
            if ((*header)[0] != byte(Command::LogBook))
                return readFailure(DeviceErrorKind::BadAnswer, "the answer is not an IGC text block");
            const std::uint8_t blockState = (*header)[1];
            const std::size_t announced = (*header)[2];
            auto body = deviceReadDataOfLength(announced);
            if (!body)
                return readFailure(DeviceErrorKind::Unplugged, "the line failed");

            if (blockState == igcReadStateFilename) {
                // The file name runs to the first NUL of the answer; the length byte is
                // not applied to it. Where no NUL came with the announced bytes, the
                // rest of the name follows at line speed, or nothing does.
                while (std::find(body->begin(), body->end(), 0) == body->end()
                    && body->size() < igcTextAnswerLength - igcTextHeaderLength) {
                    // A few bytes at a time: the read ends soon after the NUL, and
                    // padding behind it does not hold the transfer up.
                    constexpr std::size_t nameStep = 16;
                    auto more = deviceReadDataOfLength(
                        std::min(nameStep, igcTextAnswerLength - igcTextHeaderLength - body->size()),
                        std::chrono::milliseconds(igcTextPaddingSilenceMilliseconds));
                    if (!more)
                        return readFailure(DeviceErrorKind::Unplugged, "the line failed");
                    if (more->empty())
                        break;
                    // Only as far as the first NUL: what follows is padding.
                    const auto nul = std::find(more->begin(), more->end(), 0);
                    body->insert(body->end(), more->begin(), nul == more->end() ? nul : nul + 1);
                }
                const std::string raw = textField(*body);
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
                return deviceFailure(DeviceErrorKind::Refused, "the instrument answered IGC_READ_STATE_ERROR");
            }
            if (blockState >= igcReadStateEnd && recentFirmware)
                break;

            // The text ends at its length or at its first NUL. An answer cut short
            // before either lost bytes on the line: the file would miss part of a line,
            // so the transfer fails instead of saving it.
            const std::string text = textField(*body);
            if (body->size() < announced && text.size() == body->size())
                return readFailure(DeviceErrorKind::ShortAnswer, "the text broke off before its announced length");

            if (recentFirmware && blockState == igcReadStateComment && !commentInserted)
                appendComment();
            logLine(log(), "Reading data block, state is %02x", blockState);
            appendLines(igc, text);
            if (auto stop = reportTransferStep(connection, igc.size(), std::nullopt))
                return Failure { std::move(*stop) };
            if (!recentFirmware && blockState == igcReadStateComment && !commentInserted)
                appendComment();
            state = blockState;
            if (state >= igcReadStateEnd)
                break;
        }
        // The last answer's padding is not left for the next command to trip over: it
        // follows the text at once, so a short silence ends it.
        if (hasOpenLine())
            drainLine(std::chrono::milliseconds(igcTextPaddingSilenceMilliseconds));
        if (filename)
            *filename = proposedName ? std::optional(withoutExtension(safeFileName(*proposedName))) : std::nullopt;
        return igc;
    };

    // A transfer whose answer broke off, never came or began with something else is
    // asked for again from its start (the instrument restarts the file on state 0); a
    // refusal or a line that failed is not.
    for (int attempt = 0;; ++attempt) {
        auto igc = transferOnce();
        if (igc || endless || attempt >= transferRetries || !isWorthAnotherTry(igc.error()))
            return igc;
        logLine(log(), "downloadTextIgcFromTheDevice: %s (%s), asking for flight %u again from its start (%d of %d)",
            deviceErrorSummary(igc.error()).c_str(), igc.error().detail.c_str(), static_cast<unsigned>(flightNumber),
            attempt + 1, transferRetries);
        // What is left of the broken answer passes before the new request goes out.
        if (hasOpenLine())
            drainLine(std::chrono::milliseconds(transferRetryQuietMilliseconds));
    }
}

} // namespace corvex
