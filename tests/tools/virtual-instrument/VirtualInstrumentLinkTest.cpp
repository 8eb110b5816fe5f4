#include "VirtualInstrumentProcess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

using corvex::testing::VirtualInstrumentProcess;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

// The program's side of the line, as plain POSIX: raw 115200 8N1, VMIN 0 / VTIME 1, a
// read ends when N bytes arrived or after 0.1 s of silence.
class Line {
public:
    explicit Line(const std::string& path)
    {
        m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_fd < 0)
            return;
        termios settings {};
        ::tcgetattr(m_fd, &settings);
        ::cfmakeraw(&settings);
        ::cfsetispeed(&settings, B115200);
        ::cfsetospeed(&settings, B115200);
        settings.c_cflag |= CS8 | CREAD | CLOCAL;
        settings.c_cc[VMIN] = 0;
        settings.c_cc[VTIME] = 1;
        ::tcsetattr(m_fd, TCSANOW, &settings);
        ::tcflush(m_fd, TCIOFLUSH);
    }
    ~Line()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool isOpen() const { return m_fd >= 0; }

    bool write(const Bytes& bytes) { return ::write(m_fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()); }

    // Nothing when the read itself failed (the line is gone). Patience keeps reading
    // through silences until then, for checks that must not depend on the machine's load.
    std::optional<Bytes> read(std::size_t length, std::chrono::milliseconds patience = std::chrono::milliseconds(0))
    {
        Bytes bytes;
        const auto deadline = Clock::now() + patience;
        while (bytes.size() < length) {
            std::uint8_t buffer[512];
            ssize_t count = ::read(m_fd, buffer, std::min(sizeof buffer, length - bytes.size()));
            if (count < 0)
                return std::nullopt;
            if (count == 0 && Clock::now() < deadline)
                continue;
            if (count == 0)
                break;
            bytes.insert(bytes.end(), buffer, buffer + count);
        }
        return bytes;
    }

private:
    int m_fd { -1 };
};

bool entryExists(const std::string& path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

std::string linkTarget(const std::string& path)
{
    char target[256] {};
    ssize_t length = ::readlink(path.c_str(), target, sizeof target - 1);
    return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : std::string();
}

} // namespace

TEST(VirtualInstrumentLink, PublishesAPtyAndAnswersOverIt)
{
    VirtualInstrumentProcess instrument;
    ASSERT_TRUE(instrument.isRunning());
    EXPECT_EQ(instrument.portPath(), instrument.instrumentsDirectory() + "/corvex-00c0ffee");
    EXPECT_EQ(linkTarget(instrument.portPath()).rfind("/dev/pts/", 0), 0u);
    struct stat folder {};
    ASSERT_EQ(::stat(instrument.instrumentsDirectory().c_str(), &folder), 0);

    Line line(instrument.portPath());
    ASSERT_TRUE(line.isOpen());
    ASSERT_TRUE(line.write({ 0x01 }));
    auto info = line.read(28);
    ASSERT_TRUE(info);
    ASSERT_EQ(info->size(), 28u);
    EXPECT_EQ((Bytes(info->begin(), info->begin() + 10)), (Bytes { 0x02, 0x00, 0xC0, 0xFF, 0xEE, 0, 0, 0x09, 0x65, 40 }));

    // The shared flights: six records, the last with block field 0.
    std::vector<std::uint16_t> numbers;
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(line.write({ 0x03, 0x06, 0x00, 0x00 }));
        auto record = line.read(89);
        ASSERT_TRUE(record);
        ASSERT_EQ(record->size(), 89u);
        EXPECT_EQ((*record)[0], 0x05);
        EXPECT_EQ(((*record)[1] << 8 | (*record)[2]) == 0, i == 5);
        numbers.push_back(static_cast<std::uint16_t>((*record)[6] << 8 | (*record)[7]));
    }
    EXPECT_EQ(numbers, (std::vector<std::uint16_t> { 1, 2, 3, 4, 5, 6 }));
}

TEST(VirtualInstrumentLink, UnplugAndPlugWhileRunning)
{
    VirtualInstrumentProcess instrument;
    std::string port = instrument.portPath();
    Line before(port);
    ASSERT_TRUE(before.isOpen());

    ASSERT_TRUE(instrument.unplug());
    EXPECT_FALSE(entryExists(port));
    // The line is gone under the open descriptor: reads fail or see the end.
    before.write({ 0x01 });
    auto gone = before.read(28);
    EXPECT_TRUE(!gone || gone->empty());
    EXPECT_EQ(instrument.controlReply("status"), "ok unplugged");

    ASSERT_TRUE(instrument.plug());
    EXPECT_TRUE(entryExists(port));
    Line after(port);
    ASSERT_TRUE(after.isOpen());
    ASSERT_TRUE(after.write({ 0x0D }));
    EXPECT_EQ(after.read(2), (Bytes { 0x0D, 0x08 }));

    auto started = Clock::now();
    ASSERT_TRUE(instrument.control("replug"));
    EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(450));
    EXPECT_TRUE(entryExists(port));
    Line replugged(port);
    ASSERT_TRUE(replugged.write({ 0x0D }));
    EXPECT_EQ(replugged.read(2), (Bytes { 0x0D, 0x08 }));
}

TEST(VirtualInstrumentLink, SignalsUnplugAndPlug)
{
    VirtualInstrumentProcess instrument;
    ASSERT_GT(instrument.pid(), 0);
    auto waitFor = [&](bool present) {
        auto deadline = Clock::now() + std::chrono::seconds(3);
        while (entryExists(instrument.portPath()) != present && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return entryExists(instrument.portPath()) == present;
    };
    ::kill(instrument.pid(), SIGUSR1);
    EXPECT_TRUE(waitFor(false));
    ::kill(instrument.pid(), SIGUSR2);
    EXPECT_TRUE(waitFor(true));
    Line line(instrument.portPath());
    ASSERT_TRUE(line.write({ 0x0D }));
    EXPECT_EQ(line.read(2), (Bytes { 0x0D, 0x08 }));
    // SIGTERM ends it and takes the entry away.
    ::kill(instrument.pid(), SIGTERM);
    EXPECT_TRUE(waitFor(false));
}

TEST(VirtualInstrumentLink, ControlCommandsAndFaults)
{
    VirtualInstrumentProcess instrument;
    Line line(instrument.portPath());
    ASSERT_TRUE(line.isOpen());

    EXPECT_EQ(instrument.controlReply("fault short 5"), "ok");
    ASSERT_TRUE(line.write({ 0x01 }));
    EXPECT_EQ(line.read(28), (Bytes { 0x02, 0x00, 0xC0, 0xFF, 0xEE }));

    EXPECT_EQ(instrument.controlReply("fault none"), "ok");
    EXPECT_EQ(instrument.controlReply("fault silent"), "ok");
    ASSERT_TRUE(line.write({ 0x01 }));
    EXPECT_EQ(line.read(28), Bytes {});

    EXPECT_EQ(instrument.controlReply("fault none"), "ok");
    EXPECT_EQ(instrument.controlReply("fault wrong-first-byte"), "ok");
    ASSERT_TRUE(line.write({ 0x0D }));
    EXPECT_EQ(line.read(2), (Bytes { 0xF2, 0x08 }));

    EXPECT_EQ(instrument.controlReply("fault loud").rfind("error ", 0), 0u);
    EXPECT_EQ(instrument.controlReply("dance").rfind("error ", 0), 0u);
    EXPECT_FALSE(instrument.control("fault short"));
}

TEST(VirtualInstrumentLink, UnplugAfterCutsTheAnswerAtItsByte)
{
    VirtualInstrumentProcess instrument;
    {
        Line line(instrument.portPath());
        ASSERT_TRUE(line.isOpen());
        ASSERT_TRUE(line.write({ 0x01 }));
        ASSERT_EQ(line.read(28, 2s)->size(), 28u);
        EXPECT_EQ(instrument.controlReply("traffic"), "ok 1 28");

        // One request byte and ten answer bytes, then the cable goes.
        ASSERT_EQ(instrument.controlReply("unplug-after 11"), "ok");
        ASSERT_TRUE(line.write({ 0x01 }));
        // Never more than the ten bytes before the cut. Fewer may arrive: the hang-up
        // can flush what the reader had not read yet, and a loaded machine reads late.
        // The instrument's own count below says that exactly ten were sent.
        auto cut = line.read(28, 2s);
        EXPECT_TRUE(!cut || cut->size() <= 10u) << cut->size();
        EXPECT_EQ(instrument.controlReply("status"), "ok unplugged");
        EXPECT_EQ(instrument.controlReply("traffic"), "ok 2 38");
    }
    ASSERT_TRUE(instrument.plug());
    Line again(instrument.portPath());
    ASSERT_TRUE(again.write({ 0x01 }));
    EXPECT_EQ(again.read(28, 2s)->size(), 28u);
    EXPECT_FALSE(instrument.control("unplug-after 0"));
    EXPECT_FALSE(instrument.control("unplug-after many"));
}

TEST(VirtualInstrumentLink, EraseSurvivesARestart)
{
    VirtualInstrumentProcess instrument;
    {
        Line line(instrument.portPath());
        ASSERT_TRUE(line.write({ 0x03, 0x02 }));
        auto ack = line.read(28);
        ASSERT_TRUE(ack);
        EXPECT_EQ(ack->size(), 28u);
    }
    ASSERT_TRUE(instrument.restart());
    Line line(instrument.portPath());
    ASSERT_TRUE(line.write({ 0x03, 0x05, 0x00, 0x00 }));
    EXPECT_EQ(line.read(89), Bytes {}); // an empty log book does not answer the short list
    ASSERT_TRUE(line.write({ 0x03, 0x06, 0x00, 0x00 }));
    EXPECT_EQ(line.read(89), (Bytes { 0x05, 0x00, 0x00, 0x08, 0, 0, 0, 0 }));
}

TEST(VirtualInstrumentLink, PacedAtTheLineSpeed)
{
    VirtualInstrumentProcess::Options options;
    options.extraArguments = { "--pace" };
    VirtualInstrumentProcess instrument(options);
    Line line(instrument.portPath());
    ASSERT_TRUE(line.isOpen());
    ASSERT_TRUE(line.write({ 0x03, 0x06, 0x00, 0x00 }));
    auto started = Clock::now();
    auto record = line.read(89);
    auto elapsed = Clock::now() - started;
    ASSERT_TRUE(record);
    EXPECT_EQ(record->size(), 89u);
    // 89 bytes of 10 bits at 115200 bit/s: 7.7 ms at least.
    EXPECT_GE(elapsed, std::chrono::microseconds(7600));

    // The request's bytes take their line time too before the answer can start: a
    // 104-byte firmware line and its 4-byte verdict are 9.4 ms of line.
    Bytes firmwareLine { 0x11, 0x00, 0x00 };
    firmwareLine.insert(firmwareLine.end(), 100, 'S');
    firmwareLine.push_back(0x00);
    started = Clock::now();
    ASSERT_TRUE(line.write(firmwareLine));
    auto verdict = line.read(4);
    elapsed = Clock::now() - started;
    ASSERT_TRUE(verdict);
    EXPECT_EQ(verdict->size(), 4u);
    EXPECT_GE(elapsed, std::chrono::microseconds(9300));
}

TEST(VirtualInstrumentLink, TrackLogSectorsAsTheProgramReadsThem)
{
    VirtualInstrumentProcess instrument;
    Line line(instrument.portPath());
    ASSERT_TRUE(line.isOpen());
    // Flight 4 is the 199-fix SKYTRAXX flight; the second format, header then payload.
    Bytes data;
    std::size_t sectors = 0;
    for (;;) {
        ASSERT_TRUE(line.write({ 0x03, 0x07, 0x00, 0x04 }));
        auto header = line.read(4);
        ASSERT_TRUE(header);
        ASSERT_EQ(header->size(), 4u);
        ASSERT_EQ((*header)[0], 0x04);
        auto payload = line.read(255);
        ASSERT_TRUE(payload);
        ASSERT_EQ(payload->size(), 255u);
        std::size_t valid = (*header)[3] ? (*header)[3] : payload->size();
        data.insert(data.end(), payload->begin(), payload->begin() + static_cast<std::ptrdiff_t>(valid));
        ASSERT_LT(++sectors, 100u);
        if ((*header)[1] == 0 && (*header)[2] == 0)
            break;
    }
    // Block header, flight header up to dataOffset 32, a time record, 199 location
    // records of 16 bytes, the H and G records.
    EXPECT_EQ(data.size(), 32u + 7 + 199 * 16 + 166 + 35);
    EXPECT_EQ(data[0], 0xFE);
    EXPECT_EQ(data[data.size() - 35], 0xF6);
}

TEST(VirtualInstrumentLink, PilotDataKeptAcrossARestartAndIgcFault)
{
    VirtualInstrumentProcess instrument;
    {
        Line line(instrument.portPath());
        Bytes record(513, 0);
        record[1] = 'J';
        for (auto [offset, length, status] : { std::tuple { 0u, 278u, 2 }, std::tuple { 278u, 235u, 3 } }) {
            Bytes frame { 0x0E, 0x01, static_cast<std::uint8_t>(offset), static_cast<std::uint8_t>(offset >> 8), 0, 0,
                static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8), 0, 0,
                static_cast<std::uint8_t>(status), 0 };
            frame.insert(frame.end(), record.begin() + offset, record.begin() + offset + length);
            ASSERT_TRUE(line.write(frame));
            auto answer = line.read(11);
            ASSERT_TRUE(answer);
            ASSERT_EQ(answer->size(), 11u);
            EXPECT_EQ((*answer)[9], 0x01);
        }
    }
    ASSERT_TRUE(instrument.restart());
    Line line(instrument.portPath());
    ASSERT_TRUE(line.write({ 0x0E, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x00 }));
    auto answer = line.read(11);
    ASSERT_TRUE(answer);
    EXPECT_EQ(*answer, (Bytes { 0x0E, 0, 0, 0, 0, 0x2C, 0x01, 0, 0, 0x02, 0x00 }));
    auto chunk = line.read(300);
    ASSERT_TRUE(chunk);
    ASSERT_EQ(chunk->size(), 300u);
    EXPECT_EQ((*chunk)[1], 'J');

    ASSERT_TRUE(instrument.control("fault igc-error"));
    ASSERT_TRUE(line.write({ 0x03, 0x08, 0x00, 0x01, 0x00 }));
    auto failed = line.read(300);
    ASSERT_TRUE(failed);
    ASSERT_EQ(failed->size(), 300u);
    EXPECT_EQ((Bytes(failed->begin(), failed->begin() + 3)), (Bytes { 0x03, 0xFF, 0x00 }));
    ASSERT_TRUE(instrument.control("fault none"));
    ASSERT_TRUE(line.write({ 0x03, 0x08, 0x00, 0x01, 0x00 }));
    auto name = line.read(300);
    ASSERT_TRUE(name);
    ASSERT_GT(name->size(), 3u);
    EXPECT_EQ((*name)[1], 0x01);
}

TEST(VirtualInstrumentLink, AirspacesWrittenAndReadBackAfterARestart)
{
    VirtualInstrumentProcess instrument;
    Bytes set(2400);
    for (std::size_t i = 0; i < set.size(); ++i)
        set[i] = static_cast<std::uint8_t>(i % 251);
    auto header = [](std::uint8_t operation, std::uint8_t scope, std::uint32_t length) {
        return Bytes { 0x0F, operation, scope, static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8), 0, 0 };
    };
    {
        Line line(instrument.portPath());
        for (std::size_t at = 0; at < set.size(); at += 121) {
            std::size_t length = std::min<std::size_t>(121, set.size() - at);
            ASSERT_TRUE(line.write(header(at == 0 ? 2 : 3, 1, static_cast<std::uint32_t>(length))));
            Bytes payload(set.begin() + static_cast<std::ptrdiff_t>(at), set.begin() + static_cast<std::ptrdiff_t>(at + length));
            payload.resize(121, 0);
            ASSERT_TRUE(line.write(payload));
            auto answer = line.read(6);
            ASSERT_TRUE(answer);
            ASSERT_EQ(answer->size(), 6u);
            ASSERT_EQ((*answer)[1], 1);
        }
        ASSERT_TRUE(line.write(header(4, 1, 0)));
        auto concluded = line.read(6);
        ASSERT_TRUE(concluded);
        ASSERT_EQ(concluded->size(), 6u);
        EXPECT_EQ((*concluded)[1], 1);
    }
    ASSERT_TRUE(instrument.restart());
    Line line(instrument.portPath());
    Bytes metadata;
    for (bool first = true;; first = false) {
        ASSERT_TRUE(line.write(header(first ? 0 : 1, 0, 0)));
        auto answer = line.read(6);
        ASSERT_TRUE(answer);
        ASSERT_EQ(answer->size(), 6u);
        std::size_t length = (*answer)[2] | (*answer)[3] << 8;
        auto payload = line.read(length);
        ASSERT_TRUE(payload);
        ASSERT_EQ(payload->size(), length);
        metadata.insert(metadata.end(), payload->begin(), payload->end());
        if ((*answer)[1] != 2)
            break;
        ASSERT_LT(metadata.size(), 5000u);
    }
    EXPECT_EQ(metadata, Bytes(set.begin(), set.begin() + 2300));
}

TEST(VirtualInstrumentLink, FirmwareInstallationRebootsTheInstrument)
{
    VirtualInstrumentProcess instrument;
    const std::vector<std::string> image = {
        "S00D00005752454E20322E3430369C",
        "S1131000000102030405060708090A0B0C0D0E0F64",
        "S9031000EC",
    };
    auto frame = [](std::uint16_t number, const std::string& line) {
        Bytes bytes(line.size() + 4, 0);
        bytes[0] = 0x11;
        bytes[1] = static_cast<std::uint8_t>(number >> 8);
        bytes[2] = static_cast<std::uint8_t>(number);
        std::copy(line.begin(), line.end(), bytes.begin() + 3);
        return bytes;
    };
    {
        Line line(instrument.portPath());
        for (std::uint16_t number = 0; number < image.size(); ++number) {
            ASSERT_TRUE(line.write(frame(number, image[number])));
            auto verdict = line.read(4);
            ASSERT_TRUE(verdict);
            ASSERT_EQ(verdict->size(), 4u);
            EXPECT_EQ((*verdict)[3], 0);
        }
        std::string reboot = image.back();
        reboot[1] = 'E';
        ASSERT_TRUE(line.write(frame(3, reboot)));
    }
    // Off the bus for a moment, then back on the new firmware.
    auto deadline = Clock::now() + std::chrono::seconds(3);
    while (entryExists(instrument.portPath()) && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(entryExists(instrument.portPath()));
    while (!entryExists(instrument.portPath()) && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(entryExists(instrument.portPath()));
    Line line(instrument.portPath());
    ASSERT_TRUE(line.write({ 0x01 }));
    auto info = line.read(28);
    ASSERT_TRUE(info);
    ASSERT_EQ(info->size(), 28u);
    EXPECT_EQ((*info)[7] << 8 | (*info)[8], 2406);
}
