#include "airspaces/ui/AirspacesWindow.h"

#include "device/CorvexDevice.h"
#include "device/FirmwareVersion.h"
#include "platform/qt/PreferencesStore.h"
#include "ui_AirspacesWindow.h"

#include <QPalette>
#include <QPixmap>

namespace corvex {

AirspacesWindow::AirspacesWindow(PreferencesStore& preferences, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_ui(std::make_unique<Ui::AirspacesWindow>())
    , m_preferences(preferences)
{
    m_ui->setupUi(this);
    QFont headline = font();
    headline.setBold(true);
    headline.setPointSizeF(font().pointSizeF() * 1.3);
    m_ui->headlineLabel->setFont(headline);
    QPixmap background(QStringLiteral(":/images/cloudsBrightest.tiff"));
    if (!background.isNull()) {
        QPalette palette = this->palette();
        palette.setBrush(QPalette::Window, QBrush(background));
        setPalette(palette);
    }
    showInstrumentState();
}

AirspacesWindow::~AirspacesWindow() = default;

void AirspacesWindow::presentAirspacesWindow()
{
    showInstrumentState();
    show();
    raise();
    activateWindow();
}

void AirspacesWindow::clearAirspaces()
{
    ++m_clearRequests;
}

void AirspacesWindow::deviceDisconnected()
{
    showInstrumentState();
}

void AirspacesWindow::showInstrumentState()
{
    if (m_device && m_device->hasOpenLine()) {
        m_ui->instrumentStatusLabel->setText(tr("Instrument connected, firmware %1.")
                .arg(QString::fromStdString(m_device->firmwareVersion().text())));
    } else {
        m_ui->instrumentStatusLabel->setText(tr("No instrument connected."));
    }
}

} // namespace corvex
