// The main window's download commands and the pilot-data sheet, driven through their
// buttons against the virtual instrument, with the file panels answered by the test.
#include "AppTestSupport.h"
#include "VirtualInstrumentProcess.h"
#include "app/FilePanelPresenter.h"
#include "app/MaxLengthFormatter.h"
#include "app/PilotDataWindowController.h"
#include "app/PleaseWaitSheet.h"
#include "app/SaveFolders.h"
#include "platform/PosixSerialLine.h"
#include "platform/qt/SystemDiscovery.h"
#include "ui_PilotDataWindowController.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
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
    for (qsizetype i = 0; i < text.size(); ++i) {
        // A character beyond 16 bits (an emoji) arrives as one key with both its halves.
        const qsizetype units = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString character = text.mid(i, units);
        i += units - 1;
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, character);
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, character);
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

// Each kind of save starts where its last one went, a folder that is gone gives way to
// the documents folder, and the status line says what was saved where, or that nothing was.
TEST(DownloadCommandsApp, SavesStartInTheLastFolderOfTheirKindAndSayWhatWasSavedWhere)
{
    ConnectedApp session(firstPath());
    ASSERT_TRUE(session.connected());
    QTemporaryDir root;
    for (const char* name : { "A", "B", "C" })
        ASSERT_TRUE(QDir(root.path()).mkdir(name));
    const QString fallback = SaveFolders::fallbackFolder();
    const QString flights = QString::number(sharedFlightCount());
    enum class Action { OneFlight, AllFlights, LogBook };
    struct Step {
        Action action;
        QString answer; // under root
        QString startsIn; // under root; empty: the documents folder
        QString status; // "@" stands for root
    };
    const Step steps[] = {
        { Action::OneFlight, "A/flight.igc", "", "Saved 1 flight as IGC in @/A/flight.igc." },
        { Action::LogBook, "B/book.csv", "", "Saved the log book as CSV in @/B/book.csv." },
        { Action::OneFlight, "A/second.igc", "A", "Saved 1 flight as IGC in @/A/second.igc." },
        { Action::AllFlights, "C/CorvexVario IGC", "A", "Saved " + flights + " flights as IGC in @/C/CorvexVario IGC." },
        // Not written (no such folder): said so, and not remembered.
        { Action::OneFlight, "gone/flight.igc", "C", "Could not write @/gone/flight.igc: nothing was saved." },
        { Action::LogBook, "B/again.csv", "B", "Saved the log book as CSV in @/B/again.csv." },
        { Action::OneFlight, "A/third.igc", "C", "Saved 1 flight as IGC in @/A/third.igc." },
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.answer.toStdString());
        session.panels.answer = root.filePath(step.answer);
        if (step.action == Action::LogBook)
            session.app->ui().downloadLogbookButton->click();
        else
            session.downloadEntry(step.action == Action::AllFlights ? 0 : 1, MainWindow::IgcColumn);
        const QString asked = step.action == Action::AllFlights ? session.panels.folderRequests.back().directory
                                                                : session.panels.saveRequests.back().directory;
        EXPECT_EQ(asked, step.startsIn.isEmpty() ? fallback : root.filePath(step.startsIn));
        EXPECT_EQ(session.app->window.statusText(), QString(step.status).replace('@', root.path()));
    }
    // Kept in the preferences, so a restart finds them; a folder removed meanwhile is
    // not offered.
    EXPECT_EQ(session.app->preferences.stringValue(SaveFolders::preferenceKey(SaveFolderKind::Flights)), root.filePath("A"));
    ASSERT_TRUE(QDir(root.filePath("A")).removeRecursively());
    session.panels.answer.reset();
    session.downloadEntry(1, MainWindow::IgcColumn);
    EXPECT_EQ(session.panels.saveRequests.back().directory, fallback);
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

// The sixty-fourth character is refused; a character the instrument cannot store goes
// in, so that the sheet can point at it, but leaves the field unacceptable.
TEST(PilotDataSheet, FormatterRefusesTheSixtyFourthCharacterAndFlagsNonAscii)
{
    MaxLengthFormatter formatter;
    EXPECT_EQ(formatter.maximumLength(), 2147483647);
    struct Row {
        const char* typed; // UTF-8
        int maximum;
        const char* text; // what the field holds afterwards
        bool acceptable;
        const char* unstorable;
    };
    const std::string sixtyThree(63, 'p');
    const std::string sixtyFour = sixtyThree + "q";
    const Row rows[] = {
        { sixtyThree.c_str(), 63, sixtyThree.c_str(), true, "" },
        { sixtyFour.c_str(), 63, sixtyThree.c_str(), true, "" },
        { "Club S\xc3\xbc" "d", 31, "Club S\xc3\xbc" "d", false, "\xc3\xbc" },
        { "Z\xc3\xbc\xe2\x82\xac\xc3\xbc", 31, "Z\xc3\xbc\xe2\x82\xac\xc3\xbc", false, "\xc3\xbc\xe2\x82\xac" },
        { "Gl\xf0\x9f\xaa\x82" "der", 31, "Gl\xf0\x9f\xaa\x82" "der", false, "\xf0\x9f\xaa\x82" }, // one emoji, two units
        { "abc\xc3\xa9", 3, "abc", true, "" }, // the length limit still refuses
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.typed);
        QLineEdit edit;
        edit.setValidator(MaxLengthFormatter::formatterWithLength(row.maximum, &edit));
        typeText(&edit, QString::fromUtf8(row.typed));
        EXPECT_EQ(edit.text(), QString::fromUtf8(row.text));
        EXPECT_EQ(edit.hasAcceptableInput(), row.acceptable);
        EXPECT_EQ(MaxLengthFormatter::unstorableCharacters(edit.text()), QString::fromUtf8(row.unstorable));
    }
}

// The sheet names what it cannot store, field by field, marks the field and holds OK
// back until the text is mended; the read-only serial looks like a value, not a field.
TEST(PilotDataSheet, PointsAtCharactersTheInstrumentCannotStore)
{
    PilotDataWindowController sheet;
    Ui::PilotDataWindowController& form = sheet.ui();
    sheet.updateFormWithPilotData(PilotData {});
    EXPECT_FALSE(form.frSerialNoEdit->hasFrame());
    EXPECT_EQ(form.frSerialNoEdit->palette().color(QPalette::Base), form.frSerialNoEdit->palette().color(QPalette::Window));
    EXPECT_EQ(form.frSerialNoEdit->focusPolicy(), Qt::ClickFocus);
    EXPECT_TRUE(form.pilotEdit->hasFrame());

    struct Row {
        QLineEdit* edit;
        const char* typed;
        const char* message; // empty: none, OK enabled
    };
    const Row rows[] = {
        { form.siteEdit, "Grenchen", "" },
        { form.siteEdit, "Club S\xc3\xbc" "d",
            "\xe2\x80\x9c\xc3\xbc\xe2\x80\x9d in Site cannot be stored by the instrument, which keeps only plain letters, "
            "digits and punctuation (ASCII). Replace it to save." },
        { form.gliderIdEdit, "D-\xc3\xa9\xc3\xa8",
            "\xe2\x80\x9c\xc3\xa9\xe2\x80\x9d, \xe2\x80\x9c\xc3\xa8\xe2\x80\x9d in Glider ID cannot be stored by the "
            "instrument, which keeps only plain letters, digits and punctuation (ASCII). Replace them to save." },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.typed);
        for (QLineEdit* edit : { form.siteEdit, form.gliderIdEdit })
            edit->clear();
        typeText(row.edit, QString::fromUtf8(row.typed));
        EXPECT_EQ(row.edit->text(), QString::fromUtf8(row.typed));
        EXPECT_EQ(sheet.unstorableCharactersMessage(), QString::fromUtf8(row.message));
        EXPECT_EQ(form.unstorableLabel->isVisibleTo(&sheet), *row.message != 0);
        EXPECT_EQ(form.okButton->isEnabled(), *row.message == 0);
        EXPECT_EQ(row.edit->styleSheet().isEmpty(), *row.message == 0);
    }
    // Two fields at once are named one after the other; mending both frees OK.
    typeText(form.siteEdit, QString::fromUtf8("\xc3\xbc"));
    EXPECT_TRUE(sheet.unstorableCharactersMessage().contains(QStringLiteral("in Glider ID; ")));
    form.gliderIdEdit->setText("D-1234");
    form.siteEdit->setText("Club Sued");
    EXPECT_TRUE(form.okButton->isEnabled());
    EXPECT_FALSE(form.unstorableLabel->isVisibleTo(&sheet));
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
    // The "é" is pointed at, and OK (button or Return) does nothing until it goes.
    EXPECT_FALSE(form.okButton->isEnabled());
    sheet.okButton();
    EXPECT_TRUE(sheet.isVisible());
    form.gliderIdEdit->setCursorPosition(3);
    QKeyEvent backspace(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
    QApplication::sendEvent(form.gliderIdEdit, &backspace);
    typeText(form.gliderIdEdit, "GG"); // one more fits in its place, the second is refused
    EXPECT_TRUE(form.okButton->isEnabled());
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
void confirmPanelIn(const QString& folder, QString* startedIn = nullptr)
{
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, folder, startedIn] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        timer->stop();
        if (startedIn)
            *startedIn = dialog->directory().absolutePath();
        timer->deleteLater();
        const QString name = dialog->selectedFiles().isEmpty() ? QString() : QFileInfo(dialog->selectedFiles().constFirst()).fileName();
        dialog->setDirectory(folder);
        dialog->selectFile(name);
        QMetaObject::invokeMethod(dialog, "accept"); // the button a user presses
    });
    timer->start(20);
}

} // namespace

TEST(SaveFolders, EachKindKeepsItsFolderAcrossARestartAndAGoneFolderFallsBack)
{
    QTemporaryDir settings;
    QTemporaryDir flights;
    QTemporaryDir logBook;
    const QString file = settings.filePath("CorvexVario.conf");
    {
        PreferencesStore preferences(file);
        SaveFolders folders(&preferences);
        for (const auto kind : { SaveFolderKind::Flights, SaveFolderKind::LogBook, SaveFolderKind::Airspaces })
            EXPECT_EQ(folders.startFolder(kind), SaveFolders::fallbackFolder());
        folders.rememberFolderOfFile(SaveFolderKind::Flights, flights.filePath("a.igc"));
        folders.rememberFolder(SaveFolderKind::LogBook, logBook.path() + "/./");
    }
    QFile plainFile(settings.filePath("not-a-folder"));
    ASSERT_TRUE(plainFile.open(QIODevice::WriteOnly));
    struct Row {
        SaveFolderKind kind;
        QString stored; // empty: as remembered before the restart
        QString startsIn;
    };
    const Row rows[] = {
        { SaveFolderKind::Flights, {}, flights.path() },
        { SaveFolderKind::LogBook, {}, logBook.path() },
        { SaveFolderKind::Airspaces, {}, SaveFolders::fallbackFolder() },
        { SaveFolderKind::Flights, flights.filePath("gone"), SaveFolders::fallbackFolder() },
        { SaveFolderKind::LogBook, "relative/folder", SaveFolders::fallbackFolder() },
        { SaveFolderKind::Airspaces, plainFile.fileName(), SaveFolders::fallbackFolder() },
        { SaveFolderKind::Airspaces, logBook.path(), logBook.path() },
    };
    PreferencesStore preferences(file); // the program started again
    SaveFolders folders(&preferences);
    for (const Row& row : rows) {
        SCOPED_TRACE(SaveFolders::preferenceKey(row.kind).toStdString() + " " + row.stored.toStdString());
        if (!row.stored.isEmpty())
            preferences.setValue(SaveFolders::preferenceKey(row.kind), row.stored);
        EXPECT_EQ(folders.startFolder(row.kind), row.startsIn);
    }
    EXPECT_EQ(SaveFolders(nullptr).startFolder(SaveFolderKind::Flights), SaveFolders::fallbackFolder());
}

TEST(SaveFolders, StatusLinesSayWhatWasSavedWhere)
{
    const QString home = QDir::homePath();
    struct Row {
        QString actual;
        QString expected;
    };
    const Row rows[] = {
        { flightsSavedStatus(3, 0, TrackLogFileFormat::Igc, home + "/Flights/2026-12-09"),
            "Saved 3 flights as IGC in ~/Flights/2026-12-09." },
        { flightsSavedStatus(1, 0, TrackLogFileFormat::Kml, "/media/stick/KML"), "Saved 1 flight as KML in /media/stick/KML." },
        { flightsSavedStatus(5, 2, TrackLogFileFormat::Igc, home), "Saved 5 flights as IGC in ~; 2 flights could not be saved." },
        { flightsSavedStatus(0, 1, TrackLogFileFormat::Igc, "/tmp/x"), "No flight was saved in /tmp/x; 1 flight could not be saved." },
        // A sibling whose name starts like the home folder is not under it.
        { flightsSavedStatus(2, 0, TrackLogFileFormat::Igc, home + "2/x"), "Saved 2 flights as IGC in " + home + "2/x." },
        { flightSavedStatus(TrackLogFileFormat::Igc, home + "/a//b.igc"), "Saved 1 flight as IGC in ~/a/b.igc." },
        { logBookSavedStatus(home + "/Corvex Log Book.csv"), "Saved the log book as CSV in ~/Corvex Log Book.csv." },
        { notWrittenStatus("/nowhere/b.igc"), "Could not write /nowhere/b.igc: nothing was saved." },
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.actual, row.expected);
}

// The suggested folder does not exist yet; the confirm button takes it at once (no
// Return in the name field first) and confirming makes it.
TEST(FilePanels, TheFolderPanelTakesItsSuggestedNewFolderAtOnce)
{
    QTemporaryDir home;
    ASSERT_TRUE(QDir(home.path()).mkdir("Existing"));
    QFile plainFile(home.filePath("file.txt"));
    ASSERT_TRUE(plainFile.open(QIODevice::WriteOnly));
    struct Row {
        const char* name;
        bool confirmable;
    };
    const Row rows[] = {
        { "CorvexVario IGC", true },
        { "Existing", true },
        { "2026/12/09", true },
        { "file.txt", false },
        { "file.txt/below", false },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto panel = makeFolderPanel(nullptr, { "Exporting IGC files", row.name, "Save", home.path() });
        panel->show();
        for (int turn = 0; turn < 5; ++turn)
            QCoreApplication::processEvents();
        auto* buttons = panel->findChild<QDialogButtonBox*>("buttonBox");
        ASSERT_NE(buttons, nullptr);
        QPushButton* confirm = buttons->button(QDialogButtonBox::Open);
        ASSERT_NE(confirm, nullptr);
        EXPECT_EQ(confirm->text(), "Save");
        EXPECT_EQ(confirm->isEnabled(), row.confirmable);
        if (!row.confirmable)
            continue;
        confirm->click();
        EXPECT_EQ(panel->result(), QDialog::Accepted);
        EXPECT_TRUE(QFileInfo(home.filePath(row.name)).isDir());
    }
}

TEST(FilePanels, TheDialogsKeepTheSuggestedNames)
{
    QTemporaryDir home;
    QTemporaryDir remembered;
    FileDialogPanelPresenter panels(nullptr);

    // Each panel starts in the folder it is given.
    QString startedIn;
    confirmPanelIn(home.path(), &startedIn);
    const auto file = panels.runSavePanel({ "Exporting IGC file", "2013-7-5-XCV-ABC-23", "igc", remembered.path() });
    EXPECT_EQ(startedIn, remembered.path());
    ASSERT_TRUE(file);
    EXPECT_EQ(*file, home.filePath("2013-7-5-XCV-ABC-23.igc"));

    // The folder named in the panel does not exist yet: confirming makes it.
    confirmPanelIn(home.path(), &startedIn);
    const auto folder = panels.runFolderPanel({ "Exporting KML files", "CorvexVario KML", "Save", remembered.path() });
    EXPECT_EQ(startedIn, remembered.path());
    ASSERT_TRUE(folder);
    EXPECT_EQ(*folder, home.filePath("CorvexVario KML"));
    EXPECT_TRUE(QFileInfo(*folder).isDir());
}
