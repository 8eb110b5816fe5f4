#pragma once

#include "support/QtTestHelpers.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

namespace corvex::testing {

// build/vendor-server on a free loopback port, with an approved-sets folder of its
// own. Stopped when destroyed.
class VendorServerProcess {
public:
    explicit VendorServerProcess(QStringList extraArguments = { "--test-replies" });
    ~VendorServerProcess();

    bool isRunning() const { return !m_baseUrl.isEmpty(); }
    const QString& baseUrl() const { return m_baseUrl; }
    QString serviceUrl() const { return m_baseUrl + "/api/Airspaces.svc"; }
    QString approvedDirectory() const { return m_approved.path(); }
    QString productsDirectory() const { return m_products.path(); }
    QString standardError();

private:
    QTemporaryDir m_approved;
    QTemporaryDir m_products;
    QProcess m_process;
    QString m_baseUrl;
};

} // namespace corvex::testing
