// The stand-in vendor web server: the airspaces SOAP service and the products folder
// on loopback, for the demo and the tests.
#include "VendorServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName("vendor-server");

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Serves the airspaces SOAP service at /api/Airspaces.svc, map tiles at /tiles/, and the products folder "
        "(versions.xml, firmware and software files) on 127.0.0.1. Prints the base URL on stdout once it listens.");
    parser.addHelpOption();
    QCommandLineOption port("port", "TCP port; 0 picks a free one.", "N", "0");
    QCommandLineOption approved("approved-dir", "Folder of approved sets: internal-format files and an index.txt of "
                                                "'id<TAB>display name<TAB>file' lines (without one, every file).",
        "DIR");
    QCommandLineOption products("products-dir", "Folder served for GET requests, versions.xml included.", "DIR");
    QCommandLineOption tiles("tiles-dir", "Folder of map tiles as Z/X/Y.png, served at /tiles/Z/X/Y.png.", "DIR");
    QCommandLineOption testReplies("test-replies",
        "Also answer the set ids -1 (no InternalFormatData), -2 (Base64 in 76-character lines) and -3 (the first set, "
        "two seconds late), refuse every conversion described as 'test: refuse', and break two downloads on "
        "purpose: /test/no-length (a body without a length) and /test/stall (a body that stops half-way).");
    parser.addOptions({ port, approved, products, tiles, testReplies });
    parser.process(application);

    bool portOk = false;
    const uint portNumber = parser.value(port).toUInt(&portOk);
    if (!portOk || portNumber > 65535) {
        std::fprintf(stderr, "vendor-server: --port takes a number from 0 to 65535\n");
        return 2;
    }

    corvex::vendorserver::Options options;
    options.approvedDirectory = parser.value(approved);
    options.productsDirectory = parser.value(products);
    options.tilesDirectory = parser.value(tiles);
    options.testReplies = parser.isSet(testReplies);
    corvex::vendorserver::VendorServer server(options);
    const quint16 listening = server.listen(QHostAddress::LocalHost, static_cast<quint16>(portNumber));
    if (listening == 0) {
        std::fprintf(stderr, "vendor-server: cannot listen on 127.0.0.1:%u\n", portNumber);
        return 1;
    }
    std::printf("http://127.0.0.1:%u\n", static_cast<unsigned>(listening));
    std::fflush(stdout);
    return application.exec();
}
