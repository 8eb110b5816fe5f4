#pragma once

#include "FlightLibrary.h"
#include "LogBookFrames.h"
#include "StateStore.h"
#include "TrackLogFrames.h"
#include "base/Bytes.h"
#include "device/VarioModel.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvex::virtualinstrument {

struct InstrumentConfig {
    // The model it is (its recorder type and hardware version); the program tells the
    // model by the firmware version alone.
    InstrumentGeneration model { InstrumentGeneration::Wren };
    Identity identity { 0x00C0FFEE, 2405, 40, 0x08 };
    // A pilot-data record to start with when the state folder holds none (513 bytes).
    std::optional<Bytes> initialPilotData;
    // An airspaces set to start with when the state folder holds none.
    std::optional<Bytes> initialAirspaces;
    // Serve the 8- and 49-byte empty records and an erased record among the log book's
    // records, as real instruments sometimes do.
    bool emptyRecords { false };
    // The length instrument-made IGC text answers are NUL-padded to: 300 (the frame the
    // program asks for), another length (some instruments pad to 3 + 255), or 0 for just
    // the header and the text, as other instruments send them.
    std::size_t igcTextPaddedLength { 300 };
};

// Injected faults; each applies to every answer until cleared.
struct Faults {
    bool silent { false }; // answer nothing
    std::optional<std::size_t> shortLength; // send only the first N bytes of each answer
    bool wrongFirstByte { false }; // first byte of each answer XOR 0xFF
    bool igcError { false }; // IGC text blocks in state 0xFF
    bool pilotError { false }; // pilot-data answers with PILOT_DATA_STATUS_ERROR
    bool pilotNoData { false }; // pilot-data reads answer PILOT_DATA_STATUS_NO_DATA
    bool airspacesError { false }; // airspaces answers with AIRSPACES_STATUS_ERROR
    bool airspacesShortPayload { false }; // airspaces reads send one byte less than announced
    std::optional<std::uint8_t> airspacesStatus; // airspaces answers carry this status
    bool firmwareRejectAll { false }; // every firmware line is rejected
    std::optional<std::uint16_t> firmwareRejectLine; // this firmware line is rejected

    bool any() const
    {
        return silent || shortLength || wrongFirstByte || igcError || pilotError || pilotNoData || airspacesError
            || airspacesShortPayload || airspacesStatus || firmwareRejectAll || firmwareRejectLine;
    }
};

// The instrument's answers as a pure function of the bytes it receives and its state:
// bytes in, the writes of each answer out. No line, no clock, no process; the pty and
// the control socket live in the program around it.
class InstrumentModel {
public:
    InstrumentModel(InstrumentConfig config, std::vector<Flight> flights, StateStore store = StateStore());

    // Makes every flight's track-log data and IGC text ahead of the first request. A
    // real instrument answers within the line's 0.1 s; built on demand, the largest
    // flight's text would take longer than that on a slow or busy machine.
    void prepareTransfers();

    // Takes the bytes that arrived and returns the writes of every answer the completed
    // requests call for, in order (an answer made of a header and a payload is two
    // writes). Incomplete requests wait for more bytes; bytes that start no known request
    // are dropped one by one.
    std::vector<Bytes> receive(ByteView bytes);

    bool hasPartialRequest() const { return !m_pending.empty(); }
    // A request that stopped halfway is dropped (the line went quiet in the middle).
    void discardPartialRequest() { m_pending.clear(); }

    // A new connection (plugged in again): every transfer in progress is forgotten.
    void resetSession();

    // Set when the instrument got the reboot line of a complete firmware installation:
    // the program around the model then unplugs, pauses and plugs in again. Taking it
    // clears it.
    bool takeRebootRequest();
    std::uint16_t firmwareVersion() const { return m_config.identity.firmwareVersion; }

    // The stored airspaces set, if any.
    std::optional<Bytes> airspaces() const;

    // The stored pilot-data record, if any.
    std::optional<Bytes> pilotData() const;

    // "silent", "short N", "wrong-first-byte", "igc-error", "pilot-error",
    // "pilot-no-data", "airspaces-error", "airspaces-short-payload",
    // "airspaces-status N", "firmware-reject [N]", "none". Returns an error text, or nothing when applied.
    std::optional<std::string> applyFaultCommand(std::string_view arguments);
    const Faults& faults() const { return m_faults; }

    const InstrumentConfig& config() const { return m_config; }
    // The flights still in the log book (none after an erase).
    const std::vector<Flight>& flights() const;
    const StateStore& store() const { return m_store; }

    // The length of the request starting with these bytes, once enough of it is there
    // to tell (it may be longer than what arrived); nothing while the bytes that tell
    // are missing, 0 when the first byte starts no known request.
    static std::optional<std::size_t> requestLength(ByteView pending);

private:
    std::vector<Bytes> answer(ByteView request);
    std::vector<Bytes> answerLogBook(ByteView request);
    std::vector<Bytes> nextListTracksRecord(bool fullList);
    std::vector<Bytes> erase();
    std::vector<Bytes> nextSector(TrackLogFormat format, std::uint16_t flightNumber);
    std::vector<Bytes> nextIgcTextBlock(std::uint16_t flightNumber, std::uint8_t state);
    // The answer as sent: its header and text, padded to the configured length.
    Bytes padded(Bytes igcTextAnswer) const;
    std::vector<Bytes> answerPilotData(ByteView request);
    std::vector<Bytes> answerAirspaces(ByteView request);
    Bytes airspacesAnswer(std::uint8_t status, std::uint32_t length = 0) const;
    std::vector<Bytes> answerFirmwareLine(ByteView request);
    const Flight* flight(std::uint16_t flightNumber) const;
    RecorderInfo recorderInfo() const;
    std::vector<Bytes> applyFaults(std::vector<Bytes> writes) const;

    // The records of one pass over the log book, as the instrument sends them.
    std::vector<Bytes> listTracksSequence(bool fullList) const;

    InstrumentConfig m_config;
    std::vector<Flight> m_flights;
    StateStore m_store;
    Faults m_faults;
    Bytes m_pending;
    bool m_erased { false };

    // The log-book pass in progress: which list and how far it got.
    struct ListCursor {
        bool fullList { false };
        std::size_t next { 0 };
        bool active { false };
    } m_listCursor;

    // The track-log download in progress: one flight, one format, the next sector.
    struct SectorCursor {
        TrackLogFormat format { TrackLogFormat::First };
        std::uint16_t flightNumber { 0 };
        Bytes flightData;
        std::size_t next { 0 };
        bool active { false };
    } m_sectorCursor;

    // The IGC text transfer in progress.
    struct IgcTextCursor {
        std::uint16_t flightNumber { 0 };
        std::vector<IgcTextBlock> blocks;
        std::size_t next { 0 };
        bool active { false };
    } m_igcCursor;

    // What prepareTransfers() made, for the firmware version it was made for.
    const Bytes& flightData(const Flight& flight, TrackLogFormat format);
    const std::vector<IgcTextBlock>& igcBlocks(const Flight& flight);
    void forgetPreparedTransfersIfStale();
    std::uint16_t m_preparedFor { 0 };
    std::map<std::pair<TrackLogFormat, std::uint16_t>, Bytes> m_preparedFlightData;
    std::map<std::uint16_t, std::vector<IgcTextBlock>> m_preparedIgcBlocks;

    // The pilot-data record being written, chunk by chunk.
    Bytes m_pilotUpload;

    // The airspaces read in progress (its position in the set) and the set being
    // written, kept apart from the stored set until the write is concluded.
    struct AirspacesRead {
        bool metadataOnly { false };
        std::size_t position { 0 };
        bool active { false };
        std::optional<Bytes> set; // read from the state folder once, when the read begins
    } m_airspacesRead;
    std::optional<Bytes> m_airspacesUpload;

    // The firmware installation in progress: the next line number expected, the
    // version named by the S0 header record, whether a termination record arrived.
    struct FirmwareInstall {
        std::size_t nextLine { 0 };
        std::optional<std::uint16_t> version;
        bool complete { false };
        bool active { false };
    } m_firmwareInstall;
    bool m_rebootRequested { false };
};

} // namespace corvex::virtualinstrument
