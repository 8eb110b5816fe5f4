#include "InstrumentModel.h"

#include "ByteWriter.h"
#include "device/FirmwareVersion.h"
#include "device/Protocol.h"

#include <charconv>

namespace corvex::virtualinstrument {

using namespace corvex::protocol;

namespace {

const std::string erasedItem = "logbook-erased";
const std::string pilotDataItem = "pilot-data";
const std::string airspacesItem = "airspaces";

// Airspaces (0x0F): 7-byte requests, writes followed by a 121-byte payload, 6-byte
// answers with the status at byte 1.
constexpr std::size_t airspacesRequestSize = 7;
constexpr std::size_t airspacesChunkPayload = 121;
constexpr std::size_t airspacesHeaderSize = 2300; // what a metadata-only read returns
constexpr std::size_t airspacesReadChunk = 256;
const std::string firmwareVersionItem = "firmware-version";
// A firmware line frame ends with a NUL; S-records are far shorter than this.
constexpr std::size_t firmwareFrameLimit = 1024;
enum FirmwareVerdict : std::uint8_t {
    FirmwareLineAccepted = 0,
    FirmwareLineRejected = 1, // the fault, or a frame for the other generation
    FirmwareLineDamaged = 2, // not an S-record, or its checksum is wrong
    FirmwareLineOutOfOrder = 3,
};

// The data bytes of a sound S-record: "S", a type digit, the byte count, address and
// data, and a checksum making all the counted bytes sum to 0xFF.
std::optional<Bytes> sRecordBytes(std::string_view line)
{
    if (line.size() < 4 || line[0] != 'S' || line[1] < '0' || line[1] > '9')
        return std::nullopt;
    auto bytes = bytesFromHexadecimal(line.substr(2));
    if (!bytes || bytes->front() < 1 || bytes->size() != 1 + std::size_t { bytes->front() })
        return std::nullopt;
    int sum = 0;
    for (const std::uint8_t byte : *bytes)
        sum += byte;
    if ((sum & 0xFF) != 0xFF)
        return std::nullopt;
    bytes->pop_back(); // the checksum
    bytes->erase(bytes->begin()); // the count
    return bytes;
}

// A version "d.ddd" named in the S0 header record's text, in thousandths.
std::optional<std::uint16_t> versionInHeader(const Bytes& recordBytes)
{
    // Two address bytes, then the header text.
    std::string text(recordBytes.begin() + std::min<std::ptrdiff_t>(2, static_cast<std::ptrdiff_t>(recordBytes.size())), recordBytes.end());
    for (std::size_t i = 0; i + 5 <= text.size(); ++i) {
        auto isDigit = [&](std::size_t k) { return text[k] >= '0' && text[k] <= '9'; };
        if (isDigit(i) && text[i + 1] == '.' && isDigit(i + 2) && isDigit(i + 3) && isDigit(i + 4)
            && (i == 0 || !isDigit(i - 1)) && (i + 5 == text.size() || !isDigit(i + 5)))
            return static_cast<std::uint16_t>((text[i] - '0') * 1000 + (text[i + 2] - '0') * 100 + (text[i + 3] - '0') * 10 + (text[i + 4] - '0'));
    }
    return std::nullopt;
}

enum AirspacesOperation : std::uint8_t {
    AirspacesReadFromBeginning = 0,
    AirspacesReadNext = 1,
    AirspacesWriteFirst = 2,
    AirspacesWriteNext = 3,
    AirspacesConclude = 4,
    AirspacesErase = 5,
};
enum AirspacesStatus : std::uint8_t {
    AIRSPACES_STATUS_ERROR = 0,
    AIRSPACES_STATUS_OK = 1,
    AIRSPACES_STATUS_MORE_DATA = 2,
};

constexpr std::size_t pilotDataSize = 513;
constexpr std::size_t pilotDataHeaderSize = 12;
constexpr std::size_t pilotDataResponseSize = 11;
// The largest chunk a write request may carry; anything longer is line noise.
constexpr std::size_t pilotDataChunkLimit = 1024;
// The instrument hands the record out in two chunks: 300 bytes, then the rest.
constexpr std::size_t pilotDataReadChunk = 300;

enum PilotDataStatus : std::uint16_t {
    PILOT_DATA_STATUS_ERROR = 0,
    PILOT_DATA_STATUS_OK = 1,
    PILOT_DATA_STATUS_MORE_DATA = 2,
    PILOT_DATA_STATUS_END_OF_DATA = 3,
    PILOT_DATA_STATUS_NO_DATA = 4,
};

constexpr std::uint8_t IGC_READ_STATE_ERROR = 0xFF;

std::uint32_t u32le(ByteView bytes, std::size_t at)
{
    return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8
        | static_cast<std::uint32_t>(bytes[at + 2]) << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

std::uint16_t u16le(ByteView bytes, std::size_t at)
{
    return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

std::uint16_t u16be(ByteView bytes, std::size_t at)
{
    return static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

Bytes pilotDataResponse(std::uint32_t offset, std::uint32_t length, std::uint16_t status)
{
    ByteWriter writer;
    writer.u8(byte(Command::PilotData)).u32le(offset).u32le(length).u16le(status);
    return writer.take();
}

std::string_view firstWord(std::string_view& text)
{
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    std::size_t end = text.find(' ');
    std::string_view word = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end);
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    return word;
}

} // namespace

InstrumentModel::InstrumentModel(InstrumentConfig config, std::vector<Flight> flights, StateStore store)
    : m_config(config)
    , m_flights(std::move(flights))
    , m_store(std::move(store))
{
    m_erased = m_store.item(erasedItem).has_value();
    if (m_config.initialPilotData && !m_store.item(pilotDataItem)) {
        Bytes record = *m_config.initialPilotData;
        record.resize(pilotDataSize, 0);
        m_store.setItem(pilotDataItem, record);
    }
    // The flashed firmware outlives the command line's default.
    if (auto stored = m_store.item(firmwareVersionItem)) {
        unsigned version = 0;
        std::string text(stored->begin(), stored->end());
        auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), version);
        if (error == std::errc() && version > 0 && version <= 0xFFFF)
            m_config.identity.firmwareVersion = static_cast<std::uint16_t>(version);
    }
    if (m_config.initialAirspaces && !m_store.item(airspacesItem))
        m_store.setItem(airspacesItem, *m_config.initialAirspaces);
}

std::optional<Bytes> InstrumentModel::airspaces() const
{
    return m_store.item(airspacesItem);
}

std::optional<Bytes> InstrumentModel::pilotData() const
{
    auto record = m_store.item(pilotDataItem);
    if (record && record->size() != pilotDataSize)
        return std::nullopt; // a damaged file counts as no record
    return record;
}

const Flight* InstrumentModel::flight(std::uint16_t flightNumber) const
{
    for (const Flight& candidate : flights())
        if (candidate.flightNumber == flightNumber)
            return &candidate;
    return nullptr;
}

RecorderInfo InstrumentModel::recorderInfo() const
{
    const VarioModel& model = varioModel(m_config.model);
    return { m_config.identity.deviceId, m_config.identity.firmwareVersion, model.hardwareVersion, model.recorderType };
}

const std::vector<Flight>& InstrumentModel::flights() const
{
    static const std::vector<Flight> none;
    return m_erased ? none : m_flights;
}

void InstrumentModel::resetSession()
{
    m_pending.clear();
    m_listCursor = {};
    m_sectorCursor = {};
    m_igcCursor = {};
    m_pilotUpload.clear();
    m_airspacesRead = {};
    m_airspacesUpload.reset();
    m_firmwareInstall = {};
}

std::optional<std::size_t> InstrumentModel::requestLength(ByteView pending)
{
    if (pending.empty())
        return std::nullopt;
    switch (pending[0]) {
    case byte(Command::DeviceInfo):
    case byte(Command::UnitsBitfield):
        return 1;
    case byte(Command::LogBook):
        if (pending.size() < 2)
            return std::nullopt;
        switch (pending[1]) {
        case byte(LogBookOperation::EraseAll):
            return 2;
        case byte(LogBookOperation::NextRecordShort):
        case byte(LogBookOperation::NextRecordFull):
        case byte(LogBookOperation::TrackLogSector):
        case byte(LogBookOperation::TrackLogSectorV2):
            return 4;
        case byte(LogBookOperation::IgcTextBlock):
            return 5;
        default:
            return 0;
        }
    case byte(Command::PilotData):
        if (pending.size() < 2)
            return std::nullopt;
        if (pending[1] == 0)
            return pilotDataHeaderSize;
        if (pending[1] != 1)
            return 0;
        if (pending.size() < pilotDataHeaderSize)
            return std::nullopt;
        if (u32le(pending, 6) > pilotDataChunkLimit)
            return 0;
        return pilotDataHeaderSize + u32le(pending, 6);
    case byte(Command::FirmwareLine):
    case byte(Command::FirmwareLineV2): {
        // Command, line number, the line's characters, NUL.
        for (std::size_t i = 3; i < pending.size(); ++i)
            if (pending[i] == 0)
                return i + 1;
        if (pending.size() > firmwareFrameLimit)
            return 0;
        return std::nullopt;
    }
    case byte(Command::Airspaces):
        if (pending.size() < 2)
            return std::nullopt;
        switch (pending[1]) {
        case AirspacesReadFromBeginning:
        case AirspacesReadNext:
        case AirspacesConclude:
        case AirspacesErase:
            return airspacesRequestSize;
        case AirspacesWriteFirst:
        case AirspacesWriteNext:
            return airspacesRequestSize + airspacesChunkPayload;
        default:
            return 0;
        }
    default:
        return 0;
    }
}

std::vector<Bytes> InstrumentModel::receive(ByteView bytes)
{
    m_pending.insert(m_pending.end(), bytes.begin(), bytes.end());
    std::vector<Bytes> writes;
    while (!m_pending.empty()) {
        auto length = requestLength(m_pending);
        if (!length || (*length > m_pending.size()))
            break; // the rest of the request is still on its way
        if (*length == 0) {
            m_pending.erase(m_pending.begin());
            continue;
        }
        Bytes request(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(*length));
        m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(*length));
        if (m_faults.silent)
            continue; // a silent instrument does not act on what it hears either
        for (Bytes& write : applyFaults(answer(request)))
            writes.push_back(std::move(write));
    }
    return writes;
}

std::vector<Bytes> InstrumentModel::answer(ByteView request)
{
    switch (request[0]) {
    case byte(Command::DeviceInfo):
        return { encodeDeviceInfo(m_config.identity) };
    case byte(Command::UnitsBitfield):
        return { encodeUnitsBitfield(m_config.identity.unitsBitfield) };
    case byte(Command::LogBook):
        return answerLogBook(request);
    case byte(Command::PilotData):
        return answerPilotData(request);
    case byte(Command::Airspaces):
        return answerAirspaces(request);
    case byte(Command::FirmwareLine):
    case byte(Command::FirmwareLineV2):
        return answerFirmwareLine(request);
    default:
        return {};
    }
}

std::vector<Bytes> InstrumentModel::answerLogBook(ByteView request)
{
    switch (request[1]) {
    case byte(LogBookOperation::EraseAll):
        return erase();
    case byte(LogBookOperation::NextRecordShort):
        return nextListTracksRecord(false);
    case byte(LogBookOperation::NextRecordFull):
        return nextListTracksRecord(true);
    case byte(LogBookOperation::TrackLogSector):
        return nextSector(TrackLogFormat::First, u16be(request, 2));
    case byte(LogBookOperation::TrackLogSectorV2):
        return nextSector(TrackLogFormat::Second, u16be(request, 2));
    case byte(LogBookOperation::IgcTextBlock):
        return nextIgcTextBlock(u16be(request, 2), request[4]);
    default:
        return {};
    }
}

std::vector<Bytes> InstrumentModel::listTracksSequence(bool fullList) const
{
    const auto& entries = flights();
    std::vector<Bytes> records;
    if (entries.empty()) {
        // An empty log book: the full list gets the short empty record that ends the
        // list; the short list gets no answer at all, as after a firmware update.
        if (fullList)
            records.push_back(encodeEmptyListTracksRecord(listTracksShortEmptyRecord, 0));
        return records;
    }
    // Each record's block field is filled in once the sequence is complete.
    for (std::size_t i = 0; i < entries.size(); ++i) {
        records.push_back(encodeListTracksRecord(entries[i].entry, 0, m_config.identity.unitsBitfield));
        if (m_config.emptyRecords && i == 0) {
            records.push_back(encodeErasedListTracksRecord(0));
            // The short list only takes 89-byte records, so the short empty records are
            // the full list's alone.
            if (fullList) {
                records.push_back(encodeEmptyListTracksRecord(listTracksLongEmptyRecord, 0));
                records.push_back(encodeEmptyListTracksRecord(listTracksShortEmptyRecord, 0));
            }
        }
    }
    for (std::size_t i = 0; i < records.size(); ++i) {
        auto following = static_cast<std::uint16_t>(records.size() - 1 - i);
        records[i][1] = static_cast<std::uint8_t>(following >> 8);
        records[i][2] = static_cast<std::uint8_t>(following & 0xff);
    }
    return records;
}

std::vector<Bytes> InstrumentModel::nextListTracksRecord(bool fullList)
{
    // A request after the last record (or for the other list) starts a new pass.
    if (!m_listCursor.active || m_listCursor.fullList != fullList)
        m_listCursor = { fullList, 0, true };
    std::vector<Bytes> sequence = listTracksSequence(fullList);
    if (sequence.empty()) {
        m_listCursor = {};
        return {};
    }
    Bytes record = std::move(sequence[m_listCursor.next++]);
    if (m_listCursor.next >= sequence.size())
        m_listCursor = {};
    return { record };
}

std::vector<Bytes> InstrumentModel::erase()
{
    m_erased = true;
    m_store.setItem(erasedItem, bytesOf("erased\n"));
    m_listCursor = {};
    m_sectorCursor = {};
    m_igcCursor = {};
    return { encodeEraseAcknowledgement() };
}

void InstrumentModel::prepareTransfers()
{
    for (const Flight& each : m_flights) {
        flightData(each, TrackLogFormat::First);
        flightData(each, TrackLogFormat::Second);
        if (FirmwareVersion(m_config.identity.firmwareVersion).supportsAutomaticTextIgcGeneration())
            igcBlocks(each);
    }
}

void InstrumentModel::forgetPreparedTransfersIfStale()
{
    // Both depend on the recorder's identity, which a firmware installation changes.
    if (m_preparedFor == m_config.identity.firmwareVersion)
        return;
    m_preparedFlightData.clear();
    m_preparedIgcBlocks.clear();
    m_preparedFor = m_config.identity.firmwareVersion;
}

const Bytes& InstrumentModel::flightData(const Flight& flight, TrackLogFormat format)
{
    forgetPreparedTransfersIfStale();
    auto [entry, made] = m_preparedFlightData.try_emplace({ format, flight.flightNumber });
    if (made)
        entry->second = encodeFlightData(flight, format, recorderInfo());
    return entry->second;
}

const std::vector<IgcTextBlock>& InstrumentModel::igcBlocks(const Flight& flight)
{
    forgetPreparedTransfersIfStale();
    auto [entry, made] = m_preparedIgcBlocks.try_emplace(flight.flightNumber);
    if (made)
        entry->second = igcTextBlocks(flight, m_config.identity.firmwareVersion, m_config.identity.deviceId);
    return entry->second;
}

std::vector<Bytes> InstrumentModel::nextSector(TrackLogFormat format, std::uint16_t flightNumber)
{
    // The same request is repeated for every sector; another flight or format, or a
    // request after the last sector, starts the download from the beginning.
    if (!m_sectorCursor.active || m_sectorCursor.format != format || m_sectorCursor.flightNumber != flightNumber) {
        const Flight* wanted = flight(flightNumber);
        if (!wanted) {
            m_sectorCursor = {};
            return {}; // no such flight: the instrument stays silent
        }
        m_sectorCursor = { format, flightNumber, flightData(*wanted, format), 0, true };
    }
    std::vector<Bytes> writes = encodeSector(m_sectorCursor.flightData, m_sectorCursor.next++);
    if (m_sectorCursor.next >= sectorCount(m_sectorCursor.flightData.size()))
        m_sectorCursor = {};
    return writes;
}

Bytes InstrumentModel::padded(Bytes igcTextAnswer) const
{
    // The header's length byte says where the text ends; NULs follow it.
    if (igcTextAnswer.size() >= igcTextHeaderLength)
        igcTextAnswer.resize(std::min(igcTextAnswer.size(), igcTextHeaderLength + igcTextAnswer[2]));
    if (igcTextAnswer.size() < m_config.igcTextPaddedLength)
        igcTextAnswer.resize(m_config.igcTextPaddedLength, 0);
    return igcTextAnswer;
}

std::vector<Bytes> InstrumentModel::nextIgcTextBlock(std::uint16_t flightNumber, std::uint8_t state)
{
    if (!FirmwareVersion(m_config.identity.firmwareVersion).supportsAutomaticTextIgcGeneration())
        return {}; // older firmware does not know the command
    const Flight* wanted = flight(flightNumber);
    if (m_faults.igcError || !wanted) {
        m_igcCursor = {};
        return { padded(encodeIgcTextBlock({ IGC_READ_STATE_ERROR, {} })) };
    }
    // State 0 starts a transfer (no data block is ever sent in state 0, so the echo of
    // a data block cannot be mistaken for a new start).
    if (state == 0 || !m_igcCursor.active || m_igcCursor.flightNumber != flightNumber)
        m_igcCursor = { flightNumber, igcBlocks(*wanted), 0, true };
    Bytes block = encodeIgcTextBlock(m_igcCursor.blocks[m_igcCursor.next++]);
    if (m_igcCursor.next >= m_igcCursor.blocks.size())
        m_igcCursor = {};
    return { padded(std::move(block)) };
}

std::vector<Bytes> InstrumentModel::answerPilotData(ByteView request)
{
    std::uint32_t offset = u32le(request, 2);
    std::uint32_t length = u32le(request, 6);
    std::uint16_t status = u16le(request, 10);
    if (m_faults.pilotError)
        return { pilotDataResponse(offset, 0, PILOT_DATA_STATUS_ERROR) };

    if (request[1] == 1) {
        // A write: the chunk follows the header in the same frame.
        if (offset == 0)
            m_pilotUpload.assign(pilotDataSize, 0);
        if (m_pilotUpload.size() != pilotDataSize || offset + static_cast<std::size_t>(length) > pilotDataSize
            || (status != PILOT_DATA_STATUS_MORE_DATA && status != PILOT_DATA_STATUS_END_OF_DATA)) {
            m_pilotUpload.clear();
            return { pilotDataResponse(offset, 0, PILOT_DATA_STATUS_ERROR) };
        }
        std::copy(request.begin() + pilotDataHeaderSize, request.begin() + pilotDataHeaderSize + length,
            m_pilotUpload.begin() + offset);
        if (status == PILOT_DATA_STATUS_END_OF_DATA) {
            bool stored = m_store.setItem(pilotDataItem, m_pilotUpload);
            m_pilotUpload.clear();
            if (!stored)
                return { pilotDataResponse(offset, 0, PILOT_DATA_STATUS_ERROR) };
        }
        return { pilotDataResponse(offset, length, PILOT_DATA_STATUS_OK) };
    }

    // A read: the program echoes the last answer's offset and length, so the next
    // chunk starts where that one ended (the first request carries 0 and 0).
    auto record = pilotData();
    if (m_faults.pilotNoData || !record)
        return { pilotDataResponse(0, 0, PILOT_DATA_STATUS_NO_DATA) };
    std::size_t position = std::min<std::size_t>(static_cast<std::size_t>(offset) + length, pilotDataSize);
    std::size_t chunk = std::min(pilotDataReadChunk, pilotDataSize - position);
    bool last = position + chunk >= pilotDataSize;
    Bytes header = pilotDataResponse(static_cast<std::uint32_t>(position), static_cast<std::uint32_t>(chunk),
        last ? PILOT_DATA_STATUS_END_OF_DATA : PILOT_DATA_STATUS_MORE_DATA);
    Bytes bytes(record->begin() + static_cast<std::ptrdiff_t>(position),
        record->begin() + static_cast<std::ptrdiff_t>(position + chunk));
    return { header, bytes };
}

std::vector<Bytes> InstrumentModel::applyFaults(std::vector<Bytes> writes) const
{
    if (writes.empty())
        return writes;
    if (m_faults.wrongFirstByte && !writes.front().empty())
        writes.front()[0] ^= 0xFF;
    if (m_faults.shortLength) {
        std::size_t budget = *m_faults.shortLength;
        std::vector<Bytes> kept;
        for (Bytes& write : writes) {
            if (budget == 0)
                break;
            if (write.size() > budget)
                write.resize(budget);
            budget -= write.size();
            kept.push_back(std::move(write));
        }
        return kept;
    }
    return writes;
}

bool InstrumentModel::takeRebootRequest()
{
    bool requested = m_rebootRequested;
    m_rebootRequested = false;
    return requested;
}

std::vector<Bytes> InstrumentModel::answerFirmwareLine(ByteView request)
{
    std::uint16_t number = u16be(request, 1);
    std::string line(request.begin() + 3, request.end() - 1);
    // The reboot line: the last line with its second character replaced by "E". It
    // gets no answer; after a complete installation the instrument restarts on the
    // new firmware, otherwise on the old one, without leaving the bus.
    if (line.size() >= 2 && line[1] == 'E') {
        if (m_firmwareInstall.active && m_firmwareInstall.complete) {
            if (m_firmwareInstall.version) {
                m_config.identity.firmwareVersion = *m_firmwareInstall.version;
                m_store.setItem(firmwareVersionItem, bytesOf(std::to_string(*m_firmwareInstall.version)));
            }
            m_rebootRequested = true;
        }
        m_firmwareInstall = {};
        return {};
    }
    if (number == 0)
        m_firmwareInstall = { 0, std::nullopt, false, true };
    auto verdict = [&](std::uint8_t value) {
        if (value != FirmwareLineAccepted)
            m_firmwareInstall = {};
        return std::vector<Bytes> { Bytes { request[0], request[1], request[2], value } };
    };
    // The firmware tells the model, as the program's device does.
    if (request[0] != byte(FirmwareVersion(m_config.identity.firmwareVersion).model().firmwareLineCommand))
        return verdict(FirmwareLineRejected);
    if (!m_firmwareInstall.active || number != static_cast<std::uint16_t>(m_firmwareInstall.nextLine))
        return verdict(FirmwareLineOutOfOrder);
    if (m_faults.firmwareRejectAll || (m_faults.firmwareRejectLine && *m_faults.firmwareRejectLine == number))
        return verdict(FirmwareLineRejected);
    auto bytes = sRecordBytes(line);
    if (!bytes)
        return verdict(FirmwareLineDamaged);
    if (line[1] == '0')
        m_firmwareInstall.version = versionInHeader(*bytes);
    if (line[1] >= '7')
        m_firmwareInstall.complete = true;
    ++m_firmwareInstall.nextLine;
    return verdict(FirmwareLineAccepted);
}

Bytes InstrumentModel::airspacesAnswer(std::uint8_t status, std::uint32_t length) const
{
    if (m_faults.airspacesError)
        status = AIRSPACES_STATUS_ERROR;
    else if (m_faults.airspacesStatus)
        status = *m_faults.airspacesStatus;
    ByteWriter writer;
    writer.u8(byte(Command::Airspaces)).u8(status).u32le(length);
    return writer.take();
}

std::vector<Bytes> InstrumentModel::answerAirspaces(ByteView request)
{
    std::uint8_t operation = request[1];
    if (m_faults.airspacesError)
        return { airspacesAnswer(AIRSPACES_STATUS_ERROR) };
    switch (operation) {
    case AirspacesReadFromBeginning:
    case AirspacesReadNext: {
        // The stored set is read once per transfer: read again for every chunk, a set
        // of some hundred kilobytes made answers late on a busy machine.
        if (operation == AirspacesReadFromBeginning)
            m_airspacesRead = { request[2] == 0, 0, true, airspaces() };
        const std::optional<Bytes>& set = m_airspacesRead.set;
        // Nothing stored, or nothing left: an empty last chunk.
        if (!set || !m_airspacesRead.active)
            return { airspacesAnswer(AIRSPACES_STATUS_OK, 0) };
        std::size_t end = m_airspacesRead.metadataOnly ? std::min(set->size(), airspacesHeaderSize) : set->size();
        std::size_t position = std::min(m_airspacesRead.position, end);
        std::size_t length = std::min(airspacesReadChunk, end - position);
        bool more = position + length < end;
        Bytes payload(set->begin() + static_cast<std::ptrdiff_t>(position),
            set->begin() + static_cast<std::ptrdiff_t>(position + length));
        m_airspacesRead.position = position + length;
        if (!more)
            m_airspacesRead = {}; // and with it the set that `set` refers to
        if (m_faults.airspacesShortPayload && !payload.empty())
            payload.pop_back();
        return { airspacesAnswer(more ? AIRSPACES_STATUS_MORE_DATA : AIRSPACES_STATUS_OK, static_cast<std::uint32_t>(length)),
            payload };
    }
    case AirspacesWriteFirst:
    case AirspacesWriteNext: {
        std::uint32_t length = u32le(request, 3);
        if (operation == AirspacesWriteFirst)
            m_airspacesUpload = Bytes {};
        if (!m_airspacesUpload || length > airspacesChunkPayload) {
            m_airspacesUpload.reset();
            return { airspacesAnswer(AIRSPACES_STATUS_ERROR) };
        }
        auto chunk = request.subspan(airspacesRequestSize, length);
        m_airspacesUpload->insert(m_airspacesUpload->end(), chunk.begin(), chunk.end());
        return { airspacesAnswer(AIRSPACES_STATUS_OK) };
    }
    case AirspacesConclude: {
        // Only a write that began with its first chunk replaces the stored set.
        bool stored = m_airspacesUpload && m_store.setItem(airspacesItem, *m_airspacesUpload);
        m_airspacesUpload.reset();
        m_airspacesRead = {};
        return { airspacesAnswer(stored ? AIRSPACES_STATUS_OK : AIRSPACES_STATUS_ERROR) };
    }
    case AirspacesErase:
        m_store.removeItem(airspacesItem);
        m_airspacesUpload.reset();
        m_airspacesRead = {};
        return { airspacesAnswer(AIRSPACES_STATUS_OK) };
    default:
        return {};
    }
}

std::optional<std::string> InstrumentModel::applyFaultCommand(std::string_view arguments)
{
    std::string_view name = firstWord(arguments);
    if (name == "short") {
        std::size_t length = 0;
        auto [end, error] = std::from_chars(arguments.data(), arguments.data() + arguments.size(), length);
        if (arguments.empty() || error != std::errc() || end != arguments.data() + arguments.size())
            return std::string("short needs a byte count");
        m_faults.shortLength = length;
        return std::nullopt;
    }
    if (name == "airspaces-status") {
        unsigned value = 0;
        auto [end, error] = std::from_chars(arguments.data(), arguments.data() + arguments.size(), value);
        if (arguments.empty() || error != std::errc() || end != arguments.data() + arguments.size() || value > 255)
            return std::string("airspaces-status needs a status byte");
        m_faults.airspacesStatus = static_cast<std::uint8_t>(value);
        return std::nullopt;
    }
    if (name == "firmware-reject") {
        if (arguments.empty()) {
            m_faults.firmwareRejectAll = true;
            return std::nullopt;
        }
        unsigned value = 0;
        auto [end, error] = std::from_chars(arguments.data(), arguments.data() + arguments.size(), value);
        if (error != std::errc() || end != arguments.data() + arguments.size() || value > 0xFFFF)
            return std::string("firmware-reject takes a line number");
        m_faults.firmwareRejectLine = static_cast<std::uint16_t>(value);
        return std::nullopt;
    }
    bool Faults::*flag = nullptr;
    if (name == "silent")
        flag = &Faults::silent;
    else if (name == "wrong-first-byte")
        flag = &Faults::wrongFirstByte;
    else if (name == "igc-error")
        flag = &Faults::igcError;
    else if (name == "pilot-error")
        flag = &Faults::pilotError;
    else if (name == "pilot-no-data")
        flag = &Faults::pilotNoData;
    else if (name == "airspaces-error")
        flag = &Faults::airspacesError;
    else if (name == "airspaces-short-payload")
        flag = &Faults::airspacesShortPayload;
    else if (name != "none")
        return "unknown fault '" + std::string(name) + "'";
    if (!arguments.empty())
        return "fault " + std::string(name) + " takes no argument";
    if (flag)
        m_faults.*flag = true;
    else
        m_faults = {};
    return std::nullopt;
}

} // namespace corvex::virtualinstrument
