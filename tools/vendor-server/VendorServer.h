#pragma once

#include <QAbstractHttpServer>
#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

class QHttpServerResponder;

namespace corvex::vendorserver {

struct Options {
    QString approvedDirectory; // approved sets: internal-format files and index.txt
    QString productsDirectory; // versions.xml and the files it points to
    QString tilesDirectory; // map tiles as z/x/y.png, served under /tiles/
    // Extra set ids whose replies are broken on purpose (see ApprovedSets.h).
    bool testReplies { false };
};

// What a SOAP call or a file request answers: the status, the content type and the body.
struct Reply {
    int status { 200 };
    QByteArray contentType;
    QByteArray body;
    QByteArray allow; // the Allow header of a 405
    std::chrono::milliseconds delay { 0 };
};

// The pure part of the service, so it can be tested without sockets.
Reply answerSoapCall(const Options& options, const QByteArray& soapActionHeader, const QByteArray& contentType, const QByteArray& body);
Reply answerFileRequest(const Options& options, const QString& path);

// The stand-in vendor web server on loopback: the airspaces SOAP service at
// /api/Airspaces.svc, map tiles under /tiles/ (a stand-in for a public tile server), and
// the products folder for everything else.
class VendorServer final : public QAbstractHttpServer {
public:
    explicit VendorServer(Options options);

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    Options m_options;
};

} // namespace corvex::vendorserver
