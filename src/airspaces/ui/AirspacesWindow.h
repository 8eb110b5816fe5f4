#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class AirspacesWindow;
}

namespace corvex {

class CorvexDevice;
class PreferencesStore;

// The airspaces manager window. It lives for the whole run; the application controller
// presents it from the menu and tells it when the instrument goes.
class AirspacesWindow final : public QWidget {
    Q_OBJECT

public:
    explicit AirspacesWindow(PreferencesStore& preferences, QWidget* parent = nullptr);
    ~AirspacesWindow() override;

    Ui::AirspacesWindow& ui() { return *m_ui; }

    void setDevice(CorvexDevice* device) { m_device = device; }
    CorvexDevice* device() const { return m_device; }

    void presentAirspacesWindow();
    // Clears the instrument's airspaces. The transfer commands are not built yet, so
    // this does not talk to the instrument; it counts the requests.
    void clearAirspaces();
    int clearAirspacesRequests() const { return m_clearRequests; }

    void deviceDisconnected();

private:
    void showInstrumentState();

    std::unique_ptr<Ui::AirspacesWindow> m_ui;
    PreferencesStore& m_preferences;
    CorvexDevice* m_device { nullptr };
    int m_clearRequests { 0 };
};

} // namespace corvex
