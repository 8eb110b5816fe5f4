#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class UserPreferencesWindow;
}

namespace corvex {

class PreferencesStore;

// The preferences window: the communications log, and how the airspaces window shows
// its map ("airspacesMapType", "displayAirspacesAs") and whether it offers OpenAir
// files ("openAirEnabled"). Each control writes its preference and nothing else; the
// device and the airspaces window hear of it through the store's change signal like
// every other listener.
class UserPreferencesWindow final : public QWidget {
    Q_OBJECT

public:
    explicit UserPreferencesWindow(PreferencesStore& preferences, QWidget* parent = nullptr);
    ~UserPreferencesWindow() override;

    Ui::UserPreferencesWindow& ui() { return *m_ui; }

public slots:
    // The check box's action: the binding has already stored the value.
    void logCommunicationsCheckbox() { }

private:
    void showStoredValues();
    QString currentLibraryFolder() const;

    std::unique_ptr<Ui::UserPreferencesWindow> m_ui;
    PreferencesStore& m_preferences;
};

} // namespace corvex
