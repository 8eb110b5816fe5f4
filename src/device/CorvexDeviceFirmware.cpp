// Firmware lines: one S-record per frame, under the model's command byte.
#include "device/CorvexDevice.h"

#include "base/Format.h"
#include "device/Protocol.h"
#include "platform/LogSink.h"

#include <algorithm>

namespace corvex {

using namespace protocol;

namespace {

bool isAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

} // namespace

Bytes CorvexDevice::firmwareLineFrame(const VarioModel& model, std::uint64_t number, std::string_view text)
{
    Bytes frame;
    frame.reserve(text.size() + firmwareLineFrameOverhead);
    frame.push_back(byte(model.firmwareLineCommand));
    // The instrument counts lines in 16 bits; a longer file wraps round.
    frame.push_back(static_cast<std::uint8_t>((number >> 8) & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(number & 0xFF));
    frame.insert(frame.end(), text.begin(), text.end());
    frame.push_back(0x00);
    return frame;
}

DeviceResult<void> CorvexDevice::uploadFirmwareLine(std::string_view line, std::uint64_t number)
{
    if (!hasOpenLine()) {
        logLine(log(), "deviceFile is nil");
        return deviceFailure(DeviceErrorKind::Unplugged, "no instrument is connected");
    }
    const std::string text(line);
    logLine(log(), "Uploading firmware line %s line number %llu", text.c_str(), static_cast<unsigned long long>(number));
    const Bytes frame = firmwareLineFrame(model(), number, line);
    // A line that fails to carry a frame either way has hung up: the cable is out.
    if (!deviceWriteData(frame))
        return deviceFailure(DeviceErrorKind::Unplugged, "the firmware line could not be written");
    auto answer = deviceReadDataOfLength(firmwareLineAnswerLength);
    if (!answer)
        return deviceFailure(DeviceErrorKind::Unplugged, "the answer to a firmware line could not be read");
    logLine(log(), "firmwareUpdateLineResponse: %s", describeBytes(*answer).c_str());
    // Only the verdict byte means anything to us; a short answer is as good as none.
    if (answer->size() < firmwareLineAnswerLength) {
        if (!deviceIsConnected())
            return deviceFailure(DeviceErrorKind::Unplugged, "the instrument went away during a firmware line");
        return deviceFailure(answer->empty() ? DeviceErrorKind::NoAnswer : DeviceErrorKind::ShortAnswer,
            formatString("%lu of the %lu bytes of a firmware line's answer", static_cast<unsigned long>(answer->size()),
                static_cast<unsigned long>(firmwareLineAnswerLength)));
    }
    const int verdict = (*answer)[firmwareLineVerdictOffset];
    if (verdict != 0) {
        auto refusal = deviceFailure(DeviceErrorKind::Refused, formatString("firmware line verdict %d", verdict));
        refusal.error.verdict = verdict;
        return refusal;
    }
    return {};
}

void CorvexDevice::rebootDeviceAfterFirmwareUpdate(std::string_view rebootLine, std::uint64_t number)
{
    if (!hasOpenLine()) {
        logLine(log(), "deviceFile is nil");
        return;
    }
    // The instrument restarts without answering; the write's outcome changes nothing.
    deviceWriteData(firmwareLineFrame(model(), number, rebootLine));
}

bool CorvexDevice::eraseFirmwareLine(std::string_view line, std::uint64_t number)
{
    if (!hasOpenLine()) {
        logLine(log(), "deviceFile is nil");
        return false;
    }
    if (line.size() < 2 || !isAscii(line))
        return false;
    std::string text(line);
    text[1] = 'E';
    deviceWriteData(firmwareLineFrame(model(), number, text));
    return true;
}

} // namespace corvex
