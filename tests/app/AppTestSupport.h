#pragma once

#include "CapturingLogSink.h"
#include "VirtualInstrumentProcess.h"
#include "app/AppDelegate.h"
#include "app/FilePanelPresenter.h"
#include "app/MainWindow.h"
#include "platform/AlertPresenter.h"
#include "platform/Discovery.h"
#include "platform/EventLoop.h"
#include "platform/HttpClient.h"
#include "platform/PosixSerialLine.h"
#include "platform/qt/PreferencesStore.h"
#include "platform/qt/SystemDiscovery.h"
#include "ui_MainWindow.h"

#include "support/QtTestHelpers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdlib>
#include <deque>
#include <optional>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace corvex::testing {

// Discovery driven by the test: the paths in `present` are reported by start(), plug()
// and unplug() report later arrivals and removals.
class ManualDiscovery final : public SerialDeviceDiscovery {
public:
    void start(Matched matched, Terminated terminated) override
    {
        m_matched = std::move(matched);
        m_terminated = std::move(terminated);
        for (const std::string& path : present)
            m_matched(path, 1);
    }
    void plug(const std::string& path) { m_matched(path, 1); }
    void unplug(const std::string& path) { m_terminated(path); }
    bool started() const { return static_cast<bool>(m_matched); }

    std::vector<std::string> present;

private:
    Matched m_matched;
    Terminated m_terminated;
};

// Records every alert and answers its first button, or the next of the given answers;
// a test can act while an alert is "open" (a real one turns the event loop).
class RecordingAlerts final : public AlertPresenter {
public:
    int showAlert(const Alert& alert) override
    {
        alerts.push_back(alert);
        if (duringAlert)
            duringAlert();
        if (answers.empty())
            return 0;
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::vector<Alert> alerts;
    std::function<void()> duringAlert;
    std::deque<int> answers;
};


// The real serial line, with a hook that runs before each request goes out.
class HookedPorts final : public SerialPortOpener {
public:
    std::function<void(ByteView request)> beforeWrite;

    PortOpenResult open(const std::string& path) override
    {
        auto line = m_ports.open(path);
        if (!line)
            return line;
        return std::unique_ptr<SerialLine>(std::make_unique<HookedLine>(std::move(*line), *this));
    }

private:
    class HookedLine final : public SerialLine {
    public:
        HookedLine(std::unique_ptr<SerialLine> line, HookedPorts& owner)
            : m_line(std::move(line))
            , m_owner(owner)
        {
        }
        TerminalSetupReport configureRaw115200() override { return m_line->configureRaw115200(); }
        std::variant<std::size_t, LineError> readSome(std::span<std::uint8_t> buffer) override
        {
            return m_line->readSome(buffer);
        }
        std::variant<std::size_t, LineError> readSomeWithin(std::span<std::uint8_t> buffer, std::chrono::milliseconds silence) override
        {
            return m_line->readSomeWithin(buffer, silence);
        }
        std::variant<std::monostate, LineError> writeAll(ByteView bytes) override
        {
            if (m_owner.beforeWrite)
                m_owner.beforeWrite(bytes);
            return m_line->writeAll(bytes);
        }

    private:
        std::unique_ptr<SerialLine> m_line;
        HookedPorts& m_owner;
    };

    PosixSerialPortOpener m_ports;
};

// Turns the event loop once, without waiting: the erase's 21 s of waiting and the
// transfers' short turns cost nothing, and windows still see their events.
class InstantEventLoop final : public EventLoopTurner {
public:
    void runEventLoopFor(double) override
    {
        ++turns;
        if (duringTurn)
            duringTurn();
        QCoreApplication::processEvents();
    }
    int turns { 0 };
    // Runs at every turn, before the events: a removal, a click.
    std::function<void()> duringTurn;
};

// The program's controller and main window on given ports and discovery, with the log
// and the alerts recorded and the preferences in a fresh file of their own.
struct AppHarness {
    // updatesHttp answers the update checks; without it they go to the refused address
    // the preferences set.
    AppHarness(SerialPortOpener& ports, SerialDeviceDiscovery* discovery, EventLoopTurner* eventLoop = nullptr,
        HttpClient* updatesHttp = nullptr)
        : preferences(settingsFolder.filePath(QStringLiteral("CorvexVario.conf")))
    {
        // The update check of every connection is refused at once instead of reaching
        // out to the network.
        preferences.setValue(QStringLiteral("vendorServerURL"), QStringLiteral("http://127.0.0.1:1"));
        // The library tests turn it on; the others count on the instrument being free.
        preferences.setValue(QStringLiteral("syncFlightsOnConnection"), false);
        AppDelegate::Environment environment;
        environment.log = &log;
        environment.alerts = &alerts;
        environment.ports = &ports;
        environment.discovery = discovery;
        environment.preferences = &preferences;
        environment.eventLoop = eventLoop;
        environment.updatesHttp = updatesHttp;
        controller = std::make_unique<AppDelegate>(window, environment);
    }

    void launch() { controller->applicationDidFinishLaunching(); }

    Ui::MainWindow& ui() { return window.ui(); }
    CorvexDevice& device() { return *controller->device(); }

    std::vector<std::string> comboTitles()
    {
        std::vector<std::string> titles;
        for (int i = 0; i < ui().logEntriesCombo->count(); ++i)
            titles.push_back(ui().logEntriesCombo->itemText(i).toStdString());
        return titles;
    }

    QTemporaryDir settingsFolder;
    CapturingLogSink log;
    RecordingAlerts alerts;
    PreferencesStore preferences;
    MainWindow window;
    std::unique_ptr<AppDelegate> controller;
};

// The program's pieces on the instrument's folder: system discovery (udev is off in
// the test main) and the real serial line, unless the test brings its own ports.
struct PtyApp {
    explicit PtyApp(VirtualInstrumentProcess& instrument, SerialPortOpener* ports = nullptr, EventLoopTurner* eventLoop = nullptr,
        HttpClient* updatesHttp = nullptr)
    {
        setenv("CORVEX_INSTRUMENT_DIR", instrument.instrumentsDirectory().c_str(), 1);
        discovery = makeSystemDiscovery(discoveryLog);
        app = std::make_unique<AppHarness>(ports ? *ports : posixPorts, discovery.get(), eventLoop, updatesHttp);
    }

    CapturingLogSink discoveryLog;
    PosixSerialPortOpener posixPorts;
    std::unique_ptr<SerialDeviceDiscovery> discovery;
    std::unique_ptr<AppHarness> app;
};

// Answers every panel with the next prepared path (nothing: the user cancels) and
// records what was asked.
class AnsweringPanels final : public FilePanelPresenter {
public:
    std::optional<QString> runSavePanel(const SavePanelRequest& request) override
    {
        saveRequests.push_back(request);
        return answer;
    }
    std::optional<QString> runFolderPanel(const FolderPanelRequest& request) override
    {
        folderRequests.push_back(request);
        return answer;
    }

    std::optional<QString> answer;
    std::vector<SavePanelRequest> saveRequests;
    std::vector<FolderPanelRequest> folderRequests;
};

} // namespace corvex::testing
