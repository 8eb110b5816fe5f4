#pragma once

#include "CapturingLogSink.h"
#include "app/AppDelegate.h"
#include "app/MainWindow.h"
#include "platform/AlertPresenter.h"
#include "platform/Discovery.h"
#include "platform/EventLoop.h"
#include "platform/qt/PreferencesStore.h"
#include "ui_MainWindow.h"

#include "support/QtTestHelpers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

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

// Records every alert and answers its first button; a test can act while an alert is
// "open" (a real one turns the event loop).
class RecordingAlerts final : public AlertPresenter {
public:
    int showAlert(const Alert& alert) override
    {
        alerts.push_back(alert);
        if (duringAlert)
            duringAlert();
        return 0;
    }
    std::vector<Alert> alerts;
    std::function<void()> duringAlert;
};


// Turns the event loop once, without waiting: the erase's 21 s of waiting and the
// transfers' short turns cost nothing, and windows still see their events.
class InstantEventLoop final : public EventLoopTurner {
public:
    void runEventLoopFor(double) override
    {
        ++turns;
        QCoreApplication::processEvents();
    }
    int turns { 0 };
};

// The program's controller and main window on given ports and discovery, with the log
// and the alerts recorded and the preferences in a fresh file of their own.
struct AppHarness {
    AppHarness(SerialPortOpener& ports, SerialDeviceDiscovery* discovery, EventLoopTurner* eventLoop = nullptr)
        : preferences(settingsFolder.filePath(QStringLiteral("CorvexVario.conf")))
    {
        AppDelegate::Environment environment;
        environment.log = &log;
        environment.alerts = &alerts;
        environment.ports = &ports;
        environment.discovery = discovery;
        environment.preferences = &preferences;
        environment.eventLoop = eventLoop;
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

} // namespace corvex::testing
