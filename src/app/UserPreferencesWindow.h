#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class UserPreferencesWindow;
}

namespace corvex {

class PreferencesStore;

// The preferences window. Its one check box is the preference "logCommunications":
// ticking it writes the preference and nothing else; the device hears of it through
// the store's change signal like every other listener.
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

    std::unique_ptr<Ui::UserPreferencesWindow> m_ui;
    PreferencesStore& m_preferences;
};

} // namespace corvex
