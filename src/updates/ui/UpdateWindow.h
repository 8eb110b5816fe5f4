#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class UpdateWindow;
}

namespace corvex {

class CorvexDevice;
class PreferencesStore;

// The update window: software and firmware updates from the vendor's server. It lives
// for the whole run; the application controller shows it from the menus and asks it to
// check for updates on every connection.
class UpdateWindow final : public QWidget {
    Q_OBJECT

public:
    explicit UpdateWindow(PreferencesStore& preferences, QWidget* parent = nullptr);
    ~UpdateWindow() override;

    Ui::UpdateWindow& ui() { return *m_ui; }

    void setDevice(CorvexDevice* device) { m_device = device; }
    CorvexDevice* device() const { return m_device; }

    // Started on every connection, after the device info has been read.
    void checkUpdates();
    int checkUpdatesRequests() const { return m_checkUpdatesRequests; }

    // A firmware installation that asks for the log book to be erased sets this; the
    // next connection clears it and erases.
    bool isLogBookEraseScheduledForNextDeviceConnect() const { return m_logBookEraseScheduled; }
    void setIsLogBookEraseScheduledForNextDeviceConnect(bool scheduled) { m_logBookEraseScheduled = scheduled; }

    bool isBetaVersionUpdateWindow() const { return m_isBeta; }
    void setIsBetaVersionUpdateWindow(bool beta);

    void deviceDisconnected();

private:
    void showVersions();

    std::unique_ptr<Ui::UpdateWindow> m_ui;
    PreferencesStore& m_preferences;
    CorvexDevice* m_device { nullptr };
    bool m_logBookEraseScheduled { false };
    bool m_isBeta { false };
    bool m_instrumentConnected { false };
    int m_checkUpdatesRequests { 0 };
};

} // namespace corvex
