#pragma once

#include "airspaces/Airspaces.h"
#include "device/DeviceError.h"
#include "airspaces/AirspacesSoap.h"
#include "base/Bytes.h"
#include "map/ui/MapView.h"
#include "platform/OperationContext.h"

#include <QString>
#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>
#include <string>

class QComboBox;
class QDialog;
class QLabel;
class QProgressBar;
class QPushButton;

namespace Ui {
class AirspacesWindow;
}

namespace corvex {

class AirspaceHoverInfo;
class AlertPresenter;
class CorvexDevice;
class EventLoopTurner;
class HttpClient;
class InstrumentSession;
class MapBaseLayer;
class ReliefLayer;
class LogSink;
class PreferencesStore;
class WSAirspaces;

// The airspaces manager window. It lives for the whole run; the application controller
// presents it from the menu and tells it when the instrument goes. Its transfers run
// the core's AirspacesTransferService and put the sheet, the progress bar, the
// event-loop turns and the alerts around it.
class AirspacesWindow final : public QWidget, public MapViewDelegate {
    Q_OBJECT

public:
    // The caller keeps every object alive for as long as the window lives; eventLoop
    // and session may be null.
    struct Environment {
        PreferencesStore* preferences { nullptr };
        LogSink* log { nullptr };
        AlertPresenter* alerts { nullptr };
        // The window's own short turns (before a read or an erase, between chunks);
        // a nested QEventLoop without one.
        EventLoopTurner* eventLoop { nullptr };
        // Borrowed for every instrument sequence, so that no other command reaches the
        // instrument while a transfer turns the event loop.
        InstrumentSession* session { nullptr };
        // Fetches the map's tiles; without one the map shows its offline geography.
        HttpClient* mapTiles { nullptr };
        // Told what became of an OpenAir file, so that the application can keep it
        // (the flight library does); the window itself keeps nothing. Either may be
        // empty. The path and bytes of the OpenAir file and the set made from it:
        std::function<void(const QString& openAirPath, const QByteArray& openAir, const Bytes& set)> openAirConverted;
        // A set that went whole onto the instrument:
        std::function<void(const Bytes& set)> setUploaded;
    };

    // The modal questions the workflows ask. The window shows dialogs; tests answer.
    struct Panels {
        // The chosen OpenAir file, or nothing when the user cancelled.
        std::function<std::optional<QString>()> openOpenAirFile;
        // The description prompt: the text, or nothing for Cancel.
        std::function<std::optional<QString>(const QString& prompt, const QString& defaultValue)> input;
    };

    explicit AirspacesWindow(Environment environment, QWidget* parent = nullptr);
    ~AirspacesWindow() override;

    Ui::AirspacesWindow& ui() { return *m_ui; }

    void setDevice(CorvexDevice* device) { m_device = device; }
    // Alerts that open over this window rather than over the main window behind it.
    void setAlerts(AlertPresenter* alerts) { m_environment.alerts = alerts; }
    CorvexDevice* device() const { return m_device; }
    void setPanels(Panels panels);

    // Called by the application controller.
    void presentAirspacesWindow();
    void clearAirspaces();
    void deviceDisconnected();
    // Another command holds the instrument (or has given it back): the window's
    // instrument commands are greyed meanwhile and restored afterwards.
    void setInstrumentBusy(bool busy);

    // State, for the controller and the tests.
    const std::optional<Airspaces>& currentAirspaces() const { return m_currentAirspaces; }
    bool deviceHasAirspaces() const { return m_deviceHasAirspaces; }
    // The header of the set the instrument holds, when it is known.
    const std::optional<AirspacesSetHeader>& instrumentSet() const { return m_instrumentSet; }
    bool deviceOperationCancelled() const { return m_deviceOperationCancel.isCancelled(); }
    QWidget* currentContentView() const;
    // The folder of cached sets: the user's data folder and "Corvex".
    static QString cacheDirectory();

    // The action sheet, for the workflows and the tests.
    QDialog* actionSheet() const { return m_actionSheet; }
    QLabel* actionSheetLabel() const { return m_actionSheetLabel; }
    QProgressBar* actionSheetProgressBar() const { return m_actionSheetProgressBar; }
    QPushButton* actionSheetCancelButton() const { return m_actionSheetCancelButton; }
    // The bar's value in 0..1, or nothing while it is indeterminate.
    std::optional<double> actionSheetProgress() const;

    static QString humanReadableStringForDate(std::chrono::sys_seconds date);

    // The name, class and limits of the airspace under the pointer on the map.
    AirspaceHoverInfo* airspaceInfo() const { return m_airspaceInfo; }
    // The relief under the airspaces, with the program's terrain.
    ReliefLayer& reliefLayer() const { return *m_relief; }

    // MapViewDelegate: each overlay styled by its index and the display mode.
    MapOverlayStyle rendererForOverlay(const MapView& mapView, const MapOverlay& overlay) override;

public slots:
    // Content views.
    void proceedToSelectAirspacesToUploadViewButton();
    void uploadAnotherAirspacesFileButton();
    void backToUploadingButton();
    void infoButtonPressed();
    void toggleSecretDrawerButton();
    void downloadListOfAirspacesOnServerButton();
    void actionSheetCancelButtonPressed();
    void renderOnMapButton();
    void centerMapButton();
    void backFromChooserButton();
    void userDefaultsChangedNotification();

    // The transfer workflows.
    void downloadAirspacesFromTheDeviceButton();
    void devDownloadAirspacesButton();
    void proceedWithUploadingButton();
    void webDownloadAirspacesButton();
    void uploadAirspacesFromAnOpenAirFile();
    void convertOpenairToInternalButton();
    void uploadAirspacesButton();
    void clearAirspacesButton();

private:
    enum class Caching { Cache, DoNotCache };
    enum class AfterDownload { CacheUploadAndShow, ShowOnly };
    enum class AfterConversion { CacheUploadAndShow, ShowOnly };

    // Asks before the instrument's set is erased for another: true when the instrument
    // holds none or the user said yes.
    enum class Question { ReplaceBy, Clear };
    bool confirmErasingInstrumentSet(Question question, const QString& newSetName = {});
    // The line under the instrument's state that says how the last transfer ended.
    void showLastAction(const QString& text);
    void updateLastActionForTransfer(const char* format, const QString& name, std::size_t bytes);
    // The shown set drawn, and the map brought forward.
    void showSetOnMap();
    void drawShownSet();
    bool shownSetIsOnTheInstrument() const;
    void showApprovedListState(bool listed);
    void updateMapTypeChoices();
    void connectActions();
    void setContainerSubview(QWidget* view);
    void showActionSheetWithText(const QString& text, bool enableCancel);
    void setActionSheetIndeterminate();
    void setActionSheetProgress(double fraction);
    void hideActionSheet();
    void runEventLoopFor(double seconds);
    void showCloseAlert(const std::string& message, const std::string& informativeText = {});
    std::optional<QString> input(const QString& prompt, const QString& defaultValue);

    std::optional<Bytes> devDownloadMetadata();
    std::optional<Bytes> devDownloadWholeAirspaces();
    void readWholeSetFromTheDevice(Caching caching);
    void downloadApprovedSet(AfterDownload after, QComboBox* list);
    void convertOpenAirFile(AfterConversion after);
    // Erases the instrument's set under the clearing sheet; false when the instrument
    // did not confirm the erase (the user has been told).
    bool clearInstrument();
    // Uploads the shown set; the caller has asked before anything is replaced.
    void uploadCurrentAirspaces();

    std::optional<Bytes> attemptToLoadAirspacesFromCache(const std::optional<std::string>& filename);
    void saveAirspacesToCache(const Bytes& data, const std::optional<std::string>& uniqueFilename);

    void setCurrentAirspacesLabel();
    int displayAirspacesAs() const;
    void showEraseFailedAlert();
    WSAirspaces& wsAirspaces();
    // The client, with a request in flight made to give way to the caller's.
    WSAirspaces& idleWsAirspaces();
    void showInstrumentState();
    bool instrumentIsBusy() const;
    // The instrument for one workflow: the hold the window already has, or a new
    // lease; nothing while another command holds it. While held, the device runs in
    // the window's operation context.
    std::shared_ptr<void> holdInstrument(const char* purpose);
    bool hasInstrument() const;

    class ActionSheetProgress;

    std::unique_ptr<Ui::AirspacesWindow> m_ui;
    Environment m_environment;
    // The instrument workflows' progress goes to the action sheet's bar, their waits
    // turn the event loop, and the sheet's Cancel cancels them.
    std::unique_ptr<ActionSheetProgress> m_actionSheetProgress;
    OperationContext m_operations;
    Panels m_panels;
    CorvexDevice* m_device { nullptr };
    // The window's hold on the instrument, shared by the nested steps of one workflow
    // (download, erase, upload) and given back when the last of them ends.
    std::weak_ptr<void> m_instrumentHold;
    // Why the last read of the instrument's set gave nothing, when the instrument
    // failed (and not the user's cancel).
    std::optional<DeviceError> m_lastDeviceError;
    // The instrument commands greyed by setInstrumentBusy, to enable again.
    std::vector<QWidget*> m_greyedWhileBusy;
    std::unique_ptr<HttpClient> m_http;
    std::shared_ptr<MapBaseLayer> m_mapBaseLayer;
    std::shared_ptr<ReliefLayer> m_relief;
    std::unique_ptr<WSAirspaces> m_wsAirspaces;
    std::string m_wsAirspacesUrl;
    bool m_listRequestInFlight { false };
    bool m_listRequestGaveWay { false };

    std::optional<Airspaces> m_currentAirspaces;
    bool m_deviceHasAirspaces { false };
    // What the instrument holds, as far as its header is known: the last header read,
    // or the set last uploaded or read whole. Nothing when it holds none (see
    // m_deviceHasAirspaces) or when what it holds is not known.
    std::optional<AirspacesSetHeader> m_instrumentSet;
    std::chrono::steady_clock::time_point m_transferStarted;
    CancelToken m_deviceOperationCancel;
    int m_overlaySegmentsColoringType { 0 };

    AirspaceHoverInfo* m_airspaceInfo { nullptr };
    QDialog* m_actionSheet { nullptr };
    QLabel* m_actionSheetLabel { nullptr };
    QProgressBar* m_actionSheetProgressBar { nullptr };
    QPushButton* m_actionSheetCancelButton { nullptr };
};

} // namespace corvex
