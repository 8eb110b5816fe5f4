#pragma once

#include "device/AirspacesTransfer.h"
#include "base/Bytes.h"
#include "device/DeviceError.h"
#include "device/FirmwareVersion.h"
#include "device/FlightRecord.h"
#include "device/LogBookCodec.h"
#include "device/LocationSample.h"
#include "device/PilotData.h"
#include "device/TrackLogCodec.h"
#include "platform/OperationContext.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvex {

class AlertPresenter;
class LogSink;
class SerialDeviceDiscovery;
class SerialLine;
class SerialPortOpener;
class UsbResetter;

class CorvexDeviceDelegate {
public:
    virtual ~CorvexDeviceDelegate() = default;
    // The serial line of a newly arrived instrument is open.
    virtual void deviceConnected() = 0;
    // The recorded instrument has gone; its line is closed.
    virtual void deviceDisconnected() = 0;
    // An instrument arrived but its line could not be opened (kind PortUnavailable);
    // it stays recorded until it goes.
    virtual void deviceCouldNotBeOpened(const DeviceError&) { }
};

// What the device needs of the platform besides its operation context. The owner
// keeps every object alive for as long as the device lives; discovery and the USB reset
// may be absent.
struct CorvexDeviceEnvironment {
    SerialPortOpener* ports { nullptr };
    AlertPresenter* alerts { nullptr };
    SerialDeviceDiscovery* discovery { nullptr };
    UsbResetter* usbReset { nullptr };
    // The program's short version string, written into the instrument-made IGC text.
    std::string applicationVersion;
};

// The link to the one instrument the program serves. Every exchange is synchronous on
// the caller's (main) thread: write a request, read until the answer is complete or
// the line has been silent for 0.1 s, decode.
//
// The command families live in their own files: the link and discovery here and in
// CorvexDevice.cpp, device info and the flight list in CorvexDeviceLogBook.cpp, track
// logs in CorvexDeviceTrackLog.cpp, the instrument-made IGC text in
// CorvexDeviceIgcText.cpp, pilot data in CorvexDevicePilotData.cpp, firmware lines in
// CorvexDeviceFirmware.cpp.
//
// The device's own context (log, clock, sleeps) serves the link: the pause between
// two attempts to open the line sleeps plainly there, since a turn of the event loop
// could deliver the next arrival into the middle of this one. An operation lends its
// context for its length (OperationScope): the transfers then report their progress
// there, end as Cancelled when it is cancelled, and the airspaces erase waits with its
// sleeps, which in a window turn the event loop.
class CorvexDevice {
public:
    CorvexDevice(CorvexDeviceDelegate* delegate, CorvexDeviceEnvironment environment, OperationContext context);
    ~CorvexDevice();
    CorvexDevice(const CorvexDevice&) = delete;
    CorvexDevice& operator=(const CorvexDevice&) = delete;

    // --- Serial link and discovery ---

    void registerForSerialDeviceNotifications();
    void corvexDeviceMatchedAtBsdPath(const std::optional<std::string>& bsdPath, std::uint32_t deviceIORegistryLeaf);
    void corvexDeviceTerminatedAtBsdPath(const std::optional<std::string>& bsdPath);
    void deviceHasBeenConnected();
    void deviceHasBeenDisconnected();
    bool initializeDevice();
    bool deviceWriteData(ByteView frame);
    std::optional<Bytes> deviceReadDataOfLength(std::uint64_t length);
    // The same read, ended by a shorter silence than the line's 0.1 s.
    std::optional<Bytes> deviceReadDataOfLength(std::uint64_t length, std::chrono::milliseconds silence);
    bool deviceIsConnected() const;
    void resetDeviceConnection();

    std::optional<std::string> deviceBsdPath() const;
    void setDeviceBsdPath(std::optional<std::string> path);
    bool hasOpenLine() const { return m_deviceFile != nullptr; }
    // Why the recorded instrument's line could not be opened; nothing once it is open
    // or gone.
    const std::optional<DeviceError>& lastOpenError() const { return m_lastOpenError; }
    std::uint32_t deviceIORegistryLeaf() const { return m_deviceIORegistryLeaf; }

    // --- Device info and flight list ---

    DeviceResult<DeviceInfo> getDeviceInfo();
    // The bitfield, or why it could not be read. A list built with units taken from
    // a failed read would show wrong temperatures and date orders, so the lists fail
    // with it.
    DeviceResult<std::uint8_t> readMeasurementUnitsBitfield();
    // The same, 0 on failure, for callers that only log it.
    std::uint8_t downloadMeasurementUnitsBitfield();
    // An empty list only when the instrument said it holds no flights: a silent, cut
    // or damaged answer is a failure, so that nothing taken for an empty log book
    // replaces or erases what is real.
    DeviceResult<std::vector<FlightRecord>> listFlightsFull();
    DeviceResult<std::vector<FlightRecord>> listFlightsShort();
    // Succeeds only when the instrument acknowledged the erase.
    DeviceResult<void> eraseAllLogs();
    bool isCurrentFwVersionEqualTo(std::string_view version) const;
    bool isCurrentFwVersionGreaterThan(std::string_view version) const;

    // --- Track logs ---

    // The samples of one flight in record order, or why there are none. The H and G
    // record buffers are written only when the flight carries such records. Sectors
    // that broke off are asked for again (protocol::transferRetries times).
    DeviceResult<std::vector<LocationSample>> downloadLocationSamplesForFlightNumber(
        std::int64_t flightNumber, HRecord* hRecord, GRecord* gRecord);
    // The second format; also suggests a file name when asked for one.
    DeviceResult<std::vector<LocationSample>> downloadLocationSamplesV2ForFlightNumber(
        std::int64_t flightNumber, HRecord* hRecord, GRecord* gRecord, std::string* suggestedFilename);

    // --- Instrument-made IGC text ---

    // The IGC text the firmware writes, with CR LF lines and our two comment lines, or
    // why there is none; a transfer that broke off is asked for again from its start.
    // The file name receives the name the instrument proposes, without its extension,
    // or nothing when it proposed none.
    DeviceResult<std::string> downloadTextIgcFromTheDevice(std::uint16_t flightNumber, std::optional<std::string>* filename);

    // --- Pilot data ---

    // The instrument's record; all zero on any failure (as for no pilot data).
    PilotData downloadPilotData();
    // The same read, telling the two apart: nothing on a failure, an all-zero record
    // when the instrument holds no pilot data. What is about to be edited and written
    // back must come from here: an edit of the zero record a failed read gives would
    // overwrite the instrument's real pilot data with empty fields.
    DeviceResult<PilotData> readPilotData();
    // Succeeds when every chunk was accepted.
    DeviceResult<void> uploadPilotData(const PilotData& record);

    // --- Airspaces transfer ---

    // One chunk of the instrument's set (possibly empty), or why it did not come. The flag,
    // when given, is set while the instrument says more data follows and cleared with
    // the last chunk; statuses other than 1 and 2 leave it as it was.
    DeviceResult<Bytes> readAirspacesChunkFromBeginning(
        AirspacesReadPosition position, AirspacesReadScope scope, bool* isMoreDataAvailableOutFlag = nullptr);
    // Every chunk of the set (or of its header alone), joined; a failure when a chunk
    // fails or the instrument never reports the last chunk.
    DeviceResult<Bytes> readWholeAirspacesSet(AirspacesReadScope scope);
    // Sends one chunk of at most 121 bytes, zero-padded to 121.
    DeviceResult<void> writeAirspacesChunk(ByteView chunk, AirspacesWritePosition position);
    DeviceResult<void> concludeWritingAirspacesData();
    // Erases the set. The instrument answers only after about 21 s; meanwhile the
    // progress (0 up to 209/210) is reported and the event loop turned.
    DeviceResult<void> eraseAirspacesDataWithFakeProgressBlock(const std::function<void(float)>& progress = {});

    // --- Firmware lines ---

    // The frame of one firmware line: the model's command, the low 16 bits of the
    // number big-endian, the text's bytes, NUL.
    static Bytes firmwareLineFrame(const VarioModel& model, std::uint64_t number, std::string_view text);
    // Nothing when the instrument accepted the line. Refused (with its nonzero verdict)
    // only when it answered no; NoAnswer or ShortAnswer when its 4-byte answer did not
    // arrive whole; Unplugged when no line is open, the line failed, or the instrument
    // is gone once the answer fell short.
    DeviceResult<void> uploadFirmwareLine(std::string_view line, std::uint64_t number);
    // Sends the reboot line as it is given; no answer is read.
    void rebootDeviceAfterFirmwareUpdate(std::string_view rebootLine, std::uint64_t number);
    // Sends the line with its second character turned into "E"; false when the line is
    // too short, not ASCII, or no line is open.
    bool eraseFirmwareLine(std::string_view line, std::uint64_t number);

    FirmwareVersion firmwareVersion() const { return m_firmwareVersion; }
    std::uint16_t currentFirmwareVersion() const { return m_firmwareVersion.thousandths(); }
    void setCurrentFirmwareVersion(std::uint16_t version) { m_firmwareVersion = FirmwareVersion(version); }
    // Taken from the version when the device info is read, and settable on its own.
    bool firmwareSupportsAutomaticTextIgcGeneration() const { return m_firmwareSupportsAutomaticTextIgcGeneration; }
    void setFirmwareSupportsAutomaticTextIgcGeneration(bool supports) { m_firmwareSupportsAutomaticTextIgcGeneration = supports; }
    // The connected model's row, by the firmware version the device info gave.
    const VarioModel& model() const { return m_firmwareVersion.model(); }
    bool isWren() const { return m_firmwareVersion.isWren(); }
    bool shouldLogCommunications() const { return m_shouldLogCommunications; }
    void setShouldLogCommunications(bool log) { m_shouldLogCommunications = log; }

    // The context of the operation under way, else the device's own.
    const OperationContext& context() const { return m_operation ? *m_operation : m_context; }
    LogSink& log() const { return context().log(); }

    // Lends an operation's context to the device while the scope lives. Scopes nest
    // (the flights of an export each lend their part); the context must outlive the
    // scope.
    class OperationScope {
    public:
        OperationScope(CorvexDevice& device, const OperationContext& context)
            : m_device(device)
            , m_previous(std::exchange(device.m_operation, &context))
        {
        }
        ~OperationScope() { m_device.m_operation = m_previous; }
        OperationScope(const OperationScope&) = delete;
        OperationScope& operator=(const OperationScope&) = delete;

    private:
        CorvexDevice& m_device;
        const OperationContext* m_previous;
    };

private:
    // Writes the request and reads up to answerLength bytes; nothing when the write
    // failed or the read raised an error.
    std::optional<Bytes> exchange(ByteView request, std::size_t answerLength);
    // The same, telling why: no open line or a line that failed is Unplugged. An empty
    // answer is a value; what it means is the command's to say.
    DeviceResult<Bytes> request(ByteView request, std::size_t answerLength);
    DeviceResult<Bytes> readAnswer(std::uint64_t length, std::optional<std::chrono::milliseconds> silence);
    DeviceError lineFailure(const char* operation, const std::string& message) const;
    void discardLateBytes();
    // Reads what the line holds until a read waiting the given silence (the line's own
    // 0.1 s when none is given) brings nothing, and at most maximumDrainedBytes.
    Bytes drainLine(std::optional<std::chrono::milliseconds> silence);
    static constexpr std::size_t maximumDrainedBytes = 64 * 1024;
    // Both reads: until length bytes arrived or the line was silent for the given time
    // (the line's own 0.1 s when none is given).
    std::optional<Bytes> readData(std::uint64_t length, std::optional<std::chrono::milliseconds> silence);
    DeviceResult<std::uint8_t> beginFlightList();
    DeviceResult<std::vector<FlightRecord>> listFlights(bool full);
    // Reads every sector of a flight's track log and joins them.
    DeviceResult<Bytes> downloadFlightData(TrackLogFormat format, std::int64_t flightNumber);

    // Reports a step of a flight's transfer (each track-log sector, each IGC text
    // block) with the bytes received so far and, where the instrument says how many
    // steps there are, the share done; a window repaints there. Says why the transfer
    // must end: the instrument may have gone (or come back as another line) meanwhile,
    // and the transfer must not read a line that is not its own; or the user cancelled.
    std::optional<DeviceError> reportTransferStep(
        std::uint64_t connection, std::size_t bytesReceived, std::optional<double> fraction);

    CorvexDeviceDelegate* m_delegate;
    // Counts the lines opened and closed, so that a transfer can tell that the line
    // it reads is still the one it started on.
    std::uint64_t m_connection { 0 };
    CorvexDeviceEnvironment m_environment;
    OperationContext m_context;
    const OperationContext* m_operation { nullptr };

    mutable std::mutex m_bsdPathMutex; // the one property with atomic access
    std::optional<std::string> m_deviceBsdPath;
    std::unique_ptr<SerialLine> m_deviceFile;
    std::optional<DeviceError> m_lastOpenError;
    std::uint32_t m_deviceIORegistryLeaf { 0 };

    FirmwareVersion m_firmwareVersion;
    bool m_firmwareSupportsAutomaticTextIgcGeneration { false };
    bool m_shouldLogCommunications { false };
};

} // namespace corvex
