#include "VendorServerProcess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>

namespace corvex::testing {

VendorServerProcess::VendorServerProcess(QStringList extraArguments)
{
    QStringList arguments { "--port", "0", "--approved-dir", m_approved.path(), "--products-dir", m_products.path() };
    arguments += extraArguments;
    m_process.start(QString(CORVEX_BUILD_DIR) + "/vendor-server", arguments);
    if (!m_process.waitForStarted(5000))
        return;
    // The server prints its URL once it listens.
    QDeadlineTimer deadline(10000);
    while (!m_process.canReadLine() && !deadline.hasExpired() && m_process.state() == QProcess::Running)
        m_process.waitForReadyRead(100);
    if (m_process.canReadLine())
        m_baseUrl = QString::fromUtf8(m_process.readLine()).trimmed();
}

VendorServerProcess::~VendorServerProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
}

QString VendorServerProcess::standardError()
{
    return QString::fromUtf8(m_process.readAllStandardError());
}

} // namespace corvex::testing
