#include "device/CorvexDevice.h"

#include "device/Protocol.h"
#include "platform/AlertPresenter.h"
#include "platform/Discovery.h"
#include "platform/LogSink.h"
#include "platform/SerialLine.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>

namespace corvex {

namespace {
// What one call hands the line to fill; answers longer than this take several calls.
constexpr std::size_t readBlockLength = 4096;
}

CorvexDevice::CorvexDevice(CorvexDeviceDelegate* delegate, CorvexDeviceEnvironment environment, OperationContext context)
    : m_delegate(delegate)
    , m_environment(std::move(environment))
    , m_context(std::move(context))
{
}

CorvexDevice::~CorvexDevice() = default;

void CorvexDevice::registerForSerialDeviceNotifications()
{
    if (!m_environment.discovery)
        return;
    m_environment.discovery->start(
        [this](const std::string& path, std::uint32_t handle) { corvexDeviceMatchedAtBsdPath(path, handle); },
        [this](const std::string& path) { corvexDeviceTerminatedAtBsdPath(path); });
}

void CorvexDevice::corvexDeviceMatchedAtBsdPath(const std::optional<std::string>& bsdPath, std::uint32_t deviceIORegistryLeaf)
{
    if (!bsdPath)
        return;
    // A newly arrived instrument replaces the recorded one.
    if (auto recorded = deviceBsdPath())
        corvexDeviceTerminatedAtBsdPath(recorded);
    if (deviceBsdPath()) {
        logLine(log(), "Device has been matched, but there is another device currently connected");
        return;
    }
    logLine(log(), "Device has been matched");
    setDeviceBsdPath(*bsdPath);
    m_deviceIORegistryLeaf = deviceIORegistryLeaf;
    deviceHasBeenConnected();
}

void CorvexDevice::corvexDeviceTerminatedAtBsdPath(const std::optional<std::string>& bsdPath)
{
    if (!bsdPath)
        return;
    logLine(log(), "Device terminated");
    if (deviceBsdPath() != bsdPath)
        return;
    setDeviceBsdPath(std::nullopt);
    m_deviceIORegistryLeaf = 0;
    deviceHasBeenDisconnected();
}

namespace {
// Waiting does not mend these: nobody grants a permission or brings a removed device
// back within the attempts. A device held by another open may be let go (udev or a
// modem prober looks at a new tty for a moment), so that one is tried again.
bool worthRetrying(int systemError)
{
    switch (systemError) {
    case EACCES:
    case EPERM:
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return false;
    default:
        return true;
    }
}
} // namespace

std::optional<DeviceError> CorvexDevice::reportTransferStep(
    std::uint64_t connection, std::size_t bytesReceived, std::optional<double> fraction)
{
    context().progress(fraction,
        bytesReceived == 0 ? std::string() : formatString("%lu KB received", static_cast<unsigned long>((bytesReceived + 512) / 1024)));
    if (connection != m_connection || !hasOpenLine())
        return DeviceError::of(DeviceErrorKind::Unplugged, "the instrument went away during the transfer");
    if (context().isCancelled()) {
        logLine(log(), "The transfer was cancelled");
        return DeviceError::of(DeviceErrorKind::Cancelled, "the transfer was cancelled");
    }
    return std::nullopt;
}

void CorvexDevice::deviceHasBeenConnected()
{
    ++m_connection;
    m_deviceFile.reset();
    m_lastOpenError.reset();
    auto path = deviceBsdPath();
    if (!path)
        return;
    DeviceError failure = DeviceError::of(DeviceErrorKind::PortUnavailable);
    for (int attempt = 1; attempt <= protocol::openAttempts && m_environment.ports; ++attempt) {
        auto opened = m_environment.ports->open(*path);
        if (opened) {
            m_deviceFile = std::move(*opened);
            break;
        }
        failure.detail = opened.error().detail;
        failure.systemError = opened.error().systemError;
        failure.holder = opened.error().holder;
        const std::string heldBy = failure.holder.empty() ? std::string() : ", held by " + failure.holder;
        logLine(log(), "Cannot open the device (attempt %d): %s%s", attempt, failure.detail.c_str(), heldBy.c_str());
        if (attempt == protocol::openAttempts || !worthRetrying(failure.systemError))
            break;
        m_context.sleepFor(std::chrono::milliseconds(protocol::openRetryDelayMilliseconds));
    }
    if (m_deviceFile) {
        if (m_delegate)
            m_delegate->deviceConnected();
        return;
    }
    m_lastOpenError = failure;
    if (m_delegate)
        m_delegate->deviceCouldNotBeOpened(failure);
    if (m_environment.alerts) {
        std::string text = describeDeviceError(failure);
        if (!text.empty())
            text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
        m_environment.alerts->showAlert(Alert { "Error opening the device", text, { "Close" } });
    }
}

void CorvexDevice::deviceHasBeenDisconnected()
{
    ++m_connection;
    m_deviceFile.reset();
    m_lastOpenError.reset();
    if (m_delegate)
        m_delegate->deviceDisconnected();
}

bool CorvexDevice::initializeDevice()
{
    if (!m_deviceFile) {
        logLine(log(), "deviceFile is nil");
        return false;
    }
    logLine(log(), "Initializing device");
    TerminalSetupReport report = m_deviceFile->configureRaw115200();
    if (!report.validDescriptor)
        return false;
    if (report.getAttributesFailed)
        logLine(log(), "tcgetattr() error");
    if (report.setAttributesFailed)
        logLine(log(), "tcsetattr() error");
    if (report.flushFailed)
        logLine(log(), "tcflush() error");

    // Drain whatever the instrument had queued: read until the line is silent for 0.1 s.
    logLine(log(), "DrainingBuffers: %s", describeBytes(drainLine(std::nullopt)).c_str());
    return true;
}

Bytes CorvexDevice::drainLine(std::optional<std::chrono::milliseconds> silence)
{
    Bytes drained;
    std::array<std::uint8_t, readBlockLength> block;
    // A line that never stops talking is not drained forever: what is left fails the
    // next answer's checks, as it would have without this.
    while (drained.size() < maximumDrainedBytes) {
        auto result = silence ? m_deviceFile->readSomeWithin(block, *silence) : m_deviceFile->readSome(block);
        const auto* count = std::get_if<std::size_t>(&result);
        if (!count || *count == 0)
            break;
        drained.insert(drained.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(*count));
    }
    return drained;
}

// An answer that came after its read gave up, or the padding of one, is still queued
// when the next request goes out; read as the start of the next answer it would fail
// that command and every one after it. Whatever is queued before a request is stale.
void CorvexDevice::discardLateBytes()
{
    Bytes late = drainLine(std::chrono::milliseconds(0));
    if (!late.empty())
        logLine(log(), "Discarded %lu late bytes before the next request: %s", static_cast<unsigned long>(late.size()),
            describeBytes(late).c_str());
}

bool CorvexDevice::deviceWriteData(ByteView frame)
{
    if (m_shouldLogCommunications)
        logLine(log(), "deviceWriteData: %s", describeBytes(frame).c_str());
    if (!m_deviceFile)
        return true;
    discardLateBytes();
    auto result = m_deviceFile->writeAll(frame);
    if (auto* error = std::get_if<LineError>(&result)) {
        logLine(log(), "deviceWriteData: exception %s, call stack: %s", error->message.c_str(), currentCallStack().c_str());
        return false;
    }
    return true;
}

std::optional<Bytes> CorvexDevice::deviceReadDataOfLength(std::uint64_t length)
{
    return readData(length, std::nullopt);
}

std::optional<Bytes> CorvexDevice::deviceReadDataOfLength(std::uint64_t length, std::chrono::milliseconds silence)
{
    return readData(length, silence);
}

std::optional<Bytes> CorvexDevice::readData(std::uint64_t length, std::optional<std::chrono::milliseconds> silence)
{
    // Without an open line the read gives what arrived: nothing.
    if (!m_deviceFile && length > 0) {
        if (m_shouldLogCommunications)
            logLine(log(), "deviceReadDataOfLength %lu: %s", static_cast<unsigned long>(length), describeBytes(Bytes {}).c_str());
        return Bytes {};
    }
    auto answer = readAnswer(length, silence);
    if (!answer)
        return std::nullopt;
    return std::move(*answer);
}

DeviceError CorvexDevice::lineFailure(const char* operation, const std::string& message) const
{
    // A serial line that fails a read or a write is, on a USB instrument, a line whose
    // other end has gone.
    return DeviceError::of(DeviceErrorKind::Unplugged, std::string(operation) + ": " + message);
}

DeviceResult<Bytes> CorvexDevice::readAnswer(std::uint64_t length, std::optional<std::chrono::milliseconds> silence)
{
    if (length == 0) {
        if (m_shouldLogCommunications)
            logLine(log(), "deviceReadDataOfLength 0 bytes requested, returning empty NSData");
        return Bytes {};
    }
    if (!m_deviceFile)
        return deviceFailure(DeviceErrorKind::Unplugged, "no open serial line");
    // The buffer grows with what arrives, never to the length asked for: a length
    // taken from a damaged answer must not turn into an allocation of gigabytes.
    Bytes received;
    std::array<std::uint8_t, readBlockLength> block;
    while (received.size() < length) {
        const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), length - received.size()));
        const auto space = std::span(block).first(wanted);
        auto result = silence ? m_deviceFile->readSomeWithin(space, *silence) : m_deviceFile->readSome(space);
        if (auto* error = std::get_if<LineError>(&result)) {
            logLine(log(), "deviceReadDataOfLength: exception %s, call stack: %s", error->message.c_str(),
                currentCallStack().c_str());
            return Failure { lineFailure("read", error->message) };
        }
        std::size_t count = std::get<std::size_t>(result);
        if (count == 0)
            break;
        received.insert(received.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(count));
    }
    if (m_shouldLogCommunications)
        logLine(log(), "deviceReadDataOfLength %lu: %s", static_cast<unsigned long>(length), describeBytes(received).c_str());
    return received;
}

std::optional<Bytes> CorvexDevice::exchange(ByteView request, std::size_t answerLength)
{
    if (!deviceWriteData(request))
        return std::nullopt;
    return deviceReadDataOfLength(answerLength);
}

DeviceResult<Bytes> CorvexDevice::request(ByteView frame, std::size_t answerLength)
{
    if (!m_deviceFile) {
        logLine(log(), "deviceFile is nil");
        return deviceFailure(DeviceErrorKind::Unplugged, "no open serial line");
    }
    if (!deviceWriteData(frame))
        return deviceFailure(DeviceErrorKind::Unplugged, "the request could not be written");
    return readAnswer(answerLength, std::nullopt);
}

bool CorvexDevice::deviceIsConnected() const
{
    return deviceBsdPath().has_value();
}

void CorvexDevice::resetDeviceConnection()
{
    if (m_environment.usbReset)
        m_environment.usbReset->resetInstrument();
}

std::optional<std::string> CorvexDevice::deviceBsdPath() const
{
    std::lock_guard lock(m_bsdPathMutex);
    return m_deviceBsdPath;
}

void CorvexDevice::setDeviceBsdPath(std::optional<std::string> path)
{
    std::lock_guard lock(m_bsdPathMutex);
    m_deviceBsdPath = std::move(path);
}

} // namespace corvex
