#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvex::testing {

// Starts build/virtual-instrument as a child process on a real pty, with its own fresh
// state folder and instruments directory (both under a temporary folder removed at the
// end), and waits until the instrument is published. Integration and widget tests talk
// to it through the real CorvexDevice, as the program does.
class VirtualInstrumentProcess {
public:
    struct Options {
        std::string model { "wren" }; // "lark" or "wren"
        std::uint32_t deviceId { 0x00C0FFEE };
        std::uint16_t firmwareVersion { 2405 };
        std::uint8_t batteryTenthsOfVolt { 40 };
        std::uint8_t unitsBitfield { 0x08 };
        std::string igcDirectory; // empty: the shared test flights
        std::string stateDirectory; // empty: a fresh temporary one
        std::string instrumentsDirectory; // empty: a fresh temporary one
        std::vector<std::string> extraArguments; // passed through to the instrument
    };

    VirtualInstrumentProcess();
    explicit VirtualInstrumentProcess(Options options);
    ~VirtualInstrumentProcess(); // stops the instrument and removes its temporary folders
    VirtualInstrumentProcess(const VirtualInstrumentProcess&) = delete;
    VirtualInstrumentProcess& operator=(const VirtualInstrumentProcess&) = delete;

    bool isRunning() const;
    // The instrument's process id (for signals), or -1 when it is not running.
    int pid() const { return m_pid; }
    const std::string& instrumentsDirectory() const { return m_instrumentsDirectory; }
    const std::string& stateDirectory() const { return m_stateDirectory; }
    // The published entry in the instruments directory (what discovery reports).
    std::string portPath() const;

    // Sends one control command and waits for the instrument's acknowledgement.
    // Returns false when the instrument did not acknowledge it.
    bool control(std::string_view command);
    // The instrument's whole reply line ("ok", "ok plugged ...", "error <why>"), or an
    // empty text when it did not answer.
    std::string controlReply(std::string_view command);
    bool unplug() { return control("unplug"); }
    bool plug() { return control("plug"); }

    // Stops the process (state stays in the state folder) and starts it again on it.
    bool restart();

    // The control socket of the instrument.
    std::string controlPath() const;

private:
    // implementation detail, owned by the virtual instrument's author
    bool start();
    void stop();

    Options m_options;
    std::string m_scratch;
    std::string m_stateDirectory;
    std::string m_instrumentsDirectory;
    int m_pid { -1 };
};

} // namespace corvex::testing
