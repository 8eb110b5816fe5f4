#pragma once

#include "base/Units.h"
#include "library/LibraryFlight.h"
#include "library/ui/CompareWindow.h"
#include "library/ui/FlightWindow.h"

#include <QPointer>
#include <QWidget>

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class QTableView;
class QTreeWidget;

namespace corvex {
class MapBaseLayer;
}

namespace corvex::library {

class FlightLibrary;
class FlightWindow;
class GliderNamesDialog;
class SiteNamesDialog;
class LibraryFilterModel;
class LibraryTableModel;
class StatisticsChart;

// The flights kept on this computer: a table to sort and narrow (year, glider, text),
// the totals per year and per glider, and the doors out of it (open a flight, import
// files, export a flight or the table). Files and folders dropped on it are imported.
// The pilot removes flights (undone from the status line, restored from the removed
// flights' view) and edits what the library says of one, never its file.
class LibraryWindow final : public QWidget {
    Q_OBJECT
public:
    explicit LibraryWindow(FlightLibrary& library, QWidget* parent = nullptr);
    ~LibraryWindow() override;

    // Reads the index again (after a sync or an import elsewhere), keeping the filter,
    // the sort and the selection.
    void reload();
    void importPaths(const QStringList& paths);
    // The status line under the table; the filter's counts replace it at the next change.
    void showStatus(const QString& text);
    // The pilot's units and whether times show in UTC or at the take-off's local time:
    // the table, its CSV and the flight windows opened afterwards follow them.
    void setUnits(UnitSystem units, bool timesInUtc);
    // The terrain folder and the tolerances of the airspace checks in the flight windows,
    // open and opened afterwards.
    void setAirspaceCheckSettings(const FlightWindow::AirspaceCheckSettings& settings);
    const FlightWindow::AirspaceCheckSettings& airspaceCheckSettings() const { return m_airspaceSettings; }

    // "Save New Flights Now": the same sync as a connection's, run by whoever holds the
    // instrument. Offered only while one is connected and free; `why` says otherwise.
    std::function<void()> saveNewFlights;
    void setSaveNewFlightsAvailable(bool available, const QString& why = {});

    // The selected flights out of the list (no question asked: the status line offers
    // the undo), back from the removed flights' view, and the undo of the last removal.
    bool removeSelected();
    bool restoreSelected();
    bool undoRemove();
    // The removed flights instead of the shown ones.
    void showRemovedFlights(bool removed);
    bool showsRemovedFlights() const { return m_showRemoved; }
    // Asks for the selected flight's edit (askEdit) and keeps it; editFlight, for the
    // flight view's "Edit…", returns the flight as it is afterwards.
    bool editSelected();
    std::optional<LibraryFlight> editFlight(const LibraryFlight& flight);
    // The edit dialog; a test answers without one.
    std::function<std::optional<FlightEdit>(const LibraryFlight&)> askEdit;

    // After files came in through the window, or the pilot changed the part of a
    // flight's track that is scored: the scores are filled elsewhere.
    std::function<void()> flightsAdded;

    // Which file to write, asked of the user; a test answers without a dialog.
    std::function<QString(const QString& title, const QString& suggestedName, const QString& filter)> chooseSaveFile;
    std::function<QStringList()> chooseImportFiles;
    // The tiles under the flights' maps; the offline geography alone when it gives none.
    std::function<std::shared_ptr<MapBaseLayer>()> mapBaseLayer;

    LibraryTableModel& model() { return *m_model; }
    LibraryFilterModel& filterModel() { return *m_filter; }
    QTableView& table() { return *m_table; }
    QTreeWidget& totals() { return *m_totals; }
    QLabel& statusLabel() { return *m_status; }
    std::optional<LibraryFlight> selectedFlight() const;
    std::vector<LibraryFlight> selectedFlights() const;
    // What the empty table says in its middle; empty while it shows flights.
    QString emptyTableHint() const;
    QAction& saveNewFlightsAction() { return *m_saveNow; }
    QAction& removeAction() { return *m_remove; }
    QAction& restoreAction() { return *m_restore; }
    QAction& editAction() { return *m_edit; }
    QAction& removedFlightsAction() { return *m_removedView; }
    QComboBox& gliderFilter() { return *m_glider; }
    QComboBox& siteFilter() { return *m_site; }
    // The gliders' and the sites' names (NamesDialogs), non-modal, deleted when closed.
    GliderNamesDialog* openGliderNames();
    SiteNamesDialog* openSiteNames();
    QPushButton& undoButton() { return *m_undo; }
    // A window of its own, deleted when closed.
    FlightWindow* openFlight(const LibraryFlight& flight);
    // "Compare": the selected flights (two to CompareWindow::maxFlights) in one window;
    // "Compare Files…": IGC files that stay out of the library (asked with
    // chooseCompareFiles), beside the selected flights when there are any. Nothing when
    // there are fewer than two flights to compare. A window of its own, deleted when closed.
    CompareWindow* compareSelected();
    CompareWindow* compareFiles(const QStringList& paths);
    std::function<QStringList()> chooseCompareFiles;
    // The comparison windows' "Export KMZ…", for the windows opened afterwards; unset,
    // their button stays disabled. saveComparisonKmz unless a test sets another.
    std::function<void(CompareWindow&)> exportComparisonKmz;
    // The compared flights that could be read, in one KMZ, each in its colour in the
    // window, with its debrief when it is in (no contest legs: a comparison scores
    // nothing). Asks for the file with chooseSaveFile.
    bool saveComparisonKmz(const CompareWindow& window);
    QAction& compareAction() { return *m_compare; }
    QAction& compareFilesAction() { return *m_compareFiles; }
    bool exportSelected(const QString& formatId); // flightFileFormats: "igc", "kml", "gpx"
    // The selected flight for a globe (analysis/FlightKmz.h): scored under the rules
    // the library lists, as the flight window scores it, and debriefed, while the
    // window waits.
    bool exportKmz();
    bool exportTable(); // the rows shown, as CSV (libraryCsv)
    // The log book of the year the window shows (else of all years) as A4 PDF pages.
    bool printLogBook();
    // The statistics pane under the table, shown by the "Statistics" button.
    StatisticsChart& statisticsChart() { return *m_chart; }
    QPushButton& statisticsButton() { return *m_statisticsButton; }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void filterChanged();
    void fillChoices();
    void fillTotals();
    void updateActions();
    void selectIds(const std::vector<std::int64_t>& ids);
    CompareWindow* openComparison(std::vector<CompareWindow::Source> sources);

    FlightLibrary& m_library;
    // The flight windows open, which a change of units reaches too.
    std::vector<QPointer<FlightWindow>> m_flightWindows;
    std::vector<QPointer<CompareWindow>> m_compareWindows;
    FlightWindow::AirspaceCheckSettings m_airspaceSettings;
    LibraryTableModel* m_model;
    LibraryFilterModel* m_filter;
    QComboBox* m_year;
    QComboBox* m_glider;
    QComboBox* m_site;
    QLineEdit* m_search;
    QTableView* m_table;
    QTreeWidget* m_totals;
    StatisticsChart* m_chart;
    QPushButton* m_statisticsButton;
    QPushButton* m_open;
    QPushButton* m_export;
    QLabel* m_status;
    QPushButton* m_undo;
    std::vector<QToolButton*> m_actionButtons;
    QAction* m_openAction;
    QAction* m_compare;
    QAction* m_compareFiles;
    QAction* m_saveNow;
    QAction* m_remove;
    QAction* m_restore;
    QAction* m_edit;
    QAction* m_removedView;
    bool m_showRemoved { false };
    std::vector<std::int64_t> m_lastRemoved; // what Undo gives back
};

} // namespace corvex::library
