#pragma once

#include "library/LibraryFlight.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTreeWidget;

namespace corvex {
class MapBaseLayer;
}

namespace corvex::library {

class FlightLibrary;
class FlightWindow;
class LibraryFilterModel;
class LibraryTableModel;

// The flights kept on this computer: a table to sort and narrow (year, glider, text),
// the totals per year and per glider, and the doors out of it (open a flight, import
// files, export a flight or the table). Files dropped on it are imported.
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

    // After files came in through the window: the scores are filled elsewhere.
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
    // A window of its own, deleted when closed.
    FlightWindow* openFlight(const LibraryFlight& flight);
    bool exportSelected(const QString& formatId); // flightFileFormats: "igc", "kml", "gpx"
    bool exportTable(); // the rows shown, as CSV (libraryCsv)

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void filterChanged();
    void fillChoices();
    void fillTotals();

    FlightLibrary& m_library;
    LibraryTableModel* m_model;
    LibraryFilterModel* m_filter;
    QComboBox* m_year;
    QComboBox* m_glider;
    QLineEdit* m_search;
    QTableView* m_table;
    QTreeWidget* m_totals;
    QPushButton* m_open;
    QPushButton* m_export;
    QLabel* m_status;
};

} // namespace corvex::library
