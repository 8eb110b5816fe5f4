#include "app/UserPreferencesWindow.h"

#include "platform/qt/PreferencesStore.h"
#include "ui_UserPreferencesWindow.h"

#include <QSignalBlocker>

namespace corvex {

UserPreferencesWindow::UserPreferencesWindow(PreferencesStore& preferences, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_ui(std::make_unique<Ui::UserPreferencesWindow>())
    , m_preferences(preferences)
{
    m_ui->setupUi(this);
    showStoredValues();
    connect(m_ui->logCommunicationsCheckbox, &QCheckBox::toggled, this, [this](bool checked) {
        m_preferences.setValue(QStringLiteral("logCommunications"), checked);
        logCommunicationsCheckbox();
    });
    connect(&m_preferences, &PreferencesStore::changed, this, &UserPreferencesWindow::showStoredValues);
}

UserPreferencesWindow::~UserPreferencesWindow() = default;

void UserPreferencesWindow::showStoredValues()
{
    const QSignalBlocker blocker(m_ui->logCommunicationsCheckbox);
    m_ui->logCommunicationsCheckbox->setChecked(m_preferences.boolValue(QStringLiteral("logCommunications")));
}

} // namespace corvex
