// The main window's download commands and the pilot-data sheet, driven through their
// buttons against the virtual instrument, with the file panels answered by the test.
#include "AppTestSupport.h"
#include "VirtualInstrumentProcess.h"
#include "app/FilePanelPresenter.h"
#include "app/MaxLengthFormatter.h"
#include "app/PilotDataWindowController.h"
#include "app/PleaseWaitSheet.h"
#include "platform/PosixSerialLine.h"
#include "platform/qt/SystemDiscovery.h"
#include "ui_PilotDataWindowController.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <chrono>
#include <gtest/gtest.h>

#include <cstdlib>

using namespace corvex;
using namespace corvex::testing;

namespace {

// The program connected to a virtual instrument through the instruments folder.
struct ConnectedApp {
    explicit ConnectedApp(VirtualInstrumentProcess::Options options)
        : instrument(std::move(options))
    {
        setenv("CORVEX_INSTRUMENT_DIR", instrument.instrumentsDirectory().c_str(), 1);
        discovery = makeSystemDiscovery(discoveryLog);
        app = std::make_unique<AppHarness>(ports, discovery.get());
        app->controller->setFilePanelPresenter(&panels);
        app->launch();
    }

    bool connected() { return app->ui().logEntriesCombo->count() > 1; }

    // Picks a flight list entry as the user does, and presses the track-log button.
    void downloadEntry(int index, MainWindow::LogTypeColumn column)
    {
        Ui::MainWindow& ui = app->ui();
        app->window.setLogTypeColumn(column);
        ui.logEntriesCombo->setCurrentIndex(index);
        emit ui.logEntriesCombo->activated(index);
        ASSERT_TRUE(ui.downloadTracklogButton->isEnabled());
        ui.downloadTracklogButton->click();
    }

    VirtualInstrumentProcess instrument;
    CapturingLogSink discoveryLog;
    PosixSerialPortOpener ports;
    std::unique_ptr<SerialDeviceDiscovery> discovery;
    AnsweringPanels panels;
    std::unique_ptr<AppHarness> app;
};

VirtualInstrumentProcess::Options firstPath()
{
    VirtualInstrumentProcess::Options options;
    options.model = "lark";
    options.firmwareVersion = 1350;
    return options;
}

VirtualInstrumentProcess::Options secondPath()
{
    return VirtualInstrumentProcess::Options {}; // a Wren, firmware 2405
}

QByteArray fileContents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Types the text one character at a time, as a keyboard with any layout does
// (the test library types only ASCII keys).
void typeText(QWidget* widget, const QString& text)
{
    for (const QChar character : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(character));
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(character));
        QApplication::sendEvent(widget, &release);
    }
}

std::size_t sharedFlightCount()
{
    return QDir(CORVEX_TESTDATA_DIR "/igc").entryList({ "*.igc" }, QDir::Files).size();
}

} // namespace

TEST(DownloadCommandsApp, OneFlightOnBothPathsInBothFormats)
{
    for (const bool second : { false, true }) {
        SCOPED_TRACE(second ? "second path" : "first path");
        ConnectedApp session(second ? secondPath() : firstPath());
        ASSERT_TRUE(session.connected());
        QTemporaryDir folder;

        session.panels.answer = folder.filePath("flight.igc");
        session.downloadEntry(1, MainWindow::IgcColumn);
        ASSERT_EQ(session.panels.saveRequests.size(), 1u);
        const SavePanelRequest& igcPanel = session.panels.saveRequests.back();
        EXPECT_EQ(igcPanel.title, "Exporting IGC file");
        EXPECT_EQ(igcPanel.allowedFileType, "igc");
        EXPECT_TRUE(igcPanel.suggestedName.contains("-XCV-")) << igcPanel.suggestedName.toStdString();
        EXPECT_FALSE(igcPanel.suggestedName.contains('/'));
        const QByteArray igc = fileContents(folder.filePath("flight.igc"));
        EXPECT_TRUE(igc.startsWith('A'));
        EXPECT_TRUE(igc.contains("\r\nB"));
        EXPECT_TRUE(igc.contains("LXCV HUB version Mac 9.8.7\r\n"));
        EXPECT_TRUE(igc.endsWith("\r\n"));
        EXPECT_TRUE(session.app->log.contains("Selected flight number is " + std::to_string(
                        session.app->ui().logEntriesCombo->itemData(1).value<FlightRecord>().flightNumber)));
        EXPECT_FALSE(session.app->controller->pleaseWaitSheet()->isVisible());

        session.panels.answer = folder.filePath("flight.kml");
        session.downloadEntry(1, MainWindow::KmlColumn);
        ASSERT_EQ(session.panels.saveRequests.size(), 2u);
        EXPECT_EQ(session.panels.saveRequests.back().title, "Exporting KML file");
        EXPECT_EQ(session.panels.saveRequests.back().allowedFileType, "kml");
        const QByteArray kml = fileContents(folder.filePath("flight.kml"));
        EXPECT_TRUE(kml.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"));
        EXPECT_TRUE(kml.endsWith("</kml>\n"));

        // Cancelling the panel writes nothing.
        session.panels.answer.reset();
        session.downloadEntry(1, MainWindow::IgcColumn);
        EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files).size(), 2);
        EXPECT_TRUE(session.app->alerts.alerts.empty());
    }
}

// A flight read at the line's speed keeps the window painted and its sheet moving:
// the event loop turns throughout the transfer, and the sheet shows what has come.
TEST(DownloadCommandsApp, TheSheetMovesWhileAFlightIsRead)
{
    for (const bool second : { false, true }) {
        SCOPED_TRACE(second ? "second path" : "first path");
        QTemporaryDir flights;
        ASSERT_TRUE(QFile::link(CORVEX_TESTDATA_DIR "/igc/lad_lod_extensions.igc", flights.filePath("flight.igc")));
        VirtualInstrumentProcess::Options options = second ? secondPath() : firstPath();
        options.igcDirectory = flights.path().toStdString();
        options.extraArguments = { "--pace" };
        ConnectedApp session(options);
        ASSERT_TRUE(session.connected());
        QTemporaryDir folder;
        session.panels.answer = folder.filePath("flight.igc");

        PleaseWaitSheet& sheet = *session.app->controller->pleaseWaitSheet();
        int turns = 0;
        bool received = false;
        QStringList texts; // what the sheet said while it was up, in order
        QTimer sampler;
        sampler.setInterval(0);
        QObject::connect(&sampler, &QTimer::timeout, [&] {
            ++turns;
            received = received || (sheet.isVisible() && sheet.detailLabel()->text().endsWith(" KB received"));
            if (sheet.isVisible() && (texts.isEmpty() || texts.back() != sheet.pleaseWaitSheetLabel()->text()))
                texts.append(sheet.pleaseWaitSheetLabel()->text());
        });
        sampler.start();
        const auto started = std::chrono::steady_clock::now();
        session.downloadEntry(1, MainWindow::IgcColumn);
        const auto elapsed = std::chrono::steady_clock::now() - started;
        sampler.stop();

        EXPECT_GT(elapsed, std::chrono::milliseconds(500)) << "paced: the transfer takes its time";
        EXPECT_GE(turns, elapsed / std::chrono::milliseconds(200)) << "the window turns at least every 0.2 s";
        EXPECT_TRUE(received);
        EXPECT_FALSE(sheet.isVisible());
        EXPECT_TRUE(fileContents(folder.filePath("flight.igc")).contains("\r\nB"));

        // The backup before an erase reads the same flight: the window keeps turning.
        QTemporaryDir backups;
        session.app->controller->setLogBookBackupsRoot(backups.path().toStdString());
        turns = 0;
        texts.clear();
        sampler.start();
        const auto erasing = std::chrono::steady_clock::now();
        session.app->controller->eraseButtonPressed();
        const auto backedUp = std::chrono::steady_clock::now() - erasing;
        sampler.stop();
        EXPECT_TRUE(session.app->log.containsPrefix("Log book backup: 1 flights saved in " + backups.path().toStdString()))
            << (session.app->alerts.alerts.empty() ? std::string() : session.app->alerts.alerts.back().informativeText);
        EXPECT_GE(turns, backedUp / std::chrono::milliseconds(200)) << "the window turns during the backup too";
        // The sheet is up from the backup's start, on both paths.
        EXPECT_EQ(texts, QStringList({ "Reading the flight list. Please wait...", "Downloading flight 1 of 1. Please wait..." }));
    }
}

TEST(DownloadCommandsApp, AllFlightsIntoTheChosenFolderOnBothPaths)
{
    for (const bool second : { false, true }) {
        SCOPED_TRACE(second ? "second path" : "first path");
        ConnectedApp session(second ? secondPath() : firstPath());
        ASSERT_TRUE(session.connected());

        // Cancelled: nothing is read from the instrument.
        session.downloadEntry(0, MainWindow::KmlColumn);
        ASSERT_EQ(session.panels.folderRequests.size(), 1u);
        EXPECT_TRUE(session.app->log.contains("All available is selected"));
        EXPECT_FALSE(session.app->log.contains("Downloading record 0 out of " + std::to_string(sharedFlightCount())));

        QTemporaryDir folder;
        for (const auto column : { MainWindow::KmlColumn, MainWindow::IgcColumn }) {
            const bool igc = column == MainWindow::IgcColumn;
            const QString chosen = folder.filePath(igc ? "CorvexVario IGC" : "CorvexVario KML");
            session.panels.answer = chosen;
            session.downloadEntry(0, column);
            const FolderPanelRequest& panel = session.panels.folderRequests.back();
            EXPECT_EQ(panel.title, igc ? "Exporting IGC files" : "Exporting KML files");
            EXPECT_EQ(panel.nameFieldText, igc ? "CorvexVario IGC" : "CorvexVario KML");
            EXPECT_EQ(panel.confirmButtonText, "Save");
            const QStringList files = QDir(chosen).entryList({ igc ? "*.igc" : "*.kml" }, QDir::Files);
            EXPECT_EQ(static_cast<std::size_t>(files.size()), sharedFlightCount()) << files.join(' ').toStdString();
        }
        EXPECT_TRUE(session.app->log.contains("Downloading record 0 out of " + std::to_string(sharedFlightCount())));
        EXPECT_TRUE(session.app->alerts.alerts.empty());
        // The entries of the list are left as they were.
        EXPECT_EQ(session.app->ui().logEntriesCombo->count(), static_cast<int>(1 + sharedFlightCount()));
    }
}

TEST(DownloadCommandsApp, LogBookAsCsvAndTheFailureAlerts)
{
    ConnectedApp session(firstPath());
    ASSERT_TRUE(session.connected());
    QTemporaryDir folder;
    session.panels.answer = folder.filePath("book.csv");
    session.app->ui().downloadLogbookButton->click();
    ASSERT_EQ(session.panels.saveRequests.size(), 1u);
    EXPECT_EQ(session.panels.saveRequests[0].title, "Exporting flight records into a CSV file");
    EXPECT_EQ(session.panels.saveRequests[0].suggestedName, "Corvex Log Book");
    EXPECT_EQ(session.panels.saveRequests[0].allowedFileType, "csv");
    const QList<QByteArray> lines = fileContents(folder.filePath("book.csv")).split('\n');
    ASSERT_EQ(static_cast<std::size_t>(lines.size()), sharedFlightCount() + 2); // header, rows, and after the last LF
    EXPECT_TRUE(lines.front().startsWith("flightnumber,date,time,"));
    EXPECT_TRUE(lines.back().isEmpty());

    // A garbled line: each command alerts, and no panel opens.
    ASSERT_TRUE(session.instrument.control("fault wrong-first-byte"));
    session.app->ui().downloadLogbookButton->click();
    session.downloadEntry(1, MainWindow::IgcColumn);
    ASSERT_EQ(session.app->alerts.alerts.size(), 2u);
    EXPECT_EQ(session.app->alerts.alerts[0].message, "Error dowloading logbook");
    EXPECT_EQ(session.app->alerts.alerts[0].informativeText, "Make sure device has the latest firmware version");
    EXPECT_EQ(session.app->alerts.alerts[1].message, "Error dowloading track log");
    EXPECT_EQ(session.panels.saveRequests.size(), 1u);
}

TEST(PilotDataSheet, FormatterRefusesTheSixtyFourthCharacterAndNonAscii)
{
    MaxLengthFormatter formatter;
    EXPECT_EQ(formatter.maximumLength(), 2147483647);
    QLineEdit edit;
    edit.setValidator(MaxLengthFormatter::formatterWithLength(63, &edit));
    typeText(&edit, QString(63, 'p'));
    EXPECT_EQ(edit.text(), QString(63, 'p'));
    typeText(&edit, "q");
    EXPECT_EQ(edit.text(), QString(63, 'p'));
    edit.clear();
    typeText(&edit, QString::fromUtf8("Z\xc3\xbc"));
    EXPECT_EQ(edit.text(), "Z");
    typeText(&edit, QString::fromUtf8("\xe2\x82\xac"));
    EXPECT_EQ(edit.text(), "Z");
}

TEST(PilotDataSheet, EditsWritesAndReadsBackKeepingTheSerial)
{
    VirtualInstrumentProcess::Options options;
    options.extraArguments = { "--pilot", "Ada Lovelace" };
    ConnectedApp session(options);
    ASSERT_TRUE(session.connected());
    AppHarness& app = *session.app;
    const PilotData before = app.device().downloadPilotData();
    ASSERT_FALSE(before.flightRecorderSerial().empty());

    PilotDataWindowController& sheet = *app.controller->pilotDataWC();
    Ui::PilotDataWindowController& form = sheet.ui();

    // Cancel: the instrument and the label stay as they were.
    app.ui().editPilotDataButton->click();
    ASSERT_TRUE(sheet.isVisible());
    EXPECT_TRUE(sheet.isModal());
    EXPECT_EQ(form.pilotEdit->text(), "Ada Lovelace");
    EXPECT_EQ(form.frSerialNoEdit->text().toStdString(), before.flightRecorderSerial());
    form.pilotEdit->clear();
    typeText(form.pilotEdit, "Someone Else");
    form.cancelButton->click();
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_TRUE(app.log.contains("Cancel button"));
    EXPECT_EQ(app.device().downloadPilotData(), before);
    EXPECT_EQ(app.ui().pilotNameLabel->text(), "Pilot: Ada Lovelace");

    // OK: the form goes into the instrument and the label shows what it reads back.
    app.ui().editPilotDataButton->click();
    ASSERT_TRUE(sheet.isVisible());
    form.pilotEdit->clear();
    typeText(form.pilotEdit, QString(70, 'p')); // only 63 go in
    form.gliderIdEdit->clear();
    typeText(form.gliderIdEdit, QString::fromUtf8("D-\xc3\xa9") + QString(40, 'G'));
    form.siteEdit->clear();
    typeText(form.siteEdit, "Grenchen");
    form.okButton->click();
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_TRUE(app.log.contains("Ok button"));
    const PilotData after = app.device().downloadPilotData();
    EXPECT_EQ(after.pilot(), std::string(63, 'p'));
    EXPECT_EQ(after.gliderId(), "D-" + std::string(29, 'G'));
    EXPECT_EQ(after.site(), "Grenchen");
    EXPECT_EQ(after.slotBytes(PilotDataField::GliderId)[31], 0);
    EXPECT_EQ(after.flightRecorderSerial(), before.flightRecorderSerial());
    EXPECT_EQ(app.ui().pilotNameLabel->text(), "Pilot: " + QString(63, 'p'));

    // An empty pilot name reads back as unknown.
    app.ui().editPilotDataButton->click();
    form.pilotEdit->clear();
    form.okButton->click();
    EXPECT_EQ(app.ui().pilotNameLabel->text(), "Pilot: Unknown");
    EXPECT_EQ(app.device().downloadPilotData().site(), "Grenchen");

    // A read that fails opens no empty sheet whose OK would wipe the instrument's data.
    ASSERT_TRUE(session.instrument.control("fault pilot-error"));
    app.ui().editPilotDataButton->click();
    EXPECT_FALSE(sheet.isVisible());
    ASSERT_EQ(app.alerts.alerts.size(), 1u);
    EXPECT_EQ(app.alerts.alerts[0].message, "Unable to read the pilot data");
    ASSERT_TRUE(session.instrument.control("fault none"));
    EXPECT_EQ(app.device().downloadPilotData().site(), "Grenchen");
}

namespace {

// Confirms the file dialog that the presenter opens, once it is up, in the folder given.
void confirmPanelIn(const QString& folder)
{
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, folder] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        timer->stop();
        timer->deleteLater();
        const QString name = dialog->selectedFiles().isEmpty() ? QString() : QFileInfo(dialog->selectedFiles().constFirst()).fileName();
        dialog->setDirectory(folder);
        dialog->selectFile(name);
        QMetaObject::invokeMethod(dialog, "accept"); // the button a user presses
    });
    timer->start(20);
}

} // namespace

TEST(FilePanels, TheDialogsKeepTheSuggestedNames)
{
    QTemporaryDir home;
    FileDialogPanelPresenter panels(nullptr);

    confirmPanelIn(home.path());
    const auto file = panels.runSavePanel({ "Exporting IGC file", "2013-7-5-XCV-ABC-23", "igc" });
    ASSERT_TRUE(file);
    EXPECT_EQ(*file, home.filePath("2013-7-5-XCV-ABC-23.igc"));

    // The folder named in the panel does not exist yet: confirming makes it.
    confirmPanelIn(home.path());
    const auto folder = panels.runFolderPanel({ "Exporting KML files", "CorvexVario KML" });
    ASSERT_TRUE(folder);
    EXPECT_EQ(*folder, home.filePath("CorvexVario KML"));
    EXPECT_TRUE(QFileInfo(*folder).isDir());
}
