// The stand-in server as a SOAP 1.1 service: what it answers to requests that our
// client would never send.
#include "VendorServerProcess.h"

#include "airspaces/AirspacesSoap.h"

#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <gtest/gtest.h>

#include <memory>

using namespace corvex::airspacesSoap;
using corvex::testing::waitUntil;
using corvex::testing::VendorServerProcess;

namespace {

struct HttpAnswer {
    int status { 0 };
    QByteArray body;
};

HttpAnswer send(const QString& url, const QByteArray& method, const QByteArray& soapAction, const QByteArray& contentType,
    const QByteArray& body)
{
    QNetworkAccessManager manager;
    QNetworkRequest request { QUrl(url) };
    if (!soapAction.isNull())
        request.setRawHeader("SOAPAction", soapAction);
    if (!contentType.isNull())
        request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
    QNetworkReply* reply = manager.sendCustomRequest(request, method, body);
    bool done = false;
    QObject::connect(reply, &QNetworkReply::finished, [&] { done = true; });
    waitUntil([&] { return done; });
    HttpAnswer answer { reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll() };
    reply->deleteLater();
    return answer;
}

QByteArray action(Operation operation)
{
    return QByteArray::fromStdString(soapAction(operation));
}

} // namespace

TEST(VendorServer, AnswersBadRequestsWithSoapFaults)
{
    VendorServerProcess server;
    ASSERT_TRUE(server.isRunning());
    const QString url = server.serviceUrl();
    const QByteArray list = QByteArray::fromStdString(approvedAirspacesListRequest());

    // The quoted form of SOAPAction is the usual one and works as well.
    auto answer = send(url, "POST", '"' + action(Operation::GetApprovedAirspacesList) + '"', "text/xml; charset=utf-8", list);
    EXPECT_EQ(answer.status, 200);
    EXPECT_TRUE(answer.body.contains("GetApprovedAirspacesListResult"));

    answer = send(url, "POST", "http://tempuri.org/IWsAirspaces/Nothing", "text/xml; charset=utf-8", list);
    EXPECT_EQ(answer.status, 500);
    EXPECT_TRUE(answer.body.contains("<s:Fault><faultcode>s:Client</faultcode>"));

    // SOAPAction and body must name the same operation.
    answer = send(url, "POST", action(Operation::GetApprovedAirspaces), "text/xml; charset=utf-8", list);
    EXPECT_EQ(answer.status, 500);
    EXPECT_TRUE(answer.body.contains("s:Fault"));

    answer = send(url, "POST", action(Operation::GetApprovedAirspacesList), "text/xml; charset=utf-8", "<not xml");
    EXPECT_EQ(answer.status, 500);
    answer = send(url, "POST", action(Operation::GetApprovedAirspacesList), "text/xml; charset=utf-8",
        "<Envelope><Body><GetApprovedAirspacesList/></Body></Envelope>");
    EXPECT_EQ(answer.status, 500) << "an envelope outside the SOAP namespace";

    answer = send(url, "POST", action(Operation::GetApprovedAirspacesList), "application/json", list);
    EXPECT_EQ(answer.status, 415);
    answer = send(url, "GET", {}, {}, {});
    EXPECT_EQ(answer.status, 405);

    const QByteArray noId = QByteArray::fromStdString(envelope("<GetApprovedAirspaces xmlns=\"http://tempuri.org/\"/>"));
    answer = send(url, "POST", action(Operation::GetApprovedAirspaces), "text/xml; charset=utf-8", noId);
    EXPECT_EQ(answer.status, 500);
    EXPECT_TRUE(answer.body.contains("is not an integer"));

    const QByteArray noContent = QByteArray::fromStdString(envelope("<ConvertOpenAir xmlns=\"http://tempuri.org/\"><request/></ConvertOpenAir>"));
    answer = send(url, "POST", action(Operation::ConvertOpenAir), "text/xml; charset=utf-8", noContent);
    EXPECT_EQ(answer.status, 500);
    EXPECT_TRUE(answer.body.contains("no OpenAirContent"));
}

TEST(VendorServer, ServesTheProductsFolderOnly)
{
    VendorServerProcess server;
    ASSERT_TRUE(server.isRunning());
    QFile feed(QDir(server.productsDirectory()).filePath("versions.xml"));
    ASSERT_TRUE(feed.open(QIODevice::WriteOnly));
    feed.write("<versions><products><product id=\"firmware\" version=\"1.400\" url=\"x\"/></products></versions>");
    feed.close();
    QDir(server.productsDirectory()).mkpath("firmware");
    QFile firmware(QDir(server.productsDirectory()).filePath("firmware/lark.srec"));
    ASSERT_TRUE(firmware.open(QIODevice::WriteOnly));
    firmware.write("S00600004844521B\n");
    firmware.close();

    auto answer = send(server.baseUrl() + "/versions.xml", "GET", {}, {}, {});
    EXPECT_EQ(answer.status, 200);
    EXPECT_TRUE(answer.body.startsWith("<versions>"));
    EXPECT_EQ(send(server.baseUrl() + "/firmware/lark.srec", "GET", {}, {}, {}).body, "S00600004844521B\n");
    EXPECT_EQ(send(server.baseUrl() + "/missing.zip", "GET", {}, {}, {}).status, 404);
    EXPECT_EQ(send(server.baseUrl() + "/firmware/%2E%2E/%2E%2E/etc/passwd", "GET", {}, {}, {}).status, 404);
    EXPECT_EQ(send(server.baseUrl() + "/firmware", "GET", {}, {}, {}).status, 404);
}
