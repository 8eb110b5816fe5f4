#include "airspaces/ui/AirspacesWindow.h"
#include "app/AppDelegate.h"
#include "app/UserPreferencesWindow.h"
#include "app/HelpWindows.h"
#include "app/LibraryController.h"
#include "app/MainWindow.h"
#include "app/MessageBoxAlertPresenter.h"
#include "app/PilotDataWindowController.h"
#include "ui_PilotDataWindowController.h"
#include "platform/qt/ApplicationBus.h"
#include "platform/qt/DesktopNotifier.h"
#include "platform/FileLock.h"
#include "platform/InstrumentDirectory.h"
#include "platform/PosixSerialLine.h"
#include "platform/qt/PreferencesStore.h"
#include "platform/qt/QtEventLoopTurner.h"
#include "platform/qt/QtHttpClient.h"
#include "platform/qt/SystemDiscovery.h"
#include "platform/SystemLogSink.h"
#include "platform/qt/UsbDeviceResetter.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>

namespace {

// Without a session bus (su, ssh, a bare X session), a lock file in the session's own
// folder keeps a second program out, though the request cannot be handed to the first.
// Whether this one goes on; the lock, when taken, lives as long as the program.
bool becomeTheOnlyProgramWithoutBus(const QString& busFailure, std::unique_ptr<corvex::FileLock>& lock, corvex::LogSink& log,
    int& exitCode)
{
    const std::string folder = corvex::runtimeFolderPath();
    const std::string path = folder + "/corvex-vario.lock";
    std::string error;
    if (corvex::ensurePrivateDirectory(folder, &error)) {
        lock = std::make_unique<corvex::FileLock>(path);
        switch (lock->state()) {
        case corvex::FileLock::State::Held:
            corvex::logLine(log, "No session bus (%s): a second start of the program is kept out by %s",
                busFailure.toUtf8().constData(), path.c_str());
            return true;
        case corvex::FileLock::State::Taken:
            std::fprintf(stderr, "Corvex Vario is already running%s; without a session bus it cannot be brought forward: switch to its window.\n",
                lock->holder().empty() ? "" : (" as " + lock->holder()).c_str());
            exitCode = 1;
            return false;
        case corvex::FileLock::State::Failed:
            error = lock->error();
            lock.reset();
            break;
        }
    }
    corvex::logLine(log, "No session bus (%s): a second start of the program is not kept out",
        busFailure.toUtf8().constData());
    corvex::logLine(log, "No lock file either: %s", error.c_str());
    return true;
}

// One program per user: when another one owns the name, the request goes to it and this
// process ends before it opens any window or port. Whether this one goes on.
bool becomeTheRunningProgram(corvex::ApplicationBus& bus, const QString& action, std::unique_ptr<corvex::FileLock>& lock,
    corvex::LogSink& log, int& exitCode)
{
    switch (bus.claim()) {
    case corvex::ApplicationBus::Claim::Claimed:
        return true;
    case corvex::ApplicationBus::Claim::NoBus:
        return becomeTheOnlyProgramWithoutBus(bus.failure(), lock, log, exitCode);
    case corvex::ApplicationBus::Claim::Taken:
        break;
    }
    if (corvex::ApplicationBus::send(QStringLiteral(CORVEX_APP_ID), { action })) {
        exitCode = 0;
        return false;
    }
    // The owner may have ended between the claim and the request.
    if (bus.claim() == corvex::ApplicationBus::Claim::Claimed)
        return true;
    std::fprintf(stderr, "Corvex Vario is already running but did not answer; close it and try again.\n");
    exitCode = 1;
    return false;
}

// The program's options; a developer option among them for documentation and visual
// checks: take a picture of a window once the instrument (if any) has been read, and quit.
struct ProgramOptions {
    QCommandLineParser parser;
    QCommandLineOption screenshot { QStringLiteral("screenshot"),
        QStringLiteral("Write a PNG of the main window to <file> after start-up, then quit."), QStringLiteral("file") };
    QCommandLineOption screenshotDelay { QStringLiteral("screenshot-delay"),
        QStringLiteral("Milliseconds to wait before the screenshot (default 1500)."), QStringLiteral("ms"),
        QStringLiteral("1500") };
    QCommandLineOption screenshotWindow { QStringLiteral("screenshot-window"),
        QStringLiteral("Which window --screenshot takes: main (the default); airspaces, opened once the instrument "
                       "has been read and given the delay again to draw its map; library (the flight library); pilot-sheet (the pilot data with a "
                       "character the instrument cannot store), save-folder (the folder panel of All Available), "
                       "preferences, about or help."),
        QStringLiteral("window"), QStringLiteral("main") };
    QCommandLineOption action { QStringLiteral("action"),
        QStringLiteral("Run a launcher action in the running program (started first if none runs): %1. An action "
                       "that needs the instrument waits until it is connected.")
            .arg(corvex::AppDelegate::launcherActionNames().join(QStringLiteral(", "))),
        QStringLiteral("name") };

    ProgramOptions()
    {
        parser.setApplicationDescription(QStringLiteral("Desktop companion of the Corvex Vario"));
        parser.addHelpOption();
        parser.addVersionOption();
        parser.addOption(screenshot);
        parser.addOption(screenshotDelay);
        parser.addOption(screenshotWindow);
        parser.addOption(action);
    }
};

// The windows of the main window that --screenshot-window takes besides the main window
// and the airspaces window: how each is opened, and where it is then.
struct ScreenshotOpener {
    std::function<void(corvex::AppDelegate&)> open;
    std::function<QWidget*(corvex::AppDelegate&)> shown;
};

std::optional<ScreenshotOpener> secondaryScreenshotWindow(const QString& which, corvex::AppDelegate&)
{
    if (which == QLatin1String("about"))
        return ScreenshotOpener { [](corvex::AppDelegate& c) { c.aboutMenuItemClicked(); },
            [](corvex::AppDelegate& c) -> QWidget* { return c.aboutBox(); } };
    if (which == QLatin1String("help"))
        return ScreenshotOpener { [](corvex::AppDelegate& c) { c.helpMenuItemClicked(); },
            [](corvex::AppDelegate& c) -> QWidget* { return c.helpWindow(); } };
    if (which == QLatin1String("pilot-sheet"))
        return ScreenshotOpener { [](corvex::AppDelegate& c) {
                                     c.editPilotData();
                                     // What a pilot of the "Club Süd" types: the sheet points at the "ü".
                                     c.pilotDataWC()->ui().siteEdit->setText(QStringLiteral("Club Süd"));
                                 },
            [](corvex::AppDelegate& c) -> QWidget* { return c.pilotDataWC(); } };
    if (which == QLatin1String("preferences"))
        return ScreenshotOpener { [](corvex::AppDelegate& c) { c.userPreferencesWindowMenuItemClicked(); },
            [](corvex::AppDelegate& c) -> QWidget* { return c.userPreferencesWindow(); } };
    if (which == QLatin1String("library"))
        return ScreenshotOpener { [](corvex::AppDelegate& c) {
                                     if (c.libraryController())
                                         c.libraryController()->showWindow();
                                 },
            [](corvex::AppDelegate& c) -> QWidget* {
                return c.libraryController() ? c.libraryController()->window() : nullptr;
            } };
    if (which == QLatin1String("save-folder"))
        return ScreenshotOpener { [](corvex::AppDelegate& c) { c.performLauncherAction(QStringLiteral("save-all-flights")); },
            [](corvex::AppDelegate&) -> QWidget* { return QApplication::activeModalWidget(); } };
    return std::nullopt;
}

void nameTheApplication()
{
    QCoreApplication::setOrganizationName(corvex::PreferencesStore::organizationName);
    QCoreApplication::setApplicationName(corvex::PreferencesStore::applicationName);
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVEX_VERSION));
}

} // namespace

// Hands control to the application loop: the main window and its menus are built, then
// the controller's launch sequence runs from the loop.
int main(int argc, char* argv[])
{
    // --help, --version and a mistyped option are answered on a terminal without a
    // display (over ssh, in a package check): before the windowing system is opened.
    {
        ProgramOptions early;
        QStringList arguments;
        for (int i = 0; i < argc; ++i)
            arguments << QString::fromLocal8Bit(argv[i]);
        if (!early.parser.parse(arguments) || early.parser.isSet(QStringLiteral("help"))
            || early.parser.isSet(QStringLiteral("help-all")) || early.parser.isSet(QStringLiteral("version"))) {
            QCoreApplication core(argc, argv);
            nameTheApplication();
            early.parser.process(core); // prints, and ends the process
            return 0;
        }
    }

    QApplication application(argc, argv);
    nameTheApplication();
    QApplication::setApplicationDisplayName(QStringLiteral("Corvex Vario"));
    QApplication::setDesktopFileName(QStringLiteral(CORVEX_APP_ID));
    // The installed icon, for desktops that take a window's icon from the window (X11).
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral(CORVEX_APP_ID)));
    ProgramOptions programOptions;
    programOptions.parser.process(application);
    QCommandLineParser& options = programOptions.parser;
    const QCommandLineOption& screenshot = programOptions.screenshot;
    const QCommandLineOption& screenshotDelay = programOptions.screenshotDelay;
    const QCommandLineOption& screenshotWindow = programOptions.screenshotWindow;
    const QCommandLineOption& action = programOptions.action;

    corvex::SystemLogSink log;
    // A screenshot run is a developer's throwaway: it neither takes the name from the
    // program the user will start nor hands itself over to a running one.
    corvex::ApplicationBus applicationBus(QStringLiteral(CORVEX_APP_ID));
    std::unique_ptr<corvex::FileLock> programLock;
    if (int exitCode = 0; !options.isSet(screenshot)
        && !becomeTheRunningProgram(applicationBus, options.value(action), programLock, log, exitCode))
        return exitCode;

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
    environment.alertsOverWindow = [](QWidget* over) -> std::unique_ptr<corvex::AlertPresenter> {
        auto presenter = std::make_unique<corvex::MessageBoxAlertPresenter>();
        presenter->setParentWindow(over);
        return presenter;
    };
    corvex::AppDelegate controller(window, environment);
    applicationBus.setDelegate(&controller);

    window.show();
    const QString launchAction = options.value(action);
    QTimer::singleShot(0, &controller, [&controller, launchAction] {
        controller.applicationDidFinishLaunching();
        if (!launchAction.isEmpty())
            controller.performLauncherAction(launchAction);
    });

    if (options.isSet(screenshot)) {
        const QString file = options.value(screenshot);
        const int delay = options.value(screenshotDelay).toInt();
        const auto grab = [file](QWidget& shown) {
            const bool saved = shown.grab().save(file, "PNG");
            std::fprintf(stderr, saved ? "Wrote %s\n" : "Could not write %s\n", file.toLocal8Bit().constData());
            QApplication::exit(saved ? 0 : 1);
        };
        const QString which = options.value(screenshotWindow);
        if (which == QLatin1String("airspaces")) {
            QTimer::singleShot(delay, &window, [&controller, delay, grab] {
                controller.airspacesManageMenuClicked();
                QTimer::singleShot(delay, &controller, [&controller, grab] {
                    if (QWidget* airspaces = controller.airspacesWindowController(); airspaces && airspaces->isVisible()) {
                        grab(*airspaces);
                    } else {
                        std::fprintf(stderr, "The airspaces window did not open (is an instrument connected?)\n");
                        QApplication::exit(1);
                    }
                });
            });
        } else if (const auto opener = secondaryScreenshotWindow(which, controller)) {
            // Opened once the instrument has been read; taken when it has drawn. The
            // folder panel runs modal, so it is found as the modal window.
            QTimer::singleShot(delay, &window, [&controller, opener, grab, delay] {
                // Set before the window opens: a modal one does not return until it ends.
                QTimer::singleShot(delay / 2, &controller, [&controller, opener, grab] {
                    if (QWidget* shown = opener->shown(controller); shown && shown->isVisible()) {
                        grab(*shown);
                    } else {
                        std::fprintf(stderr, "The window to take did not open (is an instrument connected?)\n");
                        QApplication::exit(1);
                    }
                });
                opener->open(controller);
            });
        } else if (which == QLatin1String("main")) {
            QTimer::singleShot(delay, &window, [&window, grab] { grab(window); });
        } else {
            std::fprintf(stderr, "--screenshot-window: main, airspaces, library, pilot-sheet, save-folder, preferences, about or help, not %s\n",
                which.toLocal8Bit().constData());
            return 2;
        }
    }
    return application.exec();
}
