#include "app/AppDelegate.h"
#include "app/MainWindow.h"
#include "app/MessageBoxAlertPresenter.h"
#include "platform/qt/DesktopNotifier.h"
#include "platform/PosixSerialLine.h"
#include "platform/qt/PreferencesStore.h"
#include "platform/qt/QtEventLoopTurner.h"
#include "platform/qt/QtHttpClient.h"
#include "platform/qt/SystemDiscovery.h"
#include "platform/SystemLogSink.h"
#include "platform/qt/UsbDeviceResetter.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include <cstdio>

// Hands control to the application loop: the main window and its menus are built, then
// the controller's launch sequence runs from the loop.
int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setOrganizationName(corvex::PreferencesStore::organizationName);
    QApplication::setApplicationName(corvex::PreferencesStore::applicationName);
    QApplication::setApplicationDisplayName(QStringLiteral("Corvex Vario"));
    QApplication::setApplicationVersion(QStringLiteral(CORVEX_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("corvex-vario"));

    // A developer option for documentation and visual checks: take a picture of the main
    // window once the instrument (if any) has been read, and quit.
    QCommandLineParser options;
    options.setApplicationDescription(QStringLiteral("Desktop companion of the Corvex Vario"));
    options.addHelpOption();
    options.addVersionOption();
    QCommandLineOption screenshot(QStringLiteral("screenshot"),
        QStringLiteral("Write a PNG of the main window to <file> after start-up, then quit."), QStringLiteral("file"));
    QCommandLineOption screenshotDelay(QStringLiteral("screenshot-delay"),
        QStringLiteral("Milliseconds to wait before the screenshot (default 1500)."), QStringLiteral("ms"),
        QStringLiteral("1500"));
    options.addOption(screenshot);
    options.addOption(screenshotDelay);
    options.process(application);

    corvex::SystemLogSink log;
    corvex::MessageBoxAlertPresenter alerts;
    corvex::PosixSerialPortOpener ports;
    std::unique_ptr<corvex::SerialDeviceDiscovery> discovery = corvex::makeSystemDiscovery(log);
    corvex::UsbDeviceResetter usbReset(log);
    corvex::PreferencesStore preferences;
    corvex::DesktopNotifier notifier;
    corvex::QtEventLoopTurner eventLoop;
    corvex::QtHttpClient mapTiles;

    corvex::MainWindow window;
    alerts.setParentWindow(&window);
    corvex::AppDelegate::Environment environment;
    environment.log = &log;
    environment.alerts = &alerts;
    environment.ports = &ports;
    environment.discovery = discovery.get();
    environment.usbReset = &usbReset;
    environment.preferences = &preferences;
    environment.notifier = &notifier;
    environment.eventLoop = &eventLoop;
    environment.mapTiles = &mapTiles;
    corvex::AppDelegate controller(window, environment);

    window.show();
    QTimer::singleShot(0, &controller, [&controller] { controller.applicationDidFinishLaunching(); });

    if (options.isSet(screenshot)) {
        const QString file = options.value(screenshot);
        QTimer::singleShot(options.value(screenshotDelay).toInt(), &window, [&window, file] {
            const bool saved = window.grab().save(file, "PNG");
            std::fprintf(stderr, saved ? "Wrote %s\n" : "Could not write %s\n", file.toLocal8Bit().constData());
            QApplication::exit(saved ? 0 : 1);
        });
    }
    return application.exec();
}
