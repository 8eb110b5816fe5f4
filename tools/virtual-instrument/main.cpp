// The virtual instrument: a Corvex Vario on a pseudo-terminal. The answers come from
// InstrumentModel; this file only moves bytes between it, the pty, the control socket
// and the signals, in one poll() loop.

#include "FlightLibrary.h"
#include "InstrumentModel.h"
#include "PtyPort.h"
#include "base/FileRead.h"
#include "device/FirmwareVersion.h"
#include "platform/InstrumentDirectory.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iterator>
#include <getopt.h>
#include <poll.h>
#include <string>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

#ifndef CORVEX_DEFAULT_IGC_DIR
#define CORVEX_DEFAULT_IGC_DIR "../shared/testdata/igc"
#endif

using namespace corvex;
using namespace corvex::virtualinstrument;
using Clock = std::chrono::steady_clock;

namespace {

// 115200 bit/s with a start and a stop bit: 10 bits per byte.
constexpr double pacedBytesPerSecond = 11520.0;
// A request that stops halfway for this long is dropped, so one lost byte cannot
// shift every later request.
constexpr auto partialRequestTimeout = std::chrono::milliseconds(500);
constexpr auto replugPause = std::chrono::milliseconds(500);
// A reboot after a firmware installation: off the bus for a second, then back.
constexpr auto rebootPause = std::chrono::milliseconds(1000);

struct Options {
    InstrumentConfig config;
    bool firmwareGiven { false };
    std::string instrumentsDirectory;
    std::string igcDirectory { CORVEX_DEFAULT_IGC_DIR };
    std::string stateDirectory;
    std::string controlPath;
    std::string pilotName;
    bool pace { false };
    bool verbose { false };
};

// A pilot-data record with the pilot's name and the recorder's serial number.
Bytes pilotRecord(const std::string& pilot, std::uint32_t deviceId)
{
    Bytes record(513, 0);
    std::copy_n(pilot.begin(), std::min<std::size_t>(pilot.size(), 64), record.begin() + 1);
    char serial[16];
    std::snprintf(serial, sizeof serial, "%X", deviceId);
    std::copy_n(serial, std::strlen(serial), record.begin() + 65);
    return record;
}

// The rows' keys ("lark|wren"), for --model.
std::string modelKeys(const char* separator)
{
    std::string keys;
    for (const VarioModel& row : varioModels)
        keys += (keys.empty() ? "" : separator) + std::string(row.key);
    return keys;
}

// Each row's default firmware: "1375 lark, 2405 wren".
std::string defaultFirmwares()
{
    std::string text;
    for (const VarioModel& row : varioModels)
        text += (text.empty() ? "" : ", ") + std::to_string(row.typicalFirmware) + " " + row.key;
    return text;
}

void printUsage(FILE* out)
{
    std::fprintf(out,
        "Usage: virtual-instrument [options]\n"
        "A Corvex Vario on a pseudo-terminal, published in the instruments directory.\n\n"
        "  --model %-14s instrument generation (default wren)\n"
        "  --device-id HEX        device id / serial number (default c0ffee)\n"
        "  --firmware N           firmware version in thousandths (default %s)\n"
        "  --battery N            battery voltage in tenths of a volt (default 40)\n"
        "  --units HEX            measurement-units bitfield (default 08)\n"
        "  --igc-dir DIR          the flights: one per IGC file (default %s)\n"
        "  --state DIR            persistent state: erased log book, pilot data (default: none, in memory)\n"
        "  --instruments-dir DIR  where to publish (default: the folder the program watches,\n"
        "                         $CORVEX_INSTRUMENT_DIR, else $XDG_RUNTIME_DIR/corvex/instruments)\n"
        "  --control PATH         control socket (default <state>/control)\n"
        "  --pace                 pace requests and answers at 115200 bit/s\n"
        "  --pilot NAME           pilot data to start with when the state folder holds none\n"
        "  --airspaces FILE       an airspaces set (internal format) to start with when the state holds none\n"
        "  --empty-records        serve empty and erased log-book records among the flights\n"
        "  --igc-padding N|none   NUL-pad IGC text answers to N bytes (default 300), or not at all\n"
        "  --unpadded-igc         the same as --igc-padding none\n"
        "  --verbose              log every request and answer on stderr\n"
        "  --help                 this text\n\n"
        "Control commands (one per line on the socket, answered 'ok' or 'error <why>'):\n"
        "  unplug, plug, replug, status, quit, traffic, unplug-after N,\n"
        "  fault silent | short N | wrong-first-byte | igc-error | pilot-error | pilot-no-data |\n"
        "        airspaces-error | airspaces-short-payload | airspaces-status N | firmware-reject [N] | none\n"
        "Signals: SIGUSR1 unplugs, SIGUSR2 plugs, SIGTERM/SIGINT end the instrument.\n",
        modelKeys("|").c_str(), defaultFirmwares().c_str(), CORVEX_DEFAULT_IGC_DIR);
}

bool parseNumber(const char* text, int base, unsigned long maximum, unsigned long& value)
{
    errno = 0;
    char* end = nullptr;
    value = std::strtoul(text, &end, base);
    return errno == 0 && end != text && *end == '\0' && value <= maximum;
}

std::optional<Options> parseOptions(int argc, char** argv)
{
    enum { Model = 1000, DeviceId, Firmware, Battery, Units, IgcDir, State, InstrumentsDir, Control, Pace, EmptyRecords, UnpaddedIgc, IgcPadding, Pilot, AirspacesFile, Verbose, Help };
    static const option longOptions[] = {
        { "model", required_argument, nullptr, Model },
        { "device-id", required_argument, nullptr, DeviceId },
        { "firmware", required_argument, nullptr, Firmware },
        { "battery", required_argument, nullptr, Battery },
        { "units", required_argument, nullptr, Units },
        { "igc-dir", required_argument, nullptr, IgcDir },
        { "state", required_argument, nullptr, State },
        { "instruments-dir", required_argument, nullptr, InstrumentsDir },
        { "control", required_argument, nullptr, Control },
        { "pace", no_argument, nullptr, Pace },
        { "empty-records", no_argument, nullptr, EmptyRecords },
        { "unpadded-igc", no_argument, nullptr, UnpaddedIgc },
        { "igc-padding", required_argument, nullptr, IgcPadding },
        { "pilot", required_argument, nullptr, Pilot },
        { "airspaces", required_argument, nullptr, AirspacesFile },
        { "verbose", no_argument, nullptr, Verbose },
        { "help", no_argument, nullptr, Help },
        { nullptr, 0, nullptr, 0 },
    };
    Options options;
    unsigned long value = 0;
    int choice = 0;
    while ((choice = getopt_long(argc, argv, "", longOptions, nullptr)) != -1) {
        switch (choice) {
        case Model:
            if (const VarioModel* model = varioModelWithKey(optarg)) {
                options.config.model = model->generation;
            } else {
                std::fprintf(stderr, "virtual-instrument: --model is %s\n", modelKeys(" or ").c_str());
                return std::nullopt;
            }
            break;
        case DeviceId:
            if (!parseNumber(optarg, 16, 0xFFFFFFFFul, value)) {
                std::fprintf(stderr, "virtual-instrument: --device-id needs a hexadecimal 32-bit number\n");
                return std::nullopt;
            }
            options.config.identity.deviceId = static_cast<std::uint32_t>(value);
            break;
        case Firmware:
            if (!parseNumber(optarg, 10, 0xFFFF, value)) {
                std::fprintf(stderr, "virtual-instrument: --firmware needs a number of thousandths (e.g. 2405)\n");
                return std::nullopt;
            }
            options.config.identity.firmwareVersion = static_cast<std::uint16_t>(value);
            options.firmwareGiven = true;
            break;
        case Battery:
            if (!parseNumber(optarg, 10, 0xFF, value)) {
                std::fprintf(stderr, "virtual-instrument: --battery needs tenths of a volt, 0 to 255\n");
                return std::nullopt;
            }
            options.config.identity.batteryTenthsOfVolt = static_cast<std::uint8_t>(value);
            break;
        case Units:
            if (!parseNumber(optarg, 16, 0xFF, value)) {
                std::fprintf(stderr, "virtual-instrument: --units needs a hexadecimal byte\n");
                return std::nullopt;
            }
            options.config.identity.unitsBitfield = static_cast<std::uint8_t>(value);
            break;
        case IgcDir:
            options.igcDirectory = optarg;
            break;
        case State:
            options.stateDirectory = optarg;
            break;
        case InstrumentsDir:
            options.instrumentsDirectory = optarg;
            break;
        case Control:
            options.controlPath = optarg;
            break;
        case Pace:
            options.pace = true;
            break;
        case EmptyRecords:
            options.config.emptyRecords = true;
            break;
        case UnpaddedIgc:
            options.config.igcTextPaddedLength = 0;
            break;
        case IgcPadding: {
            if (std::strcmp(optarg, "none") == 0) {
                options.config.igcTextPaddedLength = 0;
            } else if (parseNumber(optarg, 10, 4096, value)) {
                options.config.igcTextPaddedLength = value;
            } else {
                std::fprintf(stderr, "virtual-instrument: --igc-padding takes a length up to 4096 or none\n");
                return std::nullopt;
            }
            break;
        }
        case Pilot:
            options.pilotName = optarg;
            break;
        case AirspacesFile: {
            const auto set = readFileWhole(optarg, FileKind::AirspaceSet);
            if (!set) {
                std::fprintf(stderr, "virtual-instrument: %s\n", set.error().message().c_str());
                return std::nullopt;
            }
            options.config.initialAirspaces = Bytes(set->begin(), set->end());
            break;
        }
        case Verbose:
            options.verbose = true;
            break;
        case Help:
            printUsage(stdout);
            std::exit(0);
        default:
            printUsage(stderr);
            return std::nullopt;
        }
    }
    if (optind < argc) {
        std::fprintf(stderr, "virtual-instrument: unexpected argument '%s'\n", argv[optind]);
        return std::nullopt;
    }
    const VarioModel& chosen = varioModel(options.config.model);
    const VarioModel& byFirmware = varioModelOfFirmware(options.config.identity.firmwareVersion);
    if (!options.firmwareGiven)
        options.config.identity.firmwareVersion = chosen.typicalFirmware;
    else if (&byFirmware != &chosen)
        std::fprintf(stderr, "virtual-instrument: note: the program tells the generation by the firmware version "
                             "(%u is a %s), not by --model\n", unsigned { options.config.identity.firmwareVersion }, byFirmware.name);
    // The folder the program watches, found the same way.
    if (options.instrumentsDirectory.empty())
        options.instrumentsDirectory = instrumentDirectoryPath();
    if (!options.pilotName.empty())
        options.config.initialPilotData = pilotRecord(options.pilotName, options.config.identity.deviceId);
    if (options.controlPath.empty() && !options.stateDirectory.empty())
        options.controlPath = options.stateDirectory + "/control";
    return options;
}

std::string entryName(std::uint32_t deviceId)
{
    char name[32];
    std::snprintf(name, sizeof name, "corvex-%08x", deviceId);
    return name;
}

class VirtualInstrument {
public:
    VirtualInstrument(Options options, InstrumentModel model)
        : m_options(std::move(options))
        , m_model(std::move(model))
        , m_entryPath(m_options.instrumentsDirectory + "/" + entryName(m_model.config().identity.deviceId))
    {
    }

    ~VirtualInstrument()
    {
        m_port.close();
        for (auto& client : m_clients)
            ::close(client.fd);
        if (m_listener >= 0) {
            ::close(m_listener);
            ::unlink(m_options.controlPath.c_str());
        }
        if (m_signals >= 0)
            ::close(m_signals);
    }

    bool start()
    {
        std::string error;
        if (!ensurePrivateDirectory(m_options.instrumentsDirectory, &error)) {
            std::fprintf(stderr, "virtual-instrument: %s\n", error.c_str());
            return false;
        }
        if (!setUpSignals() || !setUpControl())
            return false;
        if (!plug(error)) {
            std::fprintf(stderr, "virtual-instrument: %s\n", error.c_str());
            return false;
        }
        std::printf("%s\n", m_entryPath.c_str());
        std::fflush(stdout);
        return true;
    }

    int run()
    {
        while (!m_quit) {
            std::vector<pollfd> fds;
            fds.push_back({ m_signals, POLLIN, 0 });
            if (m_listener >= 0)
                fds.push_back({ m_listener, POLLIN, 0 });
            std::size_t firstClient = fds.size();
            for (auto& client : m_clients)
                fds.push_back({ client.fd, POLLIN, 0 });
            std::size_t masterIndex = fds.size();
            int timeoutMs = -1;
            // Pacing waits to the microsecond: rounded to whole milliseconds, an answer
            // would start, and end, up to 1 ms late. Within an answer the bytes go out
            // a millisecond's worth at a time.
            long long pacingUs = -1;
            if (m_port.isOpen()) {
                short events = POLLIN;
                if (!m_output.empty()) {
                    auto wait = pacingWait();
                    if (wait.count() <= 0)
                        events |= POLLOUT;
                    else
                        pacingUs = std::max<long long>(wait.count(), std::min<long long>(1000, lastByteWait().count()));
                }
                fds.push_back({ m_port.master(), events, 0 });
            }
            if (m_rebootAt) {
                auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*m_rebootAt - Clock::now()).count();
                int rebootMs = static_cast<int>(std::max<long long>(0, left)) + 1;
                timeoutMs = timeoutMs < 0 ? rebootMs : std::min(timeoutMs, rebootMs);
            }
            if (m_model.hasPartialRequest()) {
                auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    m_lastInput + partialRequestTimeout - Clock::now()).count();
                int partialMs = static_cast<int>(std::max<long long>(0, left)) + 1;
                timeoutMs = timeoutMs < 0 ? partialMs : std::min(timeoutMs, partialMs);
            }
            long long timeoutUs = timeoutMs < 0 ? -1 : timeoutMs * 1000LL;
            if (pacingUs >= 0)
                timeoutUs = timeoutUs < 0 ? pacingUs : std::min(timeoutUs, pacingUs);
            timespec timeout { static_cast<time_t>(timeoutUs / 1000000), static_cast<long>(timeoutUs % 1000000 * 1000) };
            int ready = ::ppoll(fds.data(), fds.size(), timeoutUs < 0 ? nullptr : &timeout, nullptr);
            if (ready < 0 && errno != EINTR) {
                std::perror("virtual-instrument: poll");
                return 1;
            }
            if (fds[0].revents & POLLIN)
                handleSignal();
            if (m_listener >= 0 && (fds[1].revents & POLLIN))
                acceptClient();
            // Clients may go away while being served; walk the snapshot by descriptor.
            std::vector<int> readable;
            for (std::size_t i = firstClient; i < masterIndex; ++i)
                if (fds[i].revents)
                    readable.push_back(fds[i].fd);
            for (int fd : readable)
                serveClient(fd);
            if (masterIndex < fds.size() && m_port.isOpen() && fds[masterIndex].fd == m_port.master()) {
                if (fds[masterIndex].revents & POLLIN)
                    readLine();
                if (m_port.isOpen() && (fds[masterIndex].revents & POLLOUT))
                    writeLine();
                if (fds[masterIndex].revents & (POLLHUP | POLLERR))
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            if (m_rebootAt && Clock::now() >= *m_rebootAt) {
                m_rebootAt.reset();
                std::string error;
                if (!plug(error))
                    std::fprintf(stderr, "virtual-instrument: %s\n", error.c_str());
            }
            if (m_model.hasPartialRequest() && Clock::now() - m_lastInput >= partialRequestTimeout) {
                if (m_options.verbose)
                    std::fprintf(stderr, "virtual-instrument: dropping an unfinished request\n");
                m_model.discardPartialRequest();
            }
        }
        return 0;
    }

private:
    struct Client {
        int fd;
        std::string buffer;
    };

    bool setUpSignals()
    {
        sigset_t set;
        sigemptyset(&set);
        for (int signal : { SIGTERM, SIGINT, SIGHUP, SIGUSR1, SIGUSR2 })
            sigaddset(&set, signal);
        if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) {
            std::perror("virtual-instrument: sigprocmask");
            return false;
        }
        std::signal(SIGPIPE, SIG_IGN);
        m_signals = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
        if (m_signals < 0) {
            std::perror("virtual-instrument: signalfd");
            return false;
        }
        return true;
    }

    bool setUpControl()
    {
        if (m_options.controlPath.empty())
            return true;
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        if (m_options.controlPath.size() >= sizeof address.sun_path) {
            std::fprintf(stderr, "virtual-instrument: control path too long: %s\n", m_options.controlPath.c_str());
            return false;
        }
        std::string folder = m_options.controlPath.substr(0, m_options.controlPath.rfind('/'));
        std::string error;
        if (m_options.controlPath.find('/') != std::string::npos && !folder.empty() && !ensurePrivateDirectory(folder, &error)) {
            std::fprintf(stderr, "virtual-instrument: %s\n", error.c_str());
            return false;
        }
        std::memcpy(address.sun_path, m_options.controlPath.c_str(), m_options.controlPath.size() + 1);
        m_listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        ::unlink(m_options.controlPath.c_str()); // a socket left by an instrument that was killed
        if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
            || ::listen(m_listener, 4) != 0) {
            std::fprintf(stderr, "virtual-instrument: control socket %s: %s\n", m_options.controlPath.c_str(), std::strerror(errno));
            return false;
        }
        return true;
    }

    bool plug(std::string& error)
    {
        if (m_port.isOpen())
            return true;
        if (!m_port.open(m_entryPath, error))
            return false;
        m_model.resetSession();
        m_output.clear();
        if (m_options.verbose)
            std::fprintf(stderr, "virtual-instrument: plugged in at %s (%s)\n", m_entryPath.c_str(), m_port.slaveName().c_str());
        return true;
    }

    void unplug()
    {
        if (!m_port.isOpen())
            return;
        m_port.close();
        m_output.clear();
        m_model.resetSession();
        if (m_options.verbose)
            std::fprintf(stderr, "virtual-instrument: unplugged\n");
    }

    void handleSignal()
    {
        signalfd_siginfo info {};
        while (::read(m_signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            std::string error;
            switch (info.ssi_signo) {
            case SIGUSR1:
                unplug();
                break;
            case SIGUSR2:
                if (!plug(error))
                    std::fprintf(stderr, "virtual-instrument: %s\n", error.c_str());
                break;
            default:
                m_quit = true;
                break;
            }
        }
    }

    void acceptClient()
    {
        int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0)
            m_clients.push_back({ fd, {} });
    }

    void dropClient(int fd)
    {
        ::close(fd);
        std::erase_if(m_clients, [fd](const Client& client) { return client.fd == fd; });
    }

    void serveClient(int fd)
    {
        char buffer[512];
        ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count == 0 || (count < 0 && errno != EAGAIN && errno != EINTR)) {
            dropClient(fd);
            return;
        }
        if (count < 0)
            return;
        auto it = std::find_if(m_clients.begin(), m_clients.end(), [fd](const Client& client) { return client.fd == fd; });
        if (it == m_clients.end())
            return;
        it->buffer.append(buffer, static_cast<std::size_t>(count));
        std::size_t end;
        while ((end = it->buffer.find('\n')) != std::string::npos) {
            std::string line = it->buffer.substr(0, end);
            it->buffer.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.empty())
                continue;
            std::string reply = command(line) + "\n";
            // Replies are one short line; a client that cannot take it is dropped.
            if (::write(fd, reply.data(), reply.size()) != static_cast<ssize_t>(reply.size())) {
                dropClient(fd);
                return;
            }
        }
        if (it->buffer.size() > 4096)
            dropClient(fd);
    }

    std::string command(const std::string& line)
    {
        std::string error;
        std::string_view text(line);
        std::string_view name = text.substr(0, text.find(' '));
        std::string_view arguments = name.size() < text.size() ? text.substr(name.size() + 1) : std::string_view();
        if (m_options.verbose)
            std::fprintf(stderr, "virtual-instrument: control: %s\n", line.c_str());
        if (name == "unplug") {
            unplug();
            return "ok";
        }
        if (name == "plug") {
            m_rebootAt.reset();
            return plug(error) ? "ok" : "error " + error;
        }
        if (name == "replug") {
            unplug();
            std::this_thread::sleep_for(replugPause);
            return plug(error) ? "ok" : "error " + error;
        }
        if (name == "fault") {
            auto problem = m_model.applyFaultCommand(arguments);
            return problem ? "error " + *problem : "ok";
        }
        if (name == "status")
            return m_port.isOpen() ? "ok plugged " + m_entryPath : "ok unplugged";
        if (name == "traffic")
            return "ok " + std::to_string(m_bytesIn) + " " + std::to_string(m_bytesOut);
        if (name == "unplug-after") {
            unsigned long count = 0;
            if (!parseNumber(std::string(arguments).c_str(), 10, ~0UL, count) || count == 0)
                return "error unplug-after wants a byte count of 1 or more";
            m_unplugAfter = count;
            return "ok";
        }
        if (name == "quit") {
            m_quit = true;
            return "ok";
        }
        return "error unknown command '" + std::string(name) + "'";
    }

    void readLine()
    {
        std::uint8_t buffer[4096];
        ssize_t count = ::read(m_port.master(), buffer, sizeof buffer);
        if (count <= 0)
            return; // EAGAIN, or EIO while no one holds the slave: keep the entry published
        // A cable pulled in the middle of a request: the instrument sees only its start.
        if (m_unplugAfter)
            count = static_cast<ssize_t>(std::min(static_cast<std::size_t>(count), *m_unplugAfter));
        bool pulled = countTraffic(m_bytesIn, static_cast<std::size_t>(count));
        m_lastInput = Clock::now();
        if (m_options.pace) {
            // The request came through the pty at once; on the line its bytes take their
            // time too, and the instrument cannot answer before the last one is in.
            m_requestInAt = std::max(m_lastInput, m_requestInAt)
                + std::chrono::microseconds(static_cast<long long>(static_cast<double>(count) * 1e6 / pacedBytesPerSecond));
        }
        ByteView received(buffer, static_cast<std::size_t>(count));
        if (m_options.verbose)
            std::fprintf(stderr, "virtual-instrument: read %s\n", describeBytes(received).c_str());
        for (const Bytes& write : m_model.receive(received)) {
            if (m_options.verbose)
                std::fprintf(stderr, "virtual-instrument: answer %s\n", describeBytes(write).c_str());
            queue(write);
        }
        if (pulled && !m_model.takeRebootRequest()) {
            unplug();
            return;
        }
        if (pulled) {
            // The restart was asked for as the cable went: the new firmware is in, but
            // the instrument stays off the bus until it is plugged in again.
            unplug();
            m_model.prepareTransfers();
            return;
        }
        if (m_model.takeRebootRequest()) {
            if (m_options.verbose)
                std::fprintf(stderr, "virtual-instrument: rebooting on firmware %u\n", m_model.firmwareVersion());
            unplug();
            // The transfers depend on the firmware: made now, while the instrument is off
            // the bus, the first answers after the restart are not late (under the
            // sanitizers making them takes longer than the protocol's 0.1 s).
            m_model.prepareTransfers();
            m_rebootAt = Clock::now() + rebootPause;
        }
    }

    void queue(const Bytes& bytes)
    {
        if (m_output.empty()) {
            // The line has been idle: pacing starts again once the request is in.
            auto start = std::max(Clock::now(), m_requestInAt);
            if (start > lineFreeAt()) {
                m_paceStart = start;
                m_pacedBytes = 0;
            }
        }
        m_output.insert(m_output.end(), bytes.begin(), bytes.end());
    }

    Clock::time_point lineFreeAt() const
    {
        return m_paceStart + std::chrono::microseconds(static_cast<long long>(m_pacedBytes * 1e6 / pacedBytesPerSecond));
    }

    // How long until the next byte may go out (zero or less: now).
    std::chrono::microseconds pacingWait() const
    {
        if (!m_options.pace)
            return std::chrono::microseconds(0);
        return std::chrono::duration_cast<std::chrono::microseconds>(lineFreeAt() - Clock::now());
    }

    // How long until the last queued byte's slot.
    std::chrono::microseconds lastByteWait() const
    {
        const std::size_t last = m_pacedBytes + m_output.size() - 1;
        return std::chrono::duration_cast<std::chrono::microseconds>(m_paceStart
            + std::chrono::microseconds(static_cast<long long>(static_cast<double>(last) * 1e6 / pacedBytesPerSecond))
            - Clock::now());
    }

    void writeLine()
    {
        std::size_t allowed = m_output.size();
        if (m_options.pace) {
            // Bytes whose time has come: one byte goes out at the start of its slot.
            double elapsed = std::chrono::duration<double>(Clock::now() - m_paceStart).count();
            if (elapsed < 0)
                return;
            auto due = static_cast<std::size_t>(elapsed * pacedBytesPerSecond) + 1;
            allowed = due > m_pacedBytes ? std::min(allowed, due - m_pacedBytes) : 0;
        }
        if (m_unplugAfter)
            allowed = std::min(allowed, *m_unplugAfter);
        if (allowed == 0)
            return;
        std::vector<std::uint8_t> chunk(m_output.begin(), m_output.begin() + static_cast<std::ptrdiff_t>(allowed));
        ssize_t written = ::write(m_port.master(), chunk.data(), chunk.size());
        if (written <= 0)
            return;
        m_output.erase(m_output.begin(), m_output.begin() + written);
        m_pacedBytes += static_cast<std::size_t>(written);
        if (countTraffic(m_bytesOut, static_cast<std::size_t>(written)))
            unplug();
    }

    // Counts bytes across the line; true when an armed unplug-after has reached its
    // last byte and the cable is to be pulled.
    bool countTraffic(std::size_t& counter, std::size_t count)
    {
        counter += count;
        if (!m_unplugAfter)
            return false;
        *m_unplugAfter -= std::min(*m_unplugAfter, count);
        if (*m_unplugAfter > 0)
            return false;
        m_unplugAfter.reset();
        if (m_options.verbose)
            std::fprintf(stderr, "virtual-instrument: unplugging after %zu bytes in, %zu out\n", m_bytesIn, m_bytesOut);
        return true;
    }

    Options m_options;
    InstrumentModel m_model;
    std::string m_entryPath;
    PtyPort m_port;
    int m_signals { -1 };
    int m_listener { -1 };
    std::vector<Client> m_clients;
    std::deque<std::uint8_t> m_output;
    Clock::time_point m_paceStart {};
    std::size_t m_pacedBytes { 0 };
    Clock::time_point m_requestInAt {};
    Clock::time_point m_lastInput {};
    std::optional<Clock::time_point> m_rebootAt;
    std::size_t m_bytesIn { 0 };
    std::size_t m_bytesOut { 0 };
    std::optional<std::size_t> m_unplugAfter;
    bool m_quit { false };
};

} // namespace

int main(int argc, char** argv)
{
    auto options = parseOptions(argc, argv);
    if (!options)
        return 2;
    std::vector<std::string> problems;
    std::vector<Flight> flights = loadFlights(options->igcDirectory, &problems);
    for (const std::string& problem : problems)
        std::fprintf(stderr, "virtual-instrument: %s\n", problem.c_str());
    if (options->verbose)
        std::fprintf(stderr, "virtual-instrument: %zu flights from %s\n", flights.size(), options->igcDirectory.c_str());
    InstrumentModel model(options->config, std::move(flights), StateStore(options->stateDirectory));
    model.prepareTransfers();
    VirtualInstrument instrument(std::move(*options), std::move(model));
    if (!instrument.start())
        return 1;
    return instrument.run();
}
