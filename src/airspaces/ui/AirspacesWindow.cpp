#include "airspaces/ui/AirspacesWindow.h"
#include "airspaces/ui/AirspaceHoverInfo.h"

#include "airspaces/AirspacesMap.h"
#include "airspaces/AirspacesTransferService.h"
#include "airspaces/OpenAirConverter.h"
#include "airspaces/WSAirspaces.h"
#include "device/InstrumentSession.h"
#include "base/FileRead.h"
#include "base/Format.h"
#include "device/CorvexDevice.h"
#include "device/FirmwareVersion.h"
#include "map/qt/MapBaseLayer.h"
#include "map/qt/ReliefLayer.h"
#include "map/qt/TerrainSource.h"
#include "platform/AlertPresenter.h"
#include "platform/EventLoop.h"
#include "platform/LogSink.h"
#include "platform/qt/QtEventLoopTurner.h"
#include "platform/qt/PreferencesStore.h"
#include "platform/qt/QtHttpClient.h"
#include "ui_AirspacesWindow.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPalette>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QVBoxLayout>

#include <cstdlib>

namespace corvex {

namespace {

const QString airspacesMapTypeKey = QStringLiteral("airspacesMapType");
const QString displayAirspacesAsKey = QStringLiteral("displayAirspacesAs");
const QString openAirEnabledKey = QStringLiteral("openAirEnabled");

// The bar runs over 0..1; a QProgressBar counts in integers.
constexpr int progressSteps = 1000;
// A whole read turns the event loop after this many chunks (about 0.1 s of the line).
constexpr std::size_t readChunksPerTurn = 8;

const char* const downloadingFromDeviceText
    = "Downloading airspaces from the device. It may take a couple of minutes, please DO NOT DISCONNECT the device.";
const char* const downloadingFromServerText = "Downloading an Airspaces file from Corvex";
const char* const convertingText = "Converting the OpenAir file into an internal format";
const char* const uploadingText
    = "Uploading Airspaces data to the device. It may take a couple of minutes, please DO NOT DISCONNECT the device";
const char* const clearingText = "Clearing Airspaces section on the device. It can take up to a minute.";

std::string optionalText(const std::optional<std::string>& text) { return text ? *text : std::string("(null)"); }

QString fromStd(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

std::optional<QString> askForText(QWidget* parent, const QString& prompt, const QString& defaultValue)
{
    QDialog dialog(parent);
    dialog.setWindowModality(Qt::WindowModal);
    auto* layout = new QVBoxLayout(&dialog);
    auto* label = new QLabel(prompt, &dialog);
    label->setWordWrap(true);
    layout->addWidget(label);
    auto* field = new QPlainTextEdit(defaultValue, &dialog);
    field->setFixedSize(300, 42);
    field->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    layout->addWidget(field);
    auto* buttons = new QDialogButtonBox(&dialog);
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    field->setFocus();
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return field->toPlainText();
}

} // namespace

// The action sheet's bar as the progress of the window's instrument workflows; the
// workflows show and hide the sheet themselves.
class AirspacesWindow::ActionSheetProgress final : public ProgressSink {
public:
    explicit ActionSheetProgress(AirspacesWindow& window)
        : m_window(window)
    {
    }
    void stepStarted(const OperationStep&) override { }
    void progressed(std::optional<double> fraction, const std::string&) override
    {
        if (fraction)
            m_window.setActionSheetProgress(*fraction);
        else
            m_window.setActionSheetIndeterminate();
    }
    void ended() override { }

private:
    AirspacesWindow& m_window;
};

AirspacesWindow::AirspacesWindow(Environment environment, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_ui(std::make_unique<Ui::AirspacesWindow>())
    , m_environment(environment)
    , m_actionSheetProgress(std::make_unique<ActionSheetProgress>(*this))
    , m_operations(*environment.log)
    , m_http(std::make_unique<QtHttpClient>())
{
    m_operations.withProgress(m_actionSheetProgress.get())
        .withCancel(m_deviceOperationCancel)
        .withSleep([this](std::chrono::milliseconds duration) {
            runEventLoopFor(std::chrono::duration<double>(duration).count());
        });
    m_ui->setupUi(this);
    QFont headline = font();
    headline.setBold(true);
    headline.setPointSizeF(font().pointSizeF() * 1.3);
    m_ui->headlineLabel->setFont(headline);
    m_ui->secretDrawer->hide();
    m_ui->convertedLocallyLabel->hide();
    m_ui->lastActionLabel->hide();
    m_ui->serviceStatusLabel->hide();
    m_ui->mapView->setDelegate(this);
    m_airspaceInfo = new AirspaceHoverInfo(
        *m_ui->mapView, [this] { return m_currentAirspaces ? &*m_currentAirspaces : nullptr; }, cacheDirectory(), this);
    if (m_environment.mapTiles) {
        MapBaseLayer::Options tiles;
        tiles.userAgent = MapBaseLayer::userAgentFor(QCoreApplication::applicationVersion());
        m_mapBaseLayer = std::make_shared<MapBaseLayer>(*m_environment.mapTiles, *m_environment.preferences, tiles);
        m_ui->mapView->setBaseLayer(m_mapBaseLayer);
    }
    // The relief over the tiles and under the airspaces, from the program's terrain;
    // another folder chosen in the preferences reaches an open window.
    m_relief = std::make_shared<ReliefLayer>();
    m_ui->mapView->setGroundLayer(m_relief);
    if (auto* terrain = TerrainSource::program()) {
        m_relief->setTerrain(terrain->tiles());
        connect(terrain, &TerrainSource::tilesChanged, this, [this, terrain] { m_relief->setTerrain(terrain->tiles()); });
    }

    m_actionSheet = new QDialog(this);
    m_actionSheet->setObjectName(QStringLiteral("actionSheet"));
    m_actionSheet->setWindowModality(Qt::WindowModal);
    auto* sheetLayout = new QVBoxLayout(m_actionSheet);
    m_actionSheetLabel = new QLabel(m_actionSheet);
    m_actionSheetLabel->setWordWrap(true);
    m_actionSheetLabel->setMinimumWidth(360);
    sheetLayout->addWidget(m_actionSheetLabel);
    m_actionSheetProgressBar = new QProgressBar(m_actionSheet);
    m_actionSheetProgressBar->setTextVisible(false);
    sheetLayout->addWidget(m_actionSheetProgressBar);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch();
    m_actionSheetCancelButton = new QPushButton(QStringLiteral("Cancel"), m_actionSheet);
    buttonRow->addWidget(m_actionSheetCancelButton);
    sheetLayout->addLayout(buttonRow);
    // Closing the sheet by the window manager or Escape is its Cancel, when offered.
    connect(m_actionSheet, &QDialog::rejected, this, [this] {
        if (m_actionSheetCancelButton->isEnabled())
            actionSheetCancelButtonPressed();
    });

    m_panels.openOpenAirFile = [this]() -> std::optional<QString> {
        // OpenAir files first: most are named .txt, and the rest of a folder is noise.
        const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Choose an OpenAir file"), QString(),
            QStringLiteral("OpenAir files (*.txt *.air *.openair);;All files (*)"));
        if (path.isEmpty())
            return std::nullopt;
        return path;
    };
    m_panels.input = [this](const QString& prompt, const QString& defaultValue) { return askForText(this, prompt, defaultValue); };

    connectActions();
    connect(m_environment.preferences, &PreferencesStore::changed, this, &AirspacesWindow::userDefaultsChangedNotification);
    userDefaultsChangedNotification();
    setContainerSubview(m_ui->noAirspacesView);
    showInstrumentState();
    // The approved list starts loading at start-up.
    downloadListOfAirspacesOnServerButton();
}

AirspacesWindow::~AirspacesWindow() = default;

void AirspacesWindow::setPanels(Panels panels)
{
    if (panels.openOpenAirFile)
        m_panels.openOpenAirFile = std::move(panels.openOpenAirFile);
    if (panels.input)
        m_panels.input = std::move(panels.input);
}

void AirspacesWindow::connectActions()
{
    Ui::AirspacesWindow& ui = *m_ui;
    connect(ui.proceedToSelectAirspacesToUploadViewButton, &QPushButton::clicked, this,
        &AirspacesWindow::proceedToSelectAirspacesToUploadViewButton);
    connect(ui.uploadAnotherAirspacesFileButton, &QPushButton::clicked, this, &AirspacesWindow::uploadAnotherAirspacesFileButton);
    connect(ui.backToUploadingButton, &QPushButton::clicked, this, &AirspacesWindow::backToUploadingButton);
    connect(ui.infoButton, &QPushButton::clicked, this, &AirspacesWindow::infoButtonPressed);
    connect(ui.centerMapButton, &QPushButton::clicked, this, &AirspacesWindow::centerMapButton);
    connect(ui.renderOnMapButton, &QPushButton::clicked, this, &AirspacesWindow::renderOnMapButton);
    connect(ui.toggleSecretDrawerButton, &QToolButton::clicked, this, &AirspacesWindow::toggleSecretDrawerButton);
    connect(ui.downloadListOfAirspacesOnServerButton, &QPushButton::clicked, this,
        &AirspacesWindow::downloadListOfAirspacesOnServerButton);
    connect(m_actionSheetCancelButton, &QPushButton::clicked, this, &AirspacesWindow::actionSheetCancelButtonPressed);

    connect(ui.downloadAirspacesFromTheDeviceButton, &QPushButton::clicked, this,
        &AirspacesWindow::downloadAirspacesFromTheDeviceButton);
    connect(ui.devDownloadAirspacesButton, &QPushButton::clicked, this, &AirspacesWindow::devDownloadAirspacesButton);
    connect(ui.uploadButton, &QPushButton::clicked, this, &AirspacesWindow::proceedWithUploadingButton);
    connect(ui.webDownloadAirspacesButton, &QPushButton::clicked, this, &AirspacesWindow::webDownloadAirspacesButton);
    connect(ui.uploadAirspacesFromAnOpenAirFile, &QPushButton::clicked, this, &AirspacesWindow::uploadAirspacesFromAnOpenAirFile);
    connect(ui.convertOpenairToInternalButton, &QPushButton::clicked, this, &AirspacesWindow::convertOpenairToInternalButton);
    connect(ui.uploadAirspacesButton, &QPushButton::clicked, this, &AirspacesWindow::uploadAirspacesButton);
    connect(ui.clearAirspacesButton, &QPushButton::clicked, this, &AirspacesWindow::clearAirspacesButton);
    connect(ui.backFromChooserButton, &QPushButton::clicked, this, &AirspacesWindow::backFromChooserButton);
    connect(ui.mapTypePopup, &QComboBox::activated, this, [this](int index) {
        m_environment.preferences->setValue(airspacesMapTypeKey, m_ui->mapTypePopup->itemData(index));
    });
    // The drawer's list and the upload view's are one choice: the drawer's Show and the
    // upload view's Upload act on the same set, whichever list it was picked in.
    for (auto [from, to] : { std::pair { ui.airspacesPopupButton, ui.airspacesListPopupButton },
             std::pair { ui.airspacesListPopupButton, ui.airspacesPopupButton } }) {
        connect(from, &QComboBox::currentIndexChanged, to, [to](int index) {
            if (index < to->count() && to->currentIndex() != index)
                to->setCurrentIndex(index);
        });
    }
}

// --- Opening, closing, the instrument's header ---

void AirspacesWindow::presentAirspacesWindow()
{
    show();
    raise();
    activateWindow();
    downloadListOfAirspacesOnServerButton();
    QPixmap background(QStringLiteral(":/images/cloudsBrightest.tiff"));
    if (!background.isNull()) {
        QPalette palette = this->palette();
        palette.setBrush(QPalette::Window, QBrush(background));
        setPalette(palette);
    }
    showInstrumentState();

    auto busy = holdInstrument("reading the airspaces");
    if (!busy)
        return;
    // A cancel left over from the last sheet would make the read below give nothing, and
    // the window would claim that the instrument holds no set.
    m_deviceOperationCancel.reset();
    const std::optional<Bytes> header = devDownloadMetadata();
    // Whatever the reading gives, the label says it when this ends.
    struct LabelAtEnd {
        AirspacesWindow& window;
        ~LabelAtEnd() { window.setCurrentAirspacesLabel(); }
    } labelAtEnd { *this };
    m_instrumentSet.reset();
    if (header && header->size() == airspacesFormat::headerSize) {
        m_instrumentSet = readAirspacesSetHeader(*header);
        // The name a set read from the instrument or sent by the service was saved under.
        std::optional<std::string> cacheFilename = buildCacheFilenameFromHeader(*header);
        if (cacheFilename)
            cacheFilename = safeCacheFileName(*cacheFilename, *header);
        logLine(*m_environment.log, "Cache filename: %s", optionalText(cacheFilename).c_str());
        if (auto cached = attemptToLoadAirspacesFromCache(cacheFilename)) {
            m_currentAirspaces = Airspaces::initWithDataInInternalFormat(std::move(*cached), *m_environment.log);
            showSetOnMap();
        } else {
            setContainerSubview(m_ui->downloadAirspacesFromDeviceView);
        }
        const std::string fileName = textField(ByteView(*header).subspan(airspacesFormat::fileNameOffset, airspacesFormat::fileNameSize));
        logLine(*m_environment.log, "Currently device has %s uploaded", fileName.c_str());
        m_deviceHasAirspaces = true;
    } else if (m_lastDeviceError) {
        // A header that did not come is no instrument without airspaces: the window
        // offers to read the set again, and the next upload erases first.
        logLine(*m_environment.log, "The instrument's airspaces could not be read: %s", m_lastDeviceError->detail.c_str());
        m_deviceHasAirspaces = true;
        setContainerSubview(m_ui->downloadAirspacesFromDeviceView);
        showCloseAlert("Unable to read the instrument's airspaces", describeDeviceError(*m_lastDeviceError));
    } else {
        logLine(*m_environment.log, "Device doesn't have airspaces on it currently");
        m_deviceHasAirspaces = false;
        setContainerSubview(m_ui->noAirspacesView);
    }
}

void AirspacesWindow::deviceDisconnected()
{
    showInstrumentState();
    close();
}

void AirspacesWindow::setInstrumentBusy(bool busy)
{
    if (busy) {
        // The window's own workflows cover it with their sheet.
        if (m_instrumentHold.lock() || !m_greyedWhileBusy.empty())
            return;
        for (QWidget* command : std::initializer_list<QWidget*> { m_ui->downloadAirspacesFromTheDeviceButton,
                 m_ui->devDownloadAirspacesButton, m_ui->uploadButton, m_ui->uploadAirspacesFromAnOpenAirFile,
                 m_ui->uploadAirspacesButton, m_ui->clearAirspacesButton }) {
            if (command->isEnabled()) {
                command->setEnabled(false);
                m_greyedWhileBusy.push_back(command);
            }
        }
        return;
    }
    for (QWidget* command : std::exchange(m_greyedWhileBusy, {}))
        command->setEnabled(true);
}

void AirspacesWindow::showInstrumentState()
{
    if (hasInstrument()) {
        m_ui->instrumentStatusLabel->setText(tr("Instrument connected, firmware %1.")
                .arg(QString::fromStdString(m_device->firmwareVersion().text())));
    } else {
        m_ui->instrumentStatusLabel->setText(tr("No instrument connected."));
    }
}

bool AirspacesWindow::hasInstrument() const { return m_device && m_device->hasOpenLine(); }

bool AirspacesWindow::instrumentIsBusy() const
{
    return m_environment.session && m_environment.session->isBusy();
}

std::shared_ptr<void> AirspacesWindow::holdInstrument(const char* purpose)
{
    if (auto held = m_instrumentHold.lock())
        return held;
    // The scope ends before the lease is given back.
    struct Hold {
        std::optional<InstrumentSession::Lease> lease;
        std::optional<CorvexDevice::OperationScope> scope;
    };
    auto hold = std::make_shared<Hold>();
    if (m_environment.session) {
        auto lease = m_environment.session->borrow(purpose);
        if (!lease) {
            logLine(*m_environment.log, "Not %s: %s", purpose, lease.error().detail.c_str());
            return nullptr;
        }
        hold->lease.emplace(std::move(*lease));
    }
    if (m_device)
        hold->scope.emplace(*m_device, m_operations);
    m_instrumentHold = hold;
    return hold;
}

std::optional<Bytes> AirspacesWindow::devDownloadMetadata()
{
    m_lastDeviceError.reset();
    if (m_deviceOperationCancel.isCancelled())
        return std::nullopt;
    if (m_device) {
        auto header = m_device->readWholeAirspacesSet(AirspacesReadScope::MetadataOnly);
        if (header)
            return std::move(*header);
        m_lastDeviceError = header.error();
    }
    logLine(*m_environment.log, "Error downloading metadadta from the device");
    return std::nullopt;
}

std::optional<Bytes> AirspacesWindow::devDownloadWholeAirspaces()
{
    m_lastDeviceError.reset();
    if (m_deviceOperationCancel.isCancelled())
        return std::nullopt;
    if (m_device) {
        // The instrument does not say how long its set is: the sheet counts the bytes
        // and the event loop turns every few chunks, so that the bar keeps moving and
        // the window keeps painting through a read of several minutes.
        std::size_t chunks = 0;
        auto set = AirspacesTransferService(*m_device).readWholeSet([this, &chunks](std::size_t bytesRead) {
            if (++chunks % readChunksPerTurn != 0)
                return;
            m_actionSheetLabel->setText(QString::fromUtf8(downloadingFromDeviceText) + QStringLiteral("\n\n")
                + tr("Read so far: %1 KB").arg(static_cast<qulonglong>(bytesRead / 1024)));
            // The sheet grows by the count's line once, rather than cutting the text.
            if (m_actionSheet->sizeHint().height() > m_actionSheet->height())
                m_actionSheet->adjustSize();
            runEventLoopFor(0);
        });
        if (set)
            return std::move(*set);
        m_lastDeviceError = set.error().device;
    }
    logLine(*m_environment.log, "Error downloading airspaces from the device");
    return std::nullopt;
}

// --- Content views, dialogs, the drawer ---

void AirspacesWindow::setContainerSubview(QWidget* view)
{
    if (view == m_ui->chooseAirspaceToUploadView)
        m_ui->backFromChooserButton->setText(m_currentAirspaces ? tr("Back to the Map") : tr("Back"));
    m_ui->contentArea->setCurrentWidget(view);
}

void AirspacesWindow::backFromChooserButton()
{
    // With nothing shown, back to what the instrument holds.
    if (m_currentAirspaces)
        setContainerSubview(m_ui->viewWithMap);
    else
        setContainerSubview(m_deviceHasAirspaces ? m_ui->downloadAirspacesFromDeviceView : m_ui->noAirspacesView);
}

QWidget* AirspacesWindow::currentContentView() const { return m_ui->contentArea->currentWidget(); }

void AirspacesWindow::proceedToSelectAirspacesToUploadViewButton() { setContainerSubview(m_ui->chooseAirspaceToUploadView); }

void AirspacesWindow::uploadAnotherAirspacesFileButton() { setContainerSubview(m_ui->chooseAirspaceToUploadView); }

void AirspacesWindow::backToUploadingButton() { setContainerSubview(m_ui->chooseAirspaceToUploadView); }

void AirspacesWindow::toggleSecretDrawerButton() { m_ui->secretDrawer->setVisible(m_ui->secretDrawer->isHidden()); }

QString AirspacesWindow::humanReadableStringForDate(std::chrono::sys_seconds date)
{
    const QDateTime time = QDateTime::fromSecsSinceEpoch(date.time_since_epoch().count());
    // Month abbreviations in English, whatever the user's language, as the label and
    // the header dialog have always shown them.
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(time, QStringLiteral("dd MMM yyyy"));
}

void AirspacesWindow::infoButtonPressed()
{
    if (!m_currentAirspaces)
        return;
    const Airspaces& set = *m_currentAirspaces;
    const std::string text = formatString("Airspaces filename: %s\nDescription: %s\nUpload date: %s\nNumber of segments: %ld",
        optionalText(set.airspacesFilename()).c_str(), optionalText(set.airspacesDescription()).c_str(),
        humanReadableStringForDate(set.airspacesUploadDate()).toStdString().c_str(), static_cast<long>(set.numberOfSegments()));
    m_environment.alerts->showAlert(Alert { "Airspaces info", text, { "Close" }, Alert::Kind::Information });
}

void AirspacesWindow::showCloseAlert(const std::string& message, const std::string& informativeText)
{
    m_environment.alerts->showAlert(Alert { message, informativeText, { "Close" } });
}

std::optional<QString> AirspacesWindow::input(const QString& prompt, const QString& defaultValue)
{
    return m_panels.input(prompt, defaultValue);
}

bool AirspacesWindow::shownSetIsOnTheInstrument() const
{
    if (!m_currentAirspaces || !m_instrumentSet || !m_currentAirspaces->internalData())
        return false;
    const auto shown = readAirspacesSetHeader(*m_currentAirspaces->internalData());
    return shown && shown->bytes == m_instrumentSet->bytes;
}

void AirspacesWindow::setCurrentAirspacesLabel()
{
    // The first line is always the instrument's set; a set that is only shown says so
    // on a line of its own, so that nobody takes it for what the instrument holds.
    QString text;
    if (m_instrumentSet) {
        text = QStringLiteral("Current Airspaces: %1 (uploaded on %2)")
                   .arg(fromStd(m_instrumentSet->fileName), humanReadableStringForDate(m_instrumentSet->uploadDate));
    } else if (m_deviceHasAirspaces) {
        text = tr("What the instrument holds is not known: read it again or upload a set.");
    } else {
        text = m_ui->noAirspacesLabel->text();
    }
    if (m_currentAirspaces && !shownSetIsOnTheInstrument())
        text += QLatin1Char('\n') + tr("Shown, not on the instrument: %1").arg(fromStd(optionalText(m_currentAirspaces->airspacesFilename())));
    m_ui->airspacesFilenameLabel->setText(text);
}

void AirspacesWindow::showLastAction(const QString& text)
{
    m_ui->lastActionLabel->setText(text);
    m_ui->lastActionLabel->setVisible(!text.isEmpty());
}

void AirspacesWindow::updateLastActionForTransfer(const char* format, const QString& name, std::size_t bytes)
{
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::steady_clock::now() - m_transferStarted + std::chrono::milliseconds(500));
    showLastAction(tr(format).arg(name).arg(static_cast<qulonglong>((bytes + 512) / 1024)).arg(static_cast<qlonglong>(seconds.count())));
}

int AirspacesWindow::displayAirspacesAs() const { return m_environment.preferences->value(displayAirspacesAsKey).toInt(); }

void AirspacesWindow::drawShownSet()
{
    MapView& map = *m_ui->mapView;
    map.removeAllOverlays();
    setCurrentAirspacesLabel();
    if (!m_currentAirspaces)
        return;
    map.addOverlays(generateMapkitPolylines(*m_currentAirspaces, displayAirspacesAs()));
    map.fitMapRect(fittingMapRect(map.overlays()), MapView::defaultFitMargin, true);
}

void AirspacesWindow::showSetOnMap()
{
    drawShownSet();
    setContainerSubview(m_ui->viewWithMap);
}

void AirspacesWindow::renderOnMapButton()
{
    if (m_currentAirspaces)
        showSetOnMap();
    else
        drawShownSet();
}

void AirspacesWindow::centerMapButton() { drawShownSet(); }

MapOverlayStyle AirspacesWindow::rendererForOverlay(const MapView& mapView, const MapOverlay& overlay)
{
    // The mode is read anew for every overlay: the colours follow the setting even
    // before the overlays are rebuilt.
    return airspacesOverlayStyle(overlay, mapView.indexOfOverlay(overlay).value_or(0), displayAirspacesAs());
}

// --- The action sheet ---

void AirspacesWindow::showActionSheetWithText(const QString& text, bool enableCancel)
{
    m_deviceOperationCancel.reset();
    m_actionSheetLabel->setText(text);
    m_actionSheetCancelButton->setEnabled(enableCancel);
    m_actionSheetProgressBar->setRange(0, progressSteps);
    m_actionSheetProgressBar->setValue(0);
    m_actionSheet->adjustSize();
    m_actionSheet->open();
}

void AirspacesWindow::setActionSheetIndeterminate() { m_actionSheetProgressBar->setRange(0, 0); }

void AirspacesWindow::setActionSheetProgress(double fraction)
{
    m_actionSheetProgressBar->setValue(static_cast<int>(fraction * progressSteps));
}

std::optional<double> AirspacesWindow::actionSheetProgress() const
{
    if (m_actionSheetProgressBar->maximum() == 0)
        return std::nullopt;
    return static_cast<double>(m_actionSheetProgressBar->value()) / progressSteps;
}

void AirspacesWindow::hideActionSheet()
{
    // done() would count as a rejection, which is the sheet's Cancel.
    m_actionSheet->hide();
}

void AirspacesWindow::actionSheetCancelButtonPressed()
{
    m_deviceOperationCancel.cancel();
    wsAirspaces().cancelCurrentOperation();
}

void AirspacesWindow::runEventLoopFor(double seconds)
{
    if (m_environment.eventLoop) {
        m_environment.eventLoop->runEventLoopFor(seconds);
        return;
    }
    QtEventLoopTurner().runEventLoopFor(seconds);
}

// --- Settings ---

void AirspacesWindow::userDefaultsChangedNotification()
{
    MapView& map = *m_ui->mapView;
    updateMapTypeChoices();

    const int mode = displayAirspacesAs();
    if (mode != m_overlaySegmentsColoringType) {
        m_overlaySegmentsColoringType = mode;
        // Closed rings are polygons in one mode and lines in the others: the overlays
        // are built again, not only restyled.
        map.removeAllOverlays();
        if (m_currentAirspaces)
            map.addOverlays(generateMapkitPolylines(*m_currentAirspaces, mode));
        map.redraw();
    }
    m_ui->openAirSupportSubview->setVisible(m_environment.preferences->boolValue(openAirEnabledKey));
    if (m_ui->serviceStatusLabel->isVisibleTo(this) && !m_listRequestInFlight)
        showApprovedListState(m_ui->airspacesPopupButton->count() > 0);
}

void AirspacesWindow::updateMapTypeChoices()
{
    // Only the types with tiles of their own are offered; a saved choice of one that
    // is not falls back to Standard.
    static constexpr const char* names[] = { "Standard", "Satellite", "Hybrid" };
    std::vector<MapType> offered;
    for (MapType type : { MapType::Standard, MapType::Satellite, MapType::Hybrid }) {
        if (MapBaseLayer::hasOwnTiles(*m_environment.preferences, type))
            offered.push_back(type);
    }
    QComboBox& popup = *m_ui->mapTypePopup;
    const QSignalBlocker blocker(popup);
    std::vector<MapType> listed;
    for (int i = 0; i < popup.count(); ++i)
        listed.push_back(static_cast<MapType>(popup.itemData(i).toInt()));
    if (listed != offered) {
        popup.clear();
        for (MapType type : offered)
            popup.addItem(tr(names[static_cast<int>(type)]), static_cast<int>(type));
    }
    bool typeKnown = false;
    const int saved = m_environment.preferences->value(airspacesMapTypeKey).toInt(&typeKnown);
    MapType chosen = MapType::Standard;
    for (MapType type : offered) {
        if (typeKnown && static_cast<int>(type) == saved)
            chosen = type;
    }
    popup.setCurrentIndex(popup.findData(static_cast<int>(chosen)));
    if (chosen != m_ui->mapView->mapType())
        m_ui->mapView->setMapType(chosen);
}

// --- The cache ---

QString AirspacesWindow::cacheDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Corvex");
}

std::optional<Bytes> AirspacesWindow::attemptToLoadAirspacesFromCache(const std::optional<std::string>& filename)
{
    if (!filename)
        return std::nullopt;
    const auto bytes = readFileWhole(QFile::encodeName(QDir(cacheDirectory()).filePath(fromStd(*filename))).toStdString(),
        FileKind::AirspaceSet);
    if (!bytes)
        return std::nullopt;
    return Bytes(bytes->begin(), bytes->end());
}

void AirspacesWindow::saveAirspacesToCache(const Bytes& setBytes, const std::optional<std::string>& uniqueFilename)
{
    if (!uniqueFilename)
        return;
    const QString directory = cacheDirectory();
    if (!QDir().mkpath(directory))
        return;
    QSaveFile file(QDir(directory).filePath(fromStd(*uniqueFilename)));
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(reinterpret_cast<const char*>(setBytes.data()), static_cast<qint64>(setBytes.size()));
    file.commit();
}

// --- The vendor's service ---

WSAirspaces& AirspacesWindow::wsAirspaces()
{
    // The URL is resolved at each request: the user may change the server meanwhile.
    // A client busy with a request keeps its URL until that request has ended.
    const std::string url = m_environment.preferences->vendorEndpoints().airspacesServiceUrl();
    if (!m_wsAirspaces || (url != m_wsAirspacesUrl && !m_wsAirspaces->isBusy())) {
        m_wsAirspaces = std::make_unique<WSAirspaces>(url, *m_http, *m_environment.log);
        m_wsAirspacesUrl = url;
    }
    return *m_wsAirspaces;
}

void AirspacesWindow::downloadListOfAirspacesOnServerButton()
{
    m_ui->uploadButton->setEnabled(false);
    WSAirspaces& service = wsAirspaces();
    if (service.isBusy())
        return; // refused by the client; the request in flight will fill the lists
    m_listRequestInFlight = true;
    service.GetApprovedAirspacesListWithCompletionHandler(
        [this](std::optional<std::vector<airspacesSoap::ApprovedAirspacesEntry>> list) {
            m_listRequestInFlight = false;
            if (!list && m_listRequestGaveWay) {
                m_listRequestGaveWay = false;
                m_ui->uploadButton->setEnabled(m_ui->airspacesPopupButton->count() > 0);
                return;
            }
            m_ui->airspacesPopupButton->clear();
            m_ui->airspacesListPopupButton->clear();
            if (list) {
                for (const auto& entry : *list) {
                    const QVariant carried = QVariant::fromValue(QStringList { fromStd(entry.displayName), fromStd(entry.id) });
                    m_ui->airspacesPopupButton->addItem(fromStd(entry.displayName), carried);
                    m_ui->airspacesListPopupButton->addItem(fromStd(entry.displayName), carried);
                }
            }
            m_ui->uploadButton->setEnabled(m_ui->airspacesPopupButton->count() > 0);
            showApprovedListState(list.has_value());
        });
}

void AirspacesWindow::showApprovedListState(bool listed)
{
    // An empty list and a grey Upload say nothing by themselves: the window says what
    // failed and what still works.
    QString text;
    if (!listed) {
        text = tr("The Corvex airspaces service did not answer: its approved sets cannot be listed or uploaded now.");
        if (m_environment.preferences->boolValue(openAirEnabledKey))
            text += QLatin1Char(' ') + tr("An OpenAir file still converts on this computer and uploads (Upload an OpenAir File…).");
        text += QLatin1Char(' ') + tr("To ask the service again: More… → Reload the Approved List.");
    } else if (m_ui->airspacesPopupButton->count() == 0) {
        text = tr("The Corvex airspaces service lists no approved sets.");
    }
    m_ui->serviceStatusLabel->setText(text);
    m_ui->serviceStatusLabel->setVisible(!text.isEmpty());
}

// --- The transfer workflows ---

void AirspacesWindow::downloadAirspacesFromTheDeviceButton()
{
    if (!instrumentIsBusy())
        readWholeSetFromTheDevice(Caching::Cache);
}

void AirspacesWindow::devDownloadAirspacesButton()
{
    if (!instrumentIsBusy())
        readWholeSetFromTheDevice(Caching::DoNotCache);
}

void AirspacesWindow::readWholeSetFromTheDevice(Caching caching)
{
    auto busy = holdInstrument("reading the airspaces");
    if (!busy)
        return;
    showLastAction({});
    m_transferStarted = std::chrono::steady_clock::now();
    showActionSheetWithText(QString::fromUtf8(downloadingFromDeviceText), false);
    setActionSheetIndeterminate();
    runEventLoopFor(0.01);
    std::optional<Bytes> setBytes = devDownloadWholeAirspaces();
    hideActionSheet();
    if (!setBytes) {
        showCloseAlert("Error downloading airspaces from the device",
            m_lastDeviceError ? describeDeviceError(*m_lastDeviceError) : std::string());
        return;
    }
    logLine(*m_environment.log, "Totally read from the device: %ld bytes", static_cast<long>(setBytes->size()));
    if (setBytes->empty()) {
        logLine(*m_environment.log, "There are no airspaces on the device");
        m_deviceHasAirspaces = false;
        m_instrumentSet.reset();
        showLastAction(m_ui->noAirspacesLabel->text());
        setCurrentAirspacesLabel();
        if (!m_currentAirspaces)
            setContainerSubview(m_ui->noAirspacesView);
        return;
    }
    m_deviceHasAirspaces = true;
    m_instrumentSet = readAirspacesSetHeader(*setBytes);
    const std::size_t byteCount = setBytes->size();
    auto bytes = std::make_shared<const Bytes>(std::move(*setBytes));
    std::optional<Airspaces> set = Airspaces::initWithDataInInternalFormat(bytes, *m_environment.log);
    if (m_instrumentSet)
        updateLastActionForTransfer("Read %1 from the instrument: %2 KB in %3 s", fromStd(m_instrumentSet->fileName), byteCount);
    if (caching == Caching::DoNotCache) {
        m_currentAirspaces = std::move(set);
        showSetOnMap();
        logLine(*m_environment.log, "%s", m_currentAirspaces ? m_currentAirspaces->description().c_str() : "(null)");
        return;
    }
    if (!set) {
        logLine(*m_environment.log, "Couldn't build an airspaces object");
        setCurrentAirspacesLabel();
        return;
    }
    m_currentAirspaces = std::move(set);
    m_ui->convertedLocallyLabel->hide();
    saveAirspacesToCache(*bytes, safeCacheFileName(m_currentAirspaces->buildCacheFilename(), *bytes));
    showSetOnMap();
    logLine(*m_environment.log, "%s", m_currentAirspaces->description().c_str());
}

bool AirspacesWindow::confirmErasingInstrumentSet(Question question, const QString& newSetName)
{
    if (question == Question::ReplaceBy && !m_deviceHasAirspaces)
        return true;
    const QString held = m_instrumentSet ? tr("%1 (uploaded on %2)")
                                               .arg(fromStd(m_instrumentSet->fileName),
                                                   humanReadableStringForDate(m_instrumentSet->uploadDate))
                                         : QString();
    Alert alert;
    alert.kind = Alert::Kind::Warning;
    alert.defaultButton = 1; // No: Return must never erase
    if (question == Question::ReplaceBy) {
        alert.message = tr("Replace the airspaces on the instrument?").toStdString();
        alert.informativeText = (m_instrumentSet
                ? tr("The instrument holds %1. It is erased and replaced by %2.").arg(held, newSetName)
                : tr("The instrument holds airspaces that could not be read. They are erased and replaced by %1.").arg(newSetName))
                                    .toStdString();
        alert.buttons = { "Replace", "No" };
    } else {
        alert.message = tr("Clear the airspaces on the instrument?").toStdString();
        alert.informativeText = (m_instrumentSet ? tr("%1 is erased from the instrument. It takes up to a minute.").arg(held)
                                                 : tr("The instrument's airspaces are erased. It takes up to a minute."))
                                    .toStdString();
        alert.buttons = { "Clear", "No" };
    }
    const bool confirmed = m_environment.alerts->showAlert(alert) == 0;
    if (!confirmed)
        logLine(*m_environment.log, "The instrument's airspaces were left as they are");
    return confirmed;
}

void AirspacesWindow::proceedWithUploadingButton()
{
    if (instrumentIsBusy())
        return;
    if (!m_ui->airspacesPopupButton->currentData().toStringList().isEmpty()
        && !confirmErasingInstrumentSet(Question::ReplaceBy, m_ui->airspacesPopupButton->currentText()))
        return;
    downloadApprovedSet(AfterDownload::CacheUploadAndShow, m_ui->airspacesPopupButton);
}

void AirspacesWindow::webDownloadAirspacesButton() { downloadApprovedSet(AfterDownload::ShowOnly, m_ui->airspacesListPopupButton); }

void AirspacesWindow::downloadApprovedSet(AfterDownload after, QComboBox* list)
{
    if (after == AfterDownload::CacheUploadAndShow && instrumentIsBusy())
        return;
    showActionSheetWithText(QString::fromUtf8(downloadingFromServerText), true);
    setActionSheetIndeterminate();
    const QStringList entry = list->currentData().toStringList();
    if (entry.size() != 2) {
        logLine(*m_environment.log, "Nothing selected in the combo box, can't download");
        hideActionSheet();
        return;
    }
    // The instrument is this workflow's from the press of the button to the end of the
    // upload: a command of the main window must not start while the set downloads.
    std::shared_ptr<void> busy;
    if (after == AfterDownload::CacheUploadAndShow && !(busy = holdInstrument("uploading airspaces"))) {
        hideActionSheet();
        return;
    }
    showLastAction({});
    m_transferStarted = std::chrono::steady_clock::now();
    const std::int64_t setId = std::strtoll(entry[1].toUtf8().constData(), nullptr, 10);
    WSAirspaces& service = idleWsAirspaces();
    service.GetApprovedAirspaces(setId, WSAirspaces::FileReplyHandler([this, after, busy](WSAirspaces::FileReply reply) {
        hideActionSheet();
        if (!reply.data) {
            std::string why;
            switch (reply.failure.value_or(WSAirspaces::Failure::Refused)) {
            case WSAirspaces::Failure::Unreachable:
                why = "The Corvex airspaces service cannot be reached. An OpenAir file still converts on this computer.";
                break;
            case WSAirspaces::Failure::Cancelled:
                why = "The download was cancelled; the instrument was not changed.";
                break;
            case WSAirspaces::Failure::Refused:
                why = reply.refusal ? "The service refused: " + *reply.refusal : "The service's answer could not be read.";
                break;
            }
            showCloseAlert("Unable to download an Airspaces data from the Corvex server", why);
            return;
        }
        logLine(*m_environment.log, "GetApprovedAirspaces response: filename is: '%s', the data size is %ld",
            optionalText(reply.fileName).c_str(), static_cast<long>(reply.data->size()));
        auto bytes = std::make_shared<const Bytes>(std::move(*reply.data));
        std::optional<Airspaces> set = Airspaces::initWithDataInInternalFormat(bytes, *m_environment.log);
        if (!set) {
            showCloseAlert("Unable to download an Airspaces data from the Corvex server",
                "The service sent a set that is not in the instrument's format.");
            return;
        }
        m_ui->convertedLocallyLabel->hide();
        // The service's name becomes a path in the cache folder only when it is a
        // plain file name; otherwise the set's own name is used.
        if (after == AfterDownload::CacheUploadAndShow)
            saveAirspacesToCache(*bytes, safeCacheFileName(reply.fileName.value_or(std::string()), *bytes));
        m_currentAirspaces = std::move(set);
        if (after == AfterDownload::CacheUploadAndShow)
            uploadCurrentAirspaces();
        showSetOnMap();
        logLine(*m_environment.log, "%s", m_currentAirspaces->description().c_str());
    }));
}

void AirspacesWindow::uploadAirspacesFromAnOpenAirFile() { convertOpenAirFile(AfterConversion::CacheUploadAndShow); }

void AirspacesWindow::convertOpenairToInternalButton() { convertOpenAirFile(AfterConversion::ShowOnly); }

namespace {

// Why a conversion gave no set, for the alert's informative text.
std::string conversionFailureText(const ConversionFailure& failure)
{
    switch (failure.reason) {
    case ConversionFailure::Reason::Refused:
        return failure.serviceReason ? "The airspaces service refused the file: " + *failure.serviceReason
                                     : "The airspaces service refused the file without giving a reason.";
    case ConversionFailure::Reason::Cancelled:
        return "The conversion was cancelled.";
    case ConversionFailure::Reason::InvalidFile: {
        // Enough lines to find the first mistakes; the log has them all.
        constexpr std::size_t shownProblems = 8;
        std::string text = "The file could not be read as OpenAir:";
        for (std::size_t i = 0; i < failure.problems.size() && i < shownProblems; ++i)
            text += "\n" + failure.problems[i];
        if (failure.problems.size() > shownProblems)
            text += formatString("\n(and %zu more)", failure.problems.size() - shownProblems);
        return text;
    }
    case ConversionFailure::Reason::NoSafeName:
        return "The converted set has no name under which it can be kept on this computer.";
    }
    return {};
}

} // namespace

void AirspacesWindow::convertOpenAirFile(AfterConversion after)
{
    if (after == AfterConversion::CacheUploadAndShow && instrumentIsBusy())
        return;
    const std::optional<QString> path = m_panels.openOpenAirFile();
    if (!path)
        return;
    const auto text = readFileWhole(QFile::encodeName(*path).toStdString(), FileKind::OpenAir);
    if (!text) {
        showCloseAlert("Unable to convert the OpenAir file into internal format",
            formatString("The file %s cannot be read: %s", path->toStdString().c_str(), text.error().reason().c_str()));
        return;
    }
    const QByteArray raw = QByteArray::fromStdString(*text);
    const std::optional<QString> description = input(QStringLiteral("Please enter the description"), QString());
    if (!description)
        return;
    const QString fileName = QFileInfo(*path).fileName();

    std::shared_ptr<void> busy;
    if (after == AfterConversion::CacheUploadAndShow) {
        if (!confirmErasingInstrumentSet(Question::ReplaceBy, fileName))
            return;
        if (!(busy = holdInstrument("uploading airspaces")))
            return;
        showLastAction({});
        m_transferStarted = std::chrono::steady_clock::now();
        showActionSheetWithText(QString::fromUtf8(convertingText), false);
        setActionSheetIndeterminate();
    }
    // The converter reads files that are not UTF-8 as ISO-8859-1, and converts on this
    // computer when the service cannot be reached.
    OpenAirConverter converter(&idleWsAirspaces(), *m_environment.log);
    converter.convertWithReasons(description->toStdString(),
        std::string_view(raw.constData(), static_cast<std::size_t>(raw.size())), fileName.toStdString(),
        [this, after, busy, path = *path, raw](Result<ConvertedAirspaces, ConversionFailure> converted) {
            if (after == AfterConversion::CacheUploadAndShow)
                hideActionSheet();
            if (!converted) {
                showCloseAlert("Unable to convert the OpenAir file into internal format", conversionFailureText(converted.error()));
                logLine(*m_environment.log, "convertOpenairToInternalButton error");
                return;
            }
            m_ui->convertedLocallyLabel->setVisible(converted->convertedLocally);
            if (m_environment.openAirConverted)
                m_environment.openAirConverted(path, raw, converted->bytes);
            auto bytes = std::make_shared<const Bytes>(std::move(converted->bytes));
            std::optional<Airspaces> set = Airspaces::initWithDataInInternalFormat(bytes, *m_environment.log);
            if (set)
                m_airspaceInfo->rememberOpenAirSource(*set, raw);
            if (after == AfterConversion::ShowOnly) {
                m_currentAirspaces = std::move(set);
                showSetOnMap();
                return;
            }
            if (!set)
                return;
            m_currentAirspaces = std::move(set);
            saveAirspacesToCache(*bytes, converted->fileName);
            uploadCurrentAirspaces();
            showSetOnMap();
        });
}

void AirspacesWindow::uploadAirspacesButton()
{
    if (instrumentIsBusy())
        return;
    if (m_currentAirspaces && m_device
        && !confirmErasingInstrumentSet(Question::ReplaceBy, fromStd(optionalText(m_currentAirspaces->airspacesFilename()))))
        return;
    showLastAction({});
    m_transferStarted = std::chrono::steady_clock::now();
    uploadCurrentAirspaces();
    if (m_currentAirspaces)
        showSetOnMap();
}

void AirspacesWindow::uploadCurrentAirspaces()
{
    if (!m_currentAirspaces || !m_currentAirspaces->internalData()) {
        logLine(*m_environment.log, "self.currentAirspaces.internalData is nil, cancelling operation");
        return;
    }
    if (!m_device)
        return;
    auto busy = holdInstrument("uploading airspaces");
    if (!busy)
        return;
    const std::shared_ptr<const Bytes> setBytes = m_currentAirspaces->internalData();
    logLine(*m_environment.log, "Total data size to upload: %ld", static_cast<long>(setBytes->size()));
    if (m_deviceHasAirspaces && !clearInstrument())
        return;

    showActionSheetWithText(QString::fromUtf8(uploadingText), false);
    // The service erases first when the instrument holds a set it was not believed to;
    // the erase's progress reaches the bar through the window's operation context.
    AirspacesTransferObserver observer;
    observer.isCancelled = [this] { return m_operations.isCancelled(); };
    observer.chunkWritten = [this](std::size_t n, std::size_t count) {
        m_operations.progress(static_cast<float>(n - 1) / static_cast<float>(count));
        if (m_device->shouldLogCommunications())
            logLine(*m_environment.log, "writing chunk %ld out of %ld", static_cast<long>(n), static_cast<long>(count));
        if ((n + 1) % 50 == 0)
            m_operations.sleepFor(std::chrono::milliseconds(1));
    };
    auto uploaded = AirspacesTransferService(*m_device).upload(setBytes, observer);
    if (uploaded) {
        logLine(*m_environment.log, "Totally uploaded to the device %ld bytes", static_cast<long>(uploaded->byteCount));
        m_deviceHasAirspaces = true;
        m_instrumentSet = readAirspacesSetHeader(*setBytes);
        if (m_environment.setUploaded)
            m_environment.setUploaded(*setBytes);
        hideActionSheet();
        updateLastActionForTransfer("%1 is on the instrument: %2 KB in %3 s",
            fromStd(optionalText(m_currentAirspaces->airspacesFilename())), uploaded->byteCount);
        setCurrentAirspacesLabel();
        return;
    }
    // Whatever stopped the upload, the set the instrument held before is gone or in doubt.
    m_instrumentSet.reset();
    const AirspacesTransferFailure& failure = uploaded.error();
    switch (failure.reason) {
    case AirspacesTransferError::ChunkRefused:
        logLine(*m_environment.log, "Error uploading airspaces to the device");
        hideActionSheet();
        showCloseAlert("Error uploading Airspaces data to the device",
            formatString("We just got an error when uploading chunk #%ld out of %ld", static_cast<long>(failure.chunk),
                static_cast<long>(failure.chunkCount)));
        break;
    case AirspacesTransferError::ConcludeFailed:
        // Every chunk went out but the instrument did not confirm the end: what it
        // holds now is unknown, so the next upload erases first.
        m_deviceHasAirspaces = true;
        hideActionSheet();
        showCloseAlert("Error uploading Airspaces data to the device",
            "The instrument did not confirm the end of the upload. The airspaces on the instrument may be incomplete: "
            "please upload them again.");
        break;
    case AirspacesTransferError::EraseFailed:
        m_deviceHasAirspaces = true;
        hideActionSheet();
        showEraseFailedAlert();
        break;
    case AirspacesTransferError::Cancelled:
    case AirspacesTransferError::NotASet:
    case AirspacesTransferError::ReadFailed:
        hideActionSheet();
        break;
    }
    setCurrentAirspacesLabel();
}

void AirspacesWindow::clearAirspaces()
{
    logLine(*m_environment.log, "Clear airspaces");
    clearAirspacesButton();
}

void AirspacesWindow::clearAirspacesButton()
{
    if (!m_device || instrumentIsBusy() || !confirmErasingInstrumentSet(Question::Clear))
        return;
    showLastAction({});
    m_transferStarted = std::chrono::steady_clock::now();
    const bool erasedTheShownSet = shownSetIsOnTheInstrument();
    if (!clearInstrument())
        return;
    // The erased set is no longer shown as if it were there; a set shown from
    // elsewhere stays on the map, marked as not on the instrument.
    if (erasedTheShownSet)
        m_currentAirspaces.reset();
    drawShownSet();
    setContainerSubview(m_currentAirspaces ? m_ui->viewWithMap : m_ui->noAirspacesView);
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::steady_clock::now() - m_transferStarted + std::chrono::milliseconds(500));
    showLastAction(tr("The instrument's airspaces were cleared in %1 s.").arg(static_cast<qlonglong>(seconds.count())));
}

bool AirspacesWindow::clearInstrument()
{
    auto busy = holdInstrument("clearing the airspaces");
    if (!busy)
        return false;
    showActionSheetWithText(QString::fromUtf8(clearingText), false);
    runEventLoopFor(0.01);
    auto cleared = AirspacesTransferService(*m_device).clear();
    hideActionSheet();
    m_instrumentSet.reset();
    if (!cleared) {
        // An unconfirmed erase may have left part of the set: keep treating the
        // instrument as holding one, so that the next upload erases first.
        m_deviceHasAirspaces = true;
        setCurrentAirspacesLabel();
        showEraseFailedAlert();
        return false;
    }
    m_deviceHasAirspaces = false;
    setCurrentAirspacesLabel();
    return true;
}

void AirspacesWindow::showEraseFailedAlert()
{
    showCloseAlert("Error clearing Airspaces on the device",
        "The instrument did not confirm that it erased its airspaces. The airspaces on the instrument may be incomplete: "
        "please clear them again or upload a new set.");
}

WSAirspaces& AirspacesWindow::idleWsAirspaces()
{
    WSAirspaces& service = wsAirspaces();
    // The client refuses a second request, and a refused request never calls back,
    // which would leave the sheet up for good. Only the approved list runs on its own
    // (at start-up and on opening); it gives way, and keeps the lists it had.
    if (service.isBusy()) {
        m_listRequestGaveWay = m_listRequestInFlight;
        service.cancelCurrentOperation();
    }
    return wsAirspaces();
}

} // namespace corvex
