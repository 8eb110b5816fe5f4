#include "library/ui/LibraryWindow.h"

#include "base/FileRead.h"
#include "flights/FlightExport.h"
#include "flights/IgcFlight.h"
#include "library/AirspaceArchive.h"
#include "library/FlightLibrary.h"
#include "library/LibraryTable.h"
#include "library/ui/FlightWindow.h"
#include "library/ui/LibraryTableModel.h"
#include "map/qt/MapBaseLayer.h"
#include "map/ui/MapView.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSaveFile>
#include <QSplitter>
#include <QTableView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <chrono>
#include <ctime>
#include <iterator>
#include <map>

namespace corvex::library {

namespace {

QString totalsText(double metres) { return QString::number(metres / 1000, 'f', 0); }

// The points of a group; empty while none of its flights is scored, and marked while
// some are still waiting for the scoring pass.
QString pointsText(const FlightTotals& totals)
{
    if (totals.scored == 0)
        return {};
    const QString points = QString::number(totals.points, 'f', 0);
    return totals.scored < totals.flights ? points + QStringLiteral("+") : points;
}

bool writeFile(const QString& path, const std::string& bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(bytes.data(), static_cast<qint64>(bytes.size()));
    return file.commit();
}

// An index that cannot be read, told without waiting for an answer (reload runs after
// every sync and import), once while the alert is up.
void showIndexFailure(QWidget* window, const LibraryError& error)
{
    const QString name = QStringLiteral("libraryIndexFailure");
    if (window->findChild<QMessageBox*>(name))
        return;
    auto* box = new QMessageBox(QMessageBox::Warning, QObject::tr("Flight Library"),
        QObject::tr("The flight library's index cannot be read."), QMessageBox::Ok, window);
    box->setObjectName(name);
    box->setInformativeText(QString::fromStdString(error.message));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

} // namespace

LibraryWindow::LibraryWindow(FlightLibrary& library, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_library(library)
    , m_model(new LibraryTableModel(this))
    , m_filter(new LibraryFilterModel(this))
{
    setWindowTitle(tr("Flight Library"));
    setAcceptDrops(true);
    resize(1100, 640);

    m_year = new QComboBox;
    m_year->setAccessibleName(tr("Year"));
    m_glider = new QComboBox;
    m_glider->setAccessibleName(tr("Glider"));
    m_glider->setMinimumContentsLength(14);
    m_search = new QLineEdit;
    m_search->setPlaceholderText(tr("Search pilot, glider, instrument"));
    m_search->setClearButtonEnabled(true);
    auto* importButton = new QPushButton(tr("Import…"));
    m_export = new QPushButton(tr("Export"));
    auto* exportMenu = new QMenu(m_export);
    for (const flights::FlightFileFormat& format : flights::flightFileFormats()) {
        const QString id = QString::fromUtf8(format.id.data(), static_cast<qsizetype>(format.id.size()));
        exportMenu->addAction(tr("Flight as %1…").arg(id.toUpper()), this, [this, id] { exportSelected(id); });
    }
    exportMenu->addSeparator();
    exportMenu->addAction(tr("Table as CSV…"), this, [this] { exportTable(); });
    m_export->setMenu(exportMenu);
    m_open = new QPushButton(tr("Open"));
    m_open->setDefault(true);

    auto* bar = new QHBoxLayout;
    bar->addWidget(m_year);
    bar->addWidget(m_glider);
    bar->addWidget(m_search, 1);
    bar->addWidget(importButton);
    bar->addWidget(m_export);
    bar->addWidget(m_open);

    m_filter->setSourceModel(m_model);
    m_table = new QTableView;
    m_table->setModel(m_filter);
    m_table->setSortingEnabled(true);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setAlternatingRowColors(true);
    m_table->setWordWrap(false);
    m_table->verticalHeader()->hide();
    // Fixed heights and widths: measuring 10,000 rows would cost the opening its speed.
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 8);
    m_table->horizontalHeader()->setStretchLastSection(true);
    const int digit = fontMetrics().horizontalAdvance(QLatin1Char('0'));
    const int widths[] = { 17, 8, 9, 10, 8, 10, 20, 18, 12 };
    static_assert(std::size(widths) == LibraryTableModel::ColumnCount, "one width per column");
    for (int column = 0; column < LibraryTableModel::ColumnCount; ++column)
        m_table->setColumnWidth(column, widths[column] * digit);
    m_table->sortByColumn(LibraryTableModel::Takeoff, Qt::DescendingOrder);

    m_totals = new QTreeWidget;
    m_totals->setColumnCount(5);
    m_totals->setHeaderLabels({ tr("Totals"), tr("Flights"), tr("Hours"), tr("km"), tr("Points") });
    m_totals->setRootIsDecorated(true);
    m_totals->setIndentation(14);
    m_totals->header()->setStretchLastSection(false);
    m_totals->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_totals->setMinimumWidth(340);

    auto* splitter = new QSplitter;
    splitter->addWidget(m_table);
    splitter->addWidget(m_totals);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({ 700, 360 });

    m_status = new QLabel;
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(splitter, 1);
    layout->addWidget(m_status);

    chooseSaveFile = [this](const QString& title, const QString& suggested, const QString& filter) {
        return QFileDialog::getSaveFileName(this, title, suggested, filter);
    };
    chooseImportFiles = [this] {
        return QFileDialog::getOpenFileNames(this, tr("Import IGC Files"), {}, tr("IGC files (*.igc *.IGC);;All files (*)"));
    };

    connect(m_year, &QComboBox::currentIndexChanged, this, &LibraryWindow::filterChanged);
    connect(m_glider, &QComboBox::currentIndexChanged, this, &LibraryWindow::filterChanged);
    connect(m_search, &QLineEdit::textChanged, this, &LibraryWindow::filterChanged);
    connect(importButton, &QPushButton::clicked, this, [this] {
        if (const QStringList files = chooseImportFiles(); !files.isEmpty())
            importPaths(files);
    });
    connect(m_open, &QPushButton::clicked, this, [this] {
        if (const auto flight = selectedFlight())
            openFlight(*flight);
    });
    connect(m_table, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
        openFlight(m_model->flightAt(m_filter->mapToSource(index).row()));
    });
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        m_open->setEnabled(selectedFlight().has_value());
    });

    reload();
}

LibraryWindow::~LibraryWindow() = default;

void LibraryWindow::reload()
{
    const auto selected = selectedFlight();
    auto flights = m_library.index().flights();
    if (!flights) {
        // The table keeps what it showed: an index that cannot be read is not empty.
        showIndexFailure(this, flights.error());
        return;
    }
    m_model->setFlights(std::move(*flights));
    fillChoices();
    fillTotals();
    filterChanged();
    if (selected) {
        if (const auto row = m_model->rowOfId(selected->id))
            m_table->selectRow(m_filter->mapFromSource(m_model->index(*row, 0)).row());
    }
    m_open->setEnabled(selectedFlight().has_value());
}

void LibraryWindow::fillChoices()
{
    const QVariant year = m_year->currentData();
    const QString glider = m_glider->currentIndex() > 0 ? m_glider->currentText() : QString();
    QSignalBlocker blockYear(m_year), blockGlider(m_glider);
    m_year->clear();
    m_year->addItem(tr("All years"));
    m_glider->clear();
    m_glider->addItem(tr("All gliders"));
    const auto years = m_library.index().totalsByYear(), gliders = m_library.index().totalsByGlider();
    if (!years || !gliders)
        return showIndexFailure(this, years ? gliders.error() : years.error());
    for (const FlightTotals& totals : *years)
        m_year->addItem(QString::fromStdString(totals.key), QString::fromStdString(totals.key).toInt());
    for (const FlightTotals& totals : *gliders)
        if (!totals.key.empty())
            m_glider->addItem(QString::fromStdString(totals.key));
    if (const int at = m_year->findData(year); year.isValid() && at > 0)
        m_year->setCurrentIndex(at);
    if (const int at = m_glider->findText(glider); !glider.isEmpty() && at > 0)
        m_glider->setCurrentIndex(at);
}

void LibraryWindow::fillTotals()
{
    m_totals->clear();
    const auto group = [this](const QString& title, const std::vector<FlightTotals>& totals) {
        auto* top = new QTreeWidgetItem(m_totals, { title });
        for (const FlightTotals& each : totals) {
            auto* item = new QTreeWidgetItem(top,
                { each.key.empty() ? tr("(no glider named)") : QString::fromStdString(each.key), QString::number(each.flights),
                    QString::number(each.seconds / 3600.0, 'f', 1), totalsText(each.trackMetres), pointsText(each) });
            if (each.scored < each.flights)
                item->setToolTip(4, tr("%1 of %2 flights scored so far").arg(each.scored).arg(each.flights));
        }
        top->setExpanded(true);
    };
    const auto years = m_library.index().totalsByYear(), gliders = m_library.index().totalsByGlider();
    if (!years || !gliders)
        return showIndexFailure(this, years ? gliders.error() : years.error());
    group(tr("By year"), *years);
    group(tr("By glider"), *gliders);
    for (int column = 1; column < 5; ++column)
        m_totals->resizeColumnToContents(column);
}

void LibraryWindow::filterChanged()
{
    FlightFilter filter;
    if (m_year->currentIndex() > 0)
        filter.year = m_year->currentData().toInt();
    if (m_glider->currentIndex() > 0)
        filter.glider = m_glider->currentText().toStdString();
    filter.text = m_search->text().trimmed().toStdString();
    m_filter->setFilter(filter);
    std::int64_t seconds = 0;
    double metres = 0;
    double points = 0;
    const int shown = m_filter->rowCount();
    for (int row = 0; row < shown; ++row) {
        const LibraryFlight& flight = m_model->flightAt(m_filter->mapToSource(m_filter->index(row, 0)).row());
        seconds += flight.durationSeconds;
        metres += flight.trackMetres;
        points += flight.scorePoints.value_or(0);
    }
    const QString flights = shown == 1 ? tr("1 flight shown") : tr("%1 flights shown").arg(shown);
    showStatus(tr("%1, %2 hours, %3 km, %4 points. Library: %5")
                   .arg(flights, QString::number(seconds / 3600.0, 'f', 1), totalsText(metres), QString::number(points, 'f', 0),
                       QString::fromStdString(m_library.folder())));
}

void LibraryWindow::showStatus(const QString& text) { m_status->setText(text); }

std::optional<LibraryFlight> LibraryWindow::selectedFlight() const
{
    const QModelIndexList rows = m_table->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return std::nullopt;
    return m_model->flightAt(m_filter->mapToSource(rows.front()).row());
}

FlightWindow* LibraryWindow::openFlight(const LibraryFlight& flight)
{
    auto* window = new FlightWindow(m_library, flight);
    if (mapBaseLayer)
        window->map().setBaseLayer(mapBaseLayer());
    window->setAttribute(Qt::WA_DeleteOnClose);
    // The set the instrument held on the flight's day, when the library knows it.
    if (const auto held = m_library.airspaceFileFor(flight))
        window->setAirspaceFile(QString::fromStdString(*held));
    // A file the pilot checks against is kept, so the check can be made again later.
    connect(window, &FlightWindow::airspaceFileChosen, this, [this](const QString& path) {
        const auto kept = m_library.airspaces().keepFile(path.toStdString(), AirspaceUse::Checked, std::time(nullptr));
        if (!kept)
            showStatus(tr("%1 was not kept in the library: %2").arg(path, QString::fromStdString(kept.error().message)));
    });
    window->show();
    window->raise();
    return window;
}

void LibraryWindow::importPaths(const QStringList& paths)
{
    std::vector<std::string> list;
    for (const QString& path : paths)
        list.push_back(path.toStdString());
    ImportTally tally;
    QStringList problems;
    m_library.importPaths(list, [&](const ImportOutcome& outcome, std::size_t done, std::size_t total) {
        tally.count(outcome);
        if (outcome.kind == ImportOutcome::Kind::Refused)
            problems << QString::fromStdString(outcome.source + ": " + outcome.message);
        for (const std::string& line : outcome.skippedLines)
            problems << QString::fromStdString(line) + tr(" (line skipped)");
        showStatus(tr("Importing file %1 of %2…").arg(done).arg(total));
        m_status->repaint();
    });
    reload();
    if (tally.imported > 0 && flightsAdded)
        flightsAdded();
    const QString summary = tr("%1 imported, %2 already in the library, %3 refused")
                                .arg(tally.imported)
                                .arg(tally.already)
                                .arg(tally.refused);
    showStatus(summary);
    if (!problems.isEmpty()) {
        QMessageBox box(QMessageBox::Information, tr("Import"), summary, QMessageBox::Ok, this);
        box.setInformativeText(tr("Some files or lines could not be read; the details list them."));
        box.setDetailedText(problems.join('\n'));
        box.exec();
    }
}

bool LibraryWindow::exportSelected(const QString& formatId)
{
    const auto flight = selectedFlight();
    const flights::FlightFileFormat* format = flights::findFlightFileFormat(formatId.toStdString());
    if (!flight || !format)
        return false;
    const auto text = [](std::string_view view) { return QString::fromUtf8(view.data(), static_cast<qsizetype>(view.size())); };
    const QString extension = text(format->extension);
    const QString suggested = QFileInfo(QString::fromStdString(flight->file)).completeBaseName() + "." + extension;
    const QString path = chooseSaveFile(tr("Export Flight"), suggested, text(format->title) + " (*." + extension + ")");
    if (path.isEmpty())
        return false;
    flights::TrackFileOptions options;
    options.creator = "Corvex Vario " + QCoreApplication::applicationVersion().toStdString();
    options.writtenAt = std::chrono::system_clock::now();
    const auto exported = flights::exportFlight(m_library.pathOf(*flight), format->id, path.toStdString(), options);
    if (!exported) {
        QMessageBox::warning(this, tr("Export"),
            exported.error().kind == flights::FlightExportError::Kind::NotWritten
                ? tr("Cannot write %1. Choose a folder you can write to.").arg(path)
                : QString::fromStdString(exported.error().message));
        return false;
    }
    showStatus(tr("Saved %1").arg(path));
    return true;
}

bool LibraryWindow::exportTable()
{
    const QString path = chooseSaveFile(tr("Export Table"), tr("Flights.csv"), tr("CSV files (*.csv)"));
    if (path.isEmpty())
        return false;
    std::vector<LibraryFlight> shown;
    for (int row = 0; row < m_filter->rowCount(); ++row)
        shown.push_back(m_model->flightAt(m_filter->mapToSource(m_filter->index(row, 0)).row()));
    if (!writeFile(path, libraryCsv(shown))) {
        QMessageBox::warning(this, tr("Export"), tr("Cannot write %1. Choose a folder you can write to.").arg(path));
        return false;
    }
    showStatus(tr("Saved %1").arg(path));
    return true;
}

void LibraryWindow::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void LibraryWindow::dropEvent(QDropEvent* event)
{
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile())
            paths << url.toLocalFile();
    if (paths.isEmpty())
        return;
    event->acceptProposedAction();
    importPaths(paths);
}

} // namespace corvex::library
