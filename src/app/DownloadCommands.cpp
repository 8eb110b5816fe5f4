#include "app/DownloadCommands.h"

#include "app/FilePanelPresenter.h"
#include "app/FlightRecordMetaType.h"
#include "app/MainWindow.h"
#include "app/SaveFolders.h"
#include "device/CorvexDevice.h"
#include "export/ExportFiles.h"
#include "platform/LogSink.h"
#include "ui_MainWindow.h"

#include <QComboBox>
#include <QDir>

namespace corvex {

DownloadCommands::DownloadCommands(Environment environment, OperationContext context)
    : m_environment(std::move(environment))
    , m_context(std::move(context))
{
}

TrackLogFileFormat DownloadCommands::wantedFormat() const
{
    return m_environment.window->logTypeColumn() == MainWindow::KmlColumn ? TrackLogFileFormat::Kml
                                                                          : TrackLogFileFormat::Igc;
}

TrackLogExport DownloadCommands::exporter()
{
    return TrackLogExport(*m_environment.device, TrackLogExportOptions { m_environment.alerts, m_environment.programVersion },
        m_context);
}

void DownloadCommands::downloadTracklog()
{
    QComboBox* flights = m_environment.window->ui().logEntriesCombo;
    if (flights->count() == 0 || !m_environment.device)
        return;
    const int index = flights->currentIndex();
    if (index >= 0 && flights->itemText(index) == QStringLiteral("All Available")) {
        logLine(m_context.log(), "All available is selected");
        if (m_environment.device->firmwareSupportsAutomaticTextIgcGeneration())
            downloadAllTracklogsAltogetherV2();
        else
            downloadAllTracklogsAltogether();
        return;
    }
    const QVariant item = index >= 0 ? flights->itemData(index) : QVariant();
    if (!item.canConvert<FlightRecord>()) {
        logLine(m_context.log(), "Selected item is not a flight record");
        return;
    }
    const long flightNumber = item.value<FlightRecord>().flightNumber;
    logLine(m_context.log(), "Selected flight number is %ld", flightNumber);
    if (flightNumber == 0)
        return;

    const TrackLogFileFormat format = wantedFormat();
    std::optional<std::string> suggestedName;
    m_context.beginStep(QStringLiteral("Downloading flight #%1. Please wait...").arg(flightNumber).toStdString());
    m_context.progress(std::nullopt);
    const auto text = exporter().downloadTracklogIntoString(flightNumber, format, &suggestedName);
    m_context.finish();
    if (!text)
        return;
    const bool igc = format == TrackLogFileFormat::Igc;
    const SavePanelRequest request { igc ? QStringLiteral("Exporting IGC file") : QStringLiteral("Exporting KML file"),
        QString::fromStdString(suggestedName.value_or(std::string {})), igc ? QStringLiteral("igc") : QStringLiteral("kml"),
        SaveFolders(m_environment.preferences).startFolder(SaveFolderKind::Flights) };
    const auto path = m_environment.panels->runSavePanel(request);
    if (!path)
        return;
    // A file that could not be written is said on the status line, never "Saved".
    if (!writeTextFile(path->toStdString(), *text, FileWriteMode::Atomic)) {
        m_environment.window->setStatusText(notWrittenStatus(*path));
        return;
    }
    SaveFolders(m_environment.preferences).rememberFolderOfFile(SaveFolderKind::Flights, *path);
    m_environment.window->setStatusText(flightSavedStatus(format, *path));
}

void DownloadCommands::downloadAllTracklogsAltogether()
{
    downloadAllTracklogs();
}

void DownloadCommands::downloadAllTracklogsAltogetherV2()
{
    downloadAllTracklogs();
}

void DownloadCommands::downloadAllTracklogs()
{
    if (m_environment.window->ui().logEntriesCombo->count() == 0)
        return;
    const bool igc = wantedFormat() == TrackLogFileFormat::Igc;
    FolderPanelRequest request;
    request.title = igc ? QStringLiteral("Exporting IGC files") : QStringLiteral("Exporting KML files");
    request.nameFieldText = QString::fromLatin1(igc ? allFlightsFolderNameIgc : allFlightsFolderNameKml);
    request.directory = SaveFolders(m_environment.preferences).startFolder(SaveFolderKind::Flights);
    const auto folder = m_environment.panels->runFolderPanel(request);
    if (!folder)
        return;
    // The folder the export's own folder was made in: the next panel offers the
    // suggested name there again.
    SaveFolders(m_environment.preferences).rememberFolderOfFile(SaveFolderKind::Flights, *folder);
    // The panel closes before the instrument is read.
    m_context.sleepFor(std::chrono::milliseconds(100));
    // A folder named in the panel but not made yet is made now.
    QDir().mkpath(*folder);
    // The sheet is up, and moving, while the flight list is read.
    m_context.beginStep(readingFlightListText);
    m_context.progress(std::nullopt);
    // Which of the two paths: the shared code asks the device's firmware flag, the same
    // flag that chose this operation.
    const AllTracklogsOutcome outcome
        = exporter().downloadAllTracklogsIntoFolder(folder->toStdString(), [this] { return wantedFormat(); });
    m_context.finish();
    if (!outcome.flightListRead) {
        m_environment.window->setStatusText(QStringLiteral("The flight list could not be read: nothing was saved."));
        return;
    }
    m_environment.window->setStatusText(flightsSavedStatus(outcome.writtenFiles.size(),
        outcome.failedFlights.size() + outcome.unwritableFiles.size(), wantedFormat(), *folder));
}

void DownloadCommands::downloadLogbook()
{
    if (!m_environment.device)
        return;
    const auto csv = exporter().downloadLogbookText();
    if (!csv)
        return;
    const SavePanelRequest request { QStringLiteral("Exporting flight records into a CSV file"),
        QString::fromLatin1(logBookFileName), QStringLiteral("csv"),
        SaveFolders(m_environment.preferences).startFolder(SaveFolderKind::LogBook) };
    const auto path = m_environment.panels->runSavePanel(request);
    if (!path)
        return;
    if (!writeTextFile(path->toStdString(), *csv, FileWriteMode::Atomic)) {
        m_environment.window->setStatusText(notWrittenStatus(*path));
        return;
    }
    SaveFolders(m_environment.preferences).rememberFolderOfFile(SaveFolderKind::LogBook, *path);
    m_environment.window->setStatusText(logBookSavedStatus(*path));
}

} // namespace corvex
