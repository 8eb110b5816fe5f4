#include "updates/FirmwareFile.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace corvex {

Result<Bytes, FileReadError> readFirmwareFileAt(const std::string& path)
{
    auto text = readFileWhole(path, FileKind::Firmware);
    if (!text)
        return Failure { text.error() };
    return Bytes(text->begin(), text->end());
}

namespace {

// Line feed, vertical tab, form feed, carriage return: every newline a 7-bit text has.
constexpr std::string_view newlineCharacters = "\n\v\f\r";

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Bytes of the address field by record type; type 4 is reserved.
int addressLength(char type)
{
    switch (type) {
    case '0':
    case '1':
    case '5':
    case '9':
        return 2;
    case '2':
    case '6':
    case '8':
        return 3;
    case '3':
    case '7':
        return 4;
    default:
        return -1;
    }
}

} // namespace

std::vector<std::string> selectFirmwareLines(std::string_view text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find_first_of(newlineCharacters, start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view piece = text.substr(start, end - start);
        if (!piece.empty() && piece.front() == 'S') {
            while (!piece.empty() && isSpace(piece.back()))
                piece.remove_suffix(1);
            lines.emplace_back(piece);
        }
        start = end + 1;
    }
    return lines;
}

bool isWellFormedSRecord(std::string_view line)
{
    if (line.size() < 4 || line[0] != 'S')
        return false;
    const int address = addressLength(line[1]);
    if (address < 0)
        return false;
    const std::optional<Bytes> bytes = bytesFromHexadecimal(line.substr(2));
    if (!bytes)
        return false;
    const unsigned count = bytes->front();
    if (count != bytes->size() - 1 || count < static_cast<unsigned>(address) + 1)
        return false;
    unsigned sum = 0;
    for (std::size_t i = 0; i + 1 < bytes->size(); ++i)
        sum += (*bytes)[i];
    return ((~sum) & 0xFF) == bytes->back();
}

bool isTerminationRecord(std::string_view line)
{
    return line.size() >= 2 && line[0] == 'S' && (line[1] == '7' || line[1] == '8' || line[1] == '9');
}

FirmwareFile readFirmwareFile(ByteView data)
{
    FirmwareFile file;
    if (std::any_of(data.begin(), data.end(), [](std::uint8_t b) { return b >= 0x80; })) {
        file.problem = FirmwareFileProblem::NotAscii;
        return file;
    }
    file.lines = selectFirmwareLines(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
    if (file.lines.empty()) {
        file.problem = FirmwareFileProblem::NoFirmwareLines;
        return file;
    }
    const auto damaged = std::find_if_not(file.lines.begin(), file.lines.end(), isWellFormedSRecord);
    if (damaged != file.lines.end()) {
        file.problem = FirmwareFileProblem::DamagedLine;
        file.damagedLine = static_cast<std::size_t>(damaged - file.lines.begin());
        return file;
    }
    if (!isTerminationRecord(file.lines.back()))
        file.problem = FirmwareFileProblem::NoTermination;
    return file;
}

namespace {

// The text of the first sound S0 record: "S0", the byte count, a 16-bit address, the
// text, the checksum.
std::optional<std::string> headerText(const FirmwareFile& file)
{
    for (const std::string& line : file.lines) {
        if (line.rfind("S0", 0) != 0 || !isWellFormedSRecord(line))
            continue;
        std::string text;
        for (std::size_t at = 8; at + 2 < line.size(); at += 2)
            text += static_cast<char>(std::stoi(line.substr(at, 2), nullptr, 16));
        return text;
    }
    return std::nullopt;
}

char lowerCase(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool isLetter(char c)
{
    return lowerCase(c) >= 'a' && lowerCase(c) <= 'z';
}

} // namespace

std::optional<std::string> firmwareVersionNamedIn(const FirmwareFile& file)
{
    const std::optional<std::string> header = headerText(file);
    if (!header)
        return std::nullopt;
    const std::string& text = *header;
    const auto digit = [&](std::size_t i) { return text[i] >= '0' && text[i] <= '9'; };
    for (std::size_t at = 0; at + 5 <= text.size(); ++at) {
        if (digit(at) && text[at + 1] == '.' && digit(at + 2) && digit(at + 3) && digit(at + 4))
            return text.substr(at, 5);
    }
    return std::nullopt;
}

std::vector<const VarioModel*> firmwareModelsNamedIn(const FirmwareFile& file)
{
    std::vector<const VarioModel*> named;
    const std::optional<std::string> header = headerText(file);
    if (!header)
        return named;
    std::string text;
    for (const char c : *header)
        text += lowerCase(c);
    for (const VarioModel& model : varioModels) {
        std::string name;
        for (const char* c = model.name; *c; ++c)
            name += lowerCase(*c);
        for (std::size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + 1)) {
            const std::size_t end = at + name.size();
            if ((at == 0 || !isLetter(text[at - 1])) && (end == text.size() || !isLetter(text[end]))) {
                named.push_back(&model);
                break;
            }
        }
    }
    return named;
}

} // namespace corvex
