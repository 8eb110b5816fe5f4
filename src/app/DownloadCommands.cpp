#include "app/DownloadCommands.h"

#include "app/FilePanelPresenter.h"
#include "app/FlightRecordMetaType.h"
#include "app/MainWindow.h"
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
        QString::fromStdString(suggestedName.value_or(std::string {})), igc ? QStringLiteral("igc") : QStringLiteral("kml") };
    const auto path = m_environment.panels->runSavePanel(request);
    if (!path)
        return;
    // A failed write is not reported to the user, as for every export.
    writeTextFile(path->toStdString(), *text, FileWriteMode::Atomic);
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
    const auto folder = m_environment.panels->runFolderPanel(request);
    if (!folder)
        return;
    // The panel closes before the instrument is read.
    m_context.sleepFor(std::chrono::milliseconds(100));
    // A folder named in the panel but not made yet is made now.
    QDir().mkpath(*folder);
    // The sheet is up, and moving, while the flight list is read.
    m_context.beginStep(readingFlightListText);
    m_context.progress(std::nullopt);
    // Which of the two paths: the shared code asks the device's firmware flag, the same
    // flag that chose this operation.
    exporter().downloadAllTracklogsIntoFolder(folder->toStdString(), [this] { return wantedFormat(); });
    m_context.finish();
}

void DownloadCommands::downloadLogbook()
{
    if (!m_environment.device)
        return;
    const auto csv = exporter().downloadLogbookText();
    if (!csv)
        return;
    const SavePanelRequest request { QStringLiteral("Exporting flight records into a CSV file"),
        QString::fromLatin1(logBookFileName), QStringLiteral("csv") };
    const auto path = m_environment.panels->runSavePanel(request);
    if (!path)
        return;
    writeTextFile(path->toStdString(), *csv, FileWriteMode::Atomic);
}

} // namespace corvex
