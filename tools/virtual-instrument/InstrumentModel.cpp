#include "InstrumentModel.h"

#include "device/Protocol.h"

#include <charconv>

namespace corvex::virtualinstrument {

using namespace corvex::protocol;

namespace {

const std::string erasedItem = "logbook-erased";

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
    return { encodeEraseAcknowledgement() };
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
