#include "app/DownloadCommands.h"

#include "app/FilePanelPresenter.h"
#include "app/FlightRecordMetaType.h"
#include "app/MainWindow.h"
#include "device/CorvexDevice.h"
#include "export/ExportFiles.h"
#include "platform/EventLoop.h"
#include "platform/LogSink.h"
#include "platform/qt/QtEventLoopTurner.h"
#include "ui_MainWindow.h"

#include <QComboBox>
#include <QDir>

namespace corvex {

DownloadCommands::DownloadCommands(Environment environment)
    : m_environment(std::move(environment))
{
}

TrackLogFileFormat DownloadCommands::wantedFormat() const
{
    return m_environment.window->logTypeColumn() == MainWindow::KmlColumn ? TrackLogFileFormat::Kml
                                                                          : TrackLogFileFormat::Igc;
}

TrackLogExport DownloadCommands::exporter()
{
    TrackLogExportEnvironment environment;
    environment.log = m_environment.log;
    environment.alerts = m_environment.alerts;
    if (m_environment.showSheetWithText) {
        environment.showSheetWithText
            = [show = m_environment.showSheetWithText](const std::string& text) { show(QString::fromStdString(text)); };
    }
    environment.hideSheet = m_environment.hideSheet;
    environment.programVersion = m_environment.programVersion;
    environment.flightStarted = [this](std::size_t flight, std::size_t flightCount) {
        m_flightShare = 1.0 / static_cast<double>(flightCount);
        m_flightsBefore = static_cast<double>(flight - 1) * m_flightShare;
        if (m_environment.showSheetWithText)
            m_environment.showSheetWithText(QStringLiteral("Downloading flight %1 of %2. Please wait...").arg(flight).arg(flightCount));
        transferStep(0, 0.0);
    };
    return TrackLogExport(*m_environment.device, environment);
}

void DownloadCommands::watchTransfers()
{
    m_flightsBefore = 0;
    m_flightShare = 1;
    m_lastTurn = {};
    m_previousTransferProgress = m_environment.device->transferProgress();
    m_environment.device->setTransferProgress(
        [this](std::size_t bytesReceived, std::optional<double> fraction) { transferStep(bytesReceived, fraction); });
}

void DownloadCommands::unwatchTransfers()
{
    if (m_environment.device)
        m_environment.device->setTransferProgress(std::exchange(m_previousTransferProgress, {}));
    if (m_environment.hideSheet)
        m_environment.hideSheet();
}

void DownloadCommands::transferStep(std::size_t bytesReceived, std::optional<double> fraction)
{
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastTurn < std::chrono::milliseconds(50))
        return;
    m_lastTurn = now;
    if (m_environment.setSheetProgress) {
        // Within an all-flights export a flight whose length is unknown still moves
        // the bar to its own start.
        const std::optional<double> overall = fraction ? std::optional(m_flightsBefore + *fraction * m_flightShare)
            : m_flightShare < 1                        ? std::optional(m_flightsBefore)
                                                       : std::nullopt;
        m_environment.setSheetProgress(overall,
            bytesReceived == 0 ? QString() : QStringLiteral("%1 KB received").arg((bytesReceived + 512) / 1024));
    }
    runEventLoopFor(0);
}

void DownloadCommands::runEventLoopFor(double seconds)
{
    if (m_environment.eventLoop) {
        m_environment.eventLoop->runEventLoopFor(seconds);
        return;
    }
    QtEventLoopTurner().runEventLoopFor(seconds);
}

void DownloadCommands::downloadTracklog()
{
    QComboBox* flights = m_environment.window->ui().logEntriesCombo;
    if (flights->count() == 0 || !m_environment.device)
        return;
    const int index = flights->currentIndex();
    if (index >= 0 && flights->itemText(index) == QStringLiteral("All Available")) {
        logLine(*m_environment.log, "All available is selected");
        if (m_environment.device->firmwareSupportsAutomaticTextIgcGeneration())
            downloadAllTracklogsAltogetherV2();
        else
            downloadAllTracklogsAltogether();
        return;
    }
    const QVariant item = index >= 0 ? flights->itemData(index) : QVariant();
    if (!item.canConvert<FlightRecord>()) {
        logLine(*m_environment.log, "Selected item is not a flight record");
        return;
    }
    const long flightNumber = item.value<FlightRecord>().flightNumber;
    logLine(*m_environment.log, "Selected flight number is %ld", flightNumber);
    if (flightNumber == 0)
        return;

    const TrackLogFileFormat format = wantedFormat();
    std::optional<std::string> suggestedName;
    watchTransfers();
    if (m_environment.showSheetWithText)
        m_environment.showSheetWithText(QStringLiteral("Downloading flight #%1. Please wait...").arg(flightNumber));
    transferStep(0, std::nullopt);
    const auto text = exporter().downloadTracklogIntoString(flightNumber, format, &suggestedName);
    unwatchTransfers();
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
    runEventLoopFor(0.1);
    // A folder named in the panel but not made yet is made now.
    QDir().mkpath(*folder);
    // Which of the two paths: the shared code asks the device's firmware flag, the same
    // flag that chose this operation.
    watchTransfers();
    exporter().downloadAllTracklogsIntoFolder(folder->toStdString(), [this] { return wantedFormat(); });
    unwatchTransfers();
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
