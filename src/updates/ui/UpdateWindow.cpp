#include "updates/ui/UpdateWindow.h"

#include "device/CorvexDevice.h"
#include "device/FirmwareVersion.h"
#include "platform/qt/PreferencesStore.h"
#include "ui_UpdateWindow.h"

#include <QCoreApplication>

namespace corvex {

UpdateWindow::UpdateWindow(PreferencesStore& preferences, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_ui(std::make_unique<Ui::UpdateWindow>())
    , m_preferences(preferences)
{
    m_ui->setupUi(this);
    QFont headline = font();
    headline.setBold(true);
    headline.setPointSizeF(font().pointSizeF() * 1.3);
    m_ui->headlineLabel->setFont(headline);
    connect(m_ui->closeButton, &QPushButton::clicked, this, &QWidget::close);
    setIsBetaVersionUpdateWindow(false);
    showVersions();
}

UpdateWindow::~UpdateWindow() = default;

void UpdateWindow::checkUpdates()
{
    // The versions feed is not read yet: record the request and show what is known.
    ++m_checkUpdatesRequests;
    m_instrumentConnected = true;
    showVersions();
}

void UpdateWindow::setIsBetaVersionUpdateWindow(bool beta)
{
    m_isBeta = beta;
    setWindowTitle(beta ? tr("Beta Software Update") : tr("Software Update"));
    m_ui->headlineLabel->setText(beta ? tr("Beta versions") : tr("Released versions"));
}

void UpdateWindow::deviceDisconnected()
{
    m_instrumentConnected = false;
    showVersions();
}

void UpdateWindow::showVersions()
{
    m_ui->programVersionLabel->setText(QCoreApplication::applicationVersion());
    if (m_instrumentConnected && m_device) {
        m_ui->firmwareVersionLabel->setText(QString::fromStdString(m_device->firmwareVersion().text())
            + (m_device->firmwareVersion().isWren() ? tr(" (Wren)") : tr(" (Lark)")));
    } else {
        m_ui->firmwareVersionLabel->setText(tr("No instrument connected"));
    }
    m_ui->statusLabel->setText(tr("No updates checked yet."));
}

} // namespace corvex
