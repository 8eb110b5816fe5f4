#include "library/ui/LibraryWindow.h"

#include "analysis/FlightKmz.h"
#include "base/FileRead.h"
#include "flights/FlightExport.h"
#include "flights/IgcFlight.h"
#include "library/AirspaceArchive.h"
#include "library/FlightLibrary.h"
#include "library/LibraryTable.h"
#include "library/Sites.h"
#include "library/TakeoffTime.h"
#include "library/ui/FlightEditDialog.h"
#include "library/ui/FlightWindow.h"
#include "library/qt/LogBookPdf.h"
#include "library/ui/LibraryTableModel.h"
#include "library/ui/StatisticsChart.h"
#include "library/ui/NamesDialogs.h"
#include "map/qt/LegendImage.h"
#include "map/qt/MapBaseLayer.h"
#include "map/ui/MapView.h"

#include <QAction>
#include <QApplication>
#include <QCollator>
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
#include <QPainter>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QSplitter>
#include <QTableView>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <iterator>
#include <map>

namespace corvex::library {

namespace {

// Whole kilometres, miles or nautical miles: the totals' column header names the unit.
QString totalsText(double metres, UnitSystem units)
{
    return QString::number(convertedValue(Quantity::Distance, metres, units), 'f', 0);
}

QString distanceUnit(UnitSystem units) { return QString::fromLatin1(unitLabel(Quantity::Distance, units)); }

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

// Groups in the order of the pilot's language ignoring case, the unnamed group last.
std::vector<FlightTotals> inNameOrder(std::vector<FlightTotals> totals)
{
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(true);
    std::stable_sort(totals.begin(), totals.end(), [&](const FlightTotals& a, const FlightTotals& b) {
        if (a.key.empty() != b.key.empty())
            return b.key.empty();
        return collator.compare(QString::fromStdString(a.key), QString::fromStdString(b.key)) < 0;
    });
    return totals;
}

// The gliders as a pilot looks them up: placeholder names counted as no glider, in the
// order of the pilot's language ignoring case, the flights without a glider last.
std::vector<FlightTotals> gliderGroups(std::vector<FlightTotals> totals)
{
    return inNameOrder(withPlaceholderGlidersMerged(std::move(totals)));
}

// The sites the flights show (their own, else their site's name), ordered as the gliders;
// the flights without a site last.
std::vector<FlightTotals> siteGroups(const std::vector<LibraryFlight>& flights)
{
    std::map<std::string, FlightTotals> bySite;
    for (const LibraryFlight& flight : flights) {
        FlightTotals& site = bySite[flight.site];
        site.key = flight.site;
        ++site.flights;
        site.seconds += flight.durationSeconds;
        site.trackMetres += flight.trackMetres;
        site.points += flight.scorePoints.value_or(0);
        site.scored += flight.scorePoints.has_value();
    }
    std::vector<FlightTotals> totals;
    for (auto& [name, site] : bySite)
        totals.push_back(std::move(site));
    return inNameOrder(std::move(totals));
}

// A table that says in its middle why it is empty.
class HintTableView final : public QTableView {
public:
    std::function<QString()> hint;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QTableView::paintEvent(event);
        const QString text = hint ? hint() : QString();
        if (text.isEmpty())
            return;
        QPainter painter(viewport());
        painter.setPen(palette().color(QPalette::PlaceholderText));
        const int margin = fontMetrics().height() * 2;
        QRect area = viewport()->rect().adjusted(margin, margin, -margin, -margin);
        // Not wider than a comfortable line, so that a wide window keeps it readable.
        const int widest = fontMetrics().averageCharWidth() * 60;
        if (area.width() > widest)
            area.adjust((area.width() - widest) / 2, 0, -(area.width() - widest) / 2, 0);
        painter.drawText(area, Qt::AlignCenter | Qt::TextWordWrap, text);
    }
};

} // namespace

LibraryWindow::LibraryWindow(FlightLibrary& library, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_library(library)
    , m_model(new LibraryTableModel(this))
    , m_filter(new LibraryFilterModel(this))
{
    setWindowTitle(tr("Flight Library"));
    setAcceptDrops(true);
    exportComparisonKmz = [this](CompareWindow& window) { saveComparisonKmz(window); };

    m_year = new QComboBox;
    m_year->setAccessibleName(tr("Year"));
    m_glider = new QComboBox;
    m_glider->setAccessibleName(tr("Glider"));
    m_glider->setMinimumContentsLength(14);
    m_site = new QComboBox;
    m_site->setAccessibleName(tr("Site"));
    m_site->setMinimumContentsLength(14);
    m_search = new QLineEdit;
    m_search->setPlaceholderText(tr("Search pilot, glider, site, instrument"));
    m_search->setClearButtonEnabled(true);
    auto* importButton = new QPushButton(tr("Import…"));
    importButton->setToolTip(tr("Import IGC files; files and folders dropped on the window come in too"));
    m_export = new QPushButton(tr("Export"));
    auto* exportMenu = new QMenu(m_export);
    for (const flights::FlightFileFormat& format : flights::flightFileFormats()) {
        const QString id = QString::fromUtf8(format.id.data(), static_cast<qsizetype>(format.id.size()));
        exportMenu->addAction(tr("Flight as %1…").arg(id.toUpper()), this, [this, id] { exportSelected(id); });
    }
    exportMenu->addAction(tr("Google Earth (KMZ)…"), this, [this] { exportKmz(); });
    exportMenu->addSeparator();
    exportMenu->addAction(tr("Table as CSV…"), this, [this] { exportTable(); });
    exportMenu->addAction(tr("Print Log Book (PDF)…"), this, [this] { printLogBook(); });
    m_export->setMenu(exportMenu);
    m_open = new QPushButton(tr("Open"));
    m_open->setDefault(true);

    m_saveNow = new QAction(tr("Save New Flights Now"), this);
    m_remove = new QAction(tr("Remove"), this);
    m_remove->setShortcut(QKeySequence::Delete);
    // The table's key only: Delete in the search field deletes text.
    m_remove->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    m_remove->setToolTip(tr("Take the selected flights out of the list and the totals (Delete); Undo brings them back"));
    m_restore = new QAction(tr("Restore"), this);
    m_restore->setToolTip(tr("Put the selected flights back into the list"));
    m_edit = new QAction(tr("Edit…"), this);
    m_edit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    m_edit->setToolTip(tr("Glider, pilot, site, comment and the scored part of the track (Ctrl+E)"));
    m_removedView = new QAction(tr("Removed Flights"), this);
    m_removedView->setCheckable(true);
    m_removedView->setToolTip(tr("Show the flights you removed, to restore them"));
    m_openAction = new QAction(tr("Open"), this);
    m_compare = new QAction(tr("Compare"), this);
    m_compare->setToolTip(tr("The selected flights on one map, their barograms on one time axis and their figures side by side"));
    m_compareFiles = new QAction(tr("Compare Files…"), this);
    m_compareFiles->setToolTip(tr("Other pilots' IGC files beside the selected flights, without importing them"));
    auto* gliderNames = new QAction(tr("Gliders…"), this);
    gliderNames->setToolTip(tr("Rename a glider, or merge two names of one glider, in every flight"));
    auto* siteNames = new QAction(tr("Sites…"), this);
    siteNames->setToolTip(tr("The take-off sites: name one, and every flight from there carries the name"));
    const auto toolButton = [this](QAction* action) {
        auto* button = new QToolButton;
        button->setDefaultAction(action);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        m_actionButtons.push_back(button);
        return button;
    };
    setSaveNewFlightsAvailable(false);

    auto* bar = new QHBoxLayout;
    bar->addWidget(toolButton(m_saveNow));
    bar->addSpacing(8);
    bar->addWidget(m_year);
    bar->addWidget(m_glider);
    bar->addWidget(m_site);
    bar->addWidget(m_search, 1);
    bar->addWidget(toolButton(m_removedView));
    bar->addSpacing(8);
    bar->addWidget(toolButton(m_edit));
    bar->addWidget(toolButton(m_remove));
    bar->addWidget(toolButton(m_restore));
    bar->addWidget(toolButton(gliderNames));
    bar->addWidget(toolButton(siteNames));
    bar->addWidget(toolButton(m_compare));
    bar->addWidget(toolButton(m_compareFiles));
    bar->addWidget(importButton);
    bar->addWidget(m_export);
    m_statisticsButton = new QPushButton(tr("Statistics"));
    m_statisticsButton->setCheckable(true);
    m_statisticsButton->setToolTip(tr("Hours, flights, kilometres or points per month or year, as a chart under the table"));
    bar->addWidget(m_statisticsButton);
    bar->addWidget(m_open);

    m_filter->setSourceModel(m_model);
    m_model->fileTimeZone = [this](const LibraryFlight& flight) { return igcFileTimeZoneMinutes(m_library.pathOf(flight)); };
    m_model->otherRecorders = [this](const LibraryFlight& flight) {
        QStringList names;
        if (const auto others = m_library.index().recordingsOf(flight.id))
            for (const LibraryFlight& other : *others)
                names << QString::fromStdString(other.instrument().empty() ? other.file : other.instrument());
        return names;
    };
    auto* table = new HintTableView;
    table->hint = [this] { return emptyTableHint(); };
    m_table = table;
    m_table->setModel(m_filter);
    m_table->setSortingEnabled(true);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->setAlternatingRowColors(true);
    m_table->setWordWrap(false);
    m_table->setContextMenuPolicy(Qt::ActionsContextMenu);
    m_table->addActions({ m_openAction, m_compare, m_edit, m_remove, m_restore });
    m_table->verticalHeader()->hide();
    // Fixed heights and widths: measuring 10,000 rows would cost the opening its speed.
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 8);
    QHeaderView* header = m_table->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setStretchLastSection(true);
    header->setSectionsMovable(true);
    // What a usual cell needs, in digits; the header's title where that is wider.
    const int digit = fontMetrics().horizontalAdvance(QLatin1Char('0'));
    const int widths[] = { 15, 6, 7, 10, 6, 8, 4, 8, 4, 20, 20, 12, 9, 24 };
    static_assert(std::size(widths) == LibraryTableModel::ColumnCount, "one width per column");
    // The comment is long and seldom wanted in the list: its tooltip and the edit show it.
    m_table->setColumnHidden(LibraryTableModel::Comment, true);
    int tableWidth = 2 * m_table->frameWidth() + m_table->verticalScrollBar()->sizeHint().width();
    for (int column = 0; column < LibraryTableModel::ColumnCount; ++column) {
        const QString title = m_model->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
        // The title, its margins and the sort arrow.
        const int titleWidth = header->fontMetrics().horizontalAdvance(title) + 3 * digit + 16;
        const int width = std::max(widths[column] * digit, titleWidth);
        m_table->setColumnWidth(column, width);
        if (!m_table->isColumnHidden(column))
            tableWidth += width;
    }
    m_table->sortByColumn(LibraryTableModel::Takeoff, Qt::DescendingOrder);

    m_totals = new QTreeWidget;
    m_totals->setColumnCount(5);
    m_totals->setHeaderLabels({ tr("Totals"), tr("Flights"), tr("Hours"), distanceUnit(UnitSystem::Metric), tr("Points") });
    m_totals->setRootIsDecorated(true);
    m_totals->setIndentation(14);
    m_totals->header()->setStretchLastSection(false);
    m_totals->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_totals->setMinimumWidth(digit * 36);

    auto* splitter = new QSplitter;
    splitter->addWidget(m_table);
    splitter->addWidget(m_totals);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 0);
    splitter->setChildrenCollapsible(false);
    const int totalsWidth = digit * 44;
    splitter->setSizes({ tableWidth, totalsWidth });

    m_status = new QLabel;
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_undo = new QPushButton(tr("Undo"));
    m_undo->setToolTip(tr("Put the flights just removed back into the list"));
    m_undo->hide();
    auto* statusLine = new QHBoxLayout;
    statusLine->addWidget(m_status, 1);
    statusLine->addWidget(m_undo);

    // The chart under the table and the totals, shown on demand.
    m_chart = new StatisticsChart;
    m_chart->hide();
    auto* panes = new QSplitter(Qt::Vertical);
    panes->addWidget(splitter);
    panes->addWidget(m_chart);
    panes->setStretchFactor(0, 3);
    panes->setStretchFactor(1, 1);
    panes->setChildrenCollapsible(false);
    connect(m_statisticsButton, &QPushButton::toggled, m_chart, &QWidget::setVisible);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(panes, 1);
    layout->addLayout(statusLine);
    // Every column of the table shows at the size the window opens at.
    const QMargins margins = layout->contentsMargins();
    resize(std::max(bar->sizeHint().width() + margins.left() + margins.right(),
               tableWidth + splitter->handleWidth() + totalsWidth + margins.left() + margins.right()),
        fontMetrics().height() * 40);

    chooseSaveFile = [this](const QString& title, const QString& suggested, const QString& filter) {
        return QFileDialog::getSaveFileName(this, title, suggested, filter);
    };
    chooseImportFiles = [this] {
        return QFileDialog::getOpenFileNames(this, tr("Import IGC Files"), {}, tr("IGC files (*.igc *.IGC);;All files (*)"));
    };
    chooseCompareFiles = [this] {
        return QFileDialog::getOpenFileNames(this, tr("Compare IGC Files"), {}, tr("IGC files (*.igc *.IGC);;All files (*)"));
    };
    askEdit = [this](const LibraryFlight& flight) { return askFlightEdit(flight, this); };

    connect(m_year, &QComboBox::currentIndexChanged, this, &LibraryWindow::filterChanged);
    connect(m_year, &QComboBox::currentIndexChanged, this, [this] {
        const QVariant year = m_year->currentData();
        m_chart->setYear(year.isValid() ? std::optional<int>(year.toInt()) : std::nullopt);
    });
    connect(m_glider, &QComboBox::currentIndexChanged, this, &LibraryWindow::filterChanged);
    connect(m_site, &QComboBox::currentIndexChanged, this, &LibraryWindow::filterChanged);
    connect(gliderNames, &QAction::triggered, this, &LibraryWindow::openGliderNames);
    connect(siteNames, &QAction::triggered, this, &LibraryWindow::openSiteNames);
    connect(m_search, &QLineEdit::textChanged, this, &LibraryWindow::filterChanged);
    connect(importButton, &QPushButton::clicked, this, [this] {
        if (const QStringList files = chooseImportFiles(); !files.isEmpty())
            importPaths(files);
    });
    const auto openSelected = [this] {
        if (const auto flight = selectedFlight())
            openFlight(*flight);
    };
    connect(m_open, &QPushButton::clicked, this, openSelected);
    connect(m_openAction, &QAction::triggered, this, openSelected);
    connect(m_table, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
        openFlight(m_model->flightAt(m_filter->mapToSource(index).row()));
    });
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this, &LibraryWindow::updateActions);
    connect(m_compare, &QAction::triggered, this, &LibraryWindow::compareSelected);
    connect(m_compareFiles, &QAction::triggered, this, [this] {
        if (const QStringList files = chooseCompareFiles(); !files.isEmpty())
            compareFiles(files);
    });
    connect(m_saveNow, &QAction::triggered, this, [this] {
        if (saveNewFlights)
            saveNewFlights();
    });
    connect(m_remove, &QAction::triggered, this, &LibraryWindow::removeSelected);
    connect(m_restore, &QAction::triggered, this, &LibraryWindow::restoreSelected);
    connect(m_edit, &QAction::triggered, this, &LibraryWindow::editSelected);
    connect(m_undo, &QPushButton::clicked, this, &LibraryWindow::undoRemove);
    connect(m_removedView, &QAction::toggled, this, &LibraryWindow::showRemovedFlights);

    reload();
}

LibraryWindow::~LibraryWindow() = default;

void LibraryWindow::setUnits(UnitSystem units, bool timesInUtc)
{
    const bool otherUnits = units != m_model->units();
    m_model->setUnits(units, timesInUtc);
    // Room for the offset after a local time ("2024-10-07 13:34 +02:00"); the other
    // columns' units are no wider than the metric ones'.
    const int digit = fontMetrics().horizontalAdvance(QLatin1Char('0'));
    const int wanted = (timesInUtc ? 15 : 22) * digit;
    if (m_table->columnWidth(LibraryTableModel::Takeoff) < wanted)
        m_table->setColumnWidth(LibraryTableModel::Takeoff, wanted);
    std::erase_if(m_flightWindows, [](const QPointer<FlightWindow>& window) { return window.isNull(); });
    for (const QPointer<FlightWindow>& window : m_flightWindows)
        window->setUnits(units, timesInUtc);
    std::erase_if(m_compareWindows, [](const QPointer<CompareWindow>& window) { return window.isNull(); });
    for (const QPointer<CompareWindow>& window : m_compareWindows)
        window->setUnits(units, timesInUtc);
    if (!otherUnits)
        return;
    // The sums again, in the new unit (the window opens metric until told otherwise).
    m_chart->setUnits(units);
    m_totals->headerItem()->setText(3, distanceUnit(units));
    fillTotals();
    filterChanged();
}

void LibraryWindow::reload()
{
    std::vector<std::int64_t> selected;
    for (const LibraryFlight& flight : selectedFlights())
        selected.push_back(flight.id);
    FlightFilter which;
    which.removed = m_showRemoved;
    auto flights = m_library.index().flights(which);
    if (!flights) {
        // The table keeps what it showed: an index that cannot be read is not empty.
        showIndexFailure(this, flights.error());
        return;
    }
    // The Site column: the flight's own site, else the name of the site it took off from.
    if (const auto sites = readSiteBook(m_library))
        for (LibraryFlight& flight : *flights)
            flight.site = sites->siteName(flight);
    if (!m_showRemoved)
        m_chart->setFlights(*flights);
    m_model->setFlights(std::move(*flights));
    fillChoices();
    fillTotals();
    filterChanged();
    selectIds(selected);
    updateActions();
}

void LibraryWindow::selectIds(const std::vector<std::int64_t>& ids)
{
    QItemSelection selection;
    for (const std::int64_t id : ids)
        if (const auto row = m_model->rowOfId(id)) {
            const QModelIndex shown = m_filter->mapFromSource(m_model->index(*row, 0));
            if (shown.isValid())
                selection.select(shown, shown);
        }
    m_table->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void LibraryWindow::updateActions()
{
    const std::size_t selected = static_cast<std::size_t>(m_table->selectionModel()->selectedRows().size());
    m_open->setEnabled(selected == 1);
    m_openAction->setEnabled(selected == 1);
    m_compare->setEnabled(selected >= CompareWindow::minFlights && selected <= CompareWindow::maxFlights);
    m_edit->setEnabled(!m_showRemoved && selected == 1);
    m_edit->setVisible(!m_showRemoved);
    m_remove->setEnabled(!m_showRemoved && selected > 0);
    m_remove->setVisible(!m_showRemoved);
    m_restore->setEnabled(m_showRemoved && selected > 0);
    m_restore->setVisible(m_showRemoved);
    // A button follows its action's state but not whether it shows.
    for (QToolButton* button : m_actionButtons)
        button->setVisible(button->defaultAction()->isVisible());
}

void LibraryWindow::setSaveNewFlightsAvailable(bool available, const QString& why)
{
    m_saveNow->setEnabled(available);
    m_saveNow->setToolTip(available ? tr("Save the flights of the connected instrument that the library does not have yet")
            : why.isEmpty()         ? tr("Plug in the instrument to save its new flights")
                                    : why);
}

void LibraryWindow::showRemovedFlights(bool removed)
{
    if (m_removedView->isChecked() != removed) {
        m_removedView->setChecked(removed); // comes back here through toggled
        return;
    }
    if (m_showRemoved == removed)
        return;
    m_showRemoved = removed;
    m_table->selectionModel()->clearSelection();
    reload();
}

bool LibraryWindow::removeSelected()
{
    const std::vector<LibraryFlight> flights = selectedFlights();
    if (m_showRemoved || flights.empty())
        return false;
    std::vector<std::int64_t> removed;
    QStringList failures;
    for (const LibraryFlight& flight : flights) {
        if (const auto done = m_library.remove(flight.id))
            removed.push_back(flight.id);
        else
            failures << QString::fromStdString(done.error().message);
    }
    reload();
    failures.removeDuplicates();
    const QString failed = failures.isEmpty() ? QString() : tr(" Not removed: %1.").arg(failures.join(QStringLiteral("; ")));
    if (removed.empty()) {
        showStatus(tr("No flight was removed.") + failed);
        return false;
    }
    m_lastRemoved = removed;
    showStatus((removed.size() == 1 ? tr("1 flight removed.") : tr("%1 flights removed.").arg(removed.size()))
        + (removed.size() == 1 ? tr(" Its file is kept in the library's removed folder; Removed Flights lists it.")
                               : tr(" Their files are kept in the library's removed folder; Removed Flights lists them."))
        + failed);
    m_undo->show();
    return failures.isEmpty();
}

bool LibraryWindow::undoRemove()
{
    if (m_lastRemoved.empty())
        return false;
    std::vector<std::int64_t> restored;
    QStringList failures;
    for (const std::int64_t id : std::exchange(m_lastRemoved, {})) {
        if (const auto done = m_library.restore(id))
            restored.push_back(id);
        else
            failures << QString::fromStdString(done.error().message);
    }
    m_undo->hide();
    reload();
    selectIds(restored);
    failures.removeDuplicates();
    showStatus((restored.size() == 1 ? tr("1 flight back in the list.") : tr("%1 flights back in the list.").arg(restored.size()))
        + (failures.isEmpty() ? QString() : tr(" Not restored: %1.").arg(failures.join(QStringLiteral("; ")))));
    return failures.isEmpty();
}

bool LibraryWindow::restoreSelected()
{
    const std::vector<LibraryFlight> flights = selectedFlights();
    if (!m_showRemoved || flights.empty())
        return false;
    std::size_t restored = 0;
    QStringList failures;
    for (const LibraryFlight& flight : flights) {
        if (const auto done = m_library.restore(flight.id))
            ++restored;
        else
            failures << QString::fromStdString(done.error().message);
    }
    // What Undo would give back may be back already.
    m_lastRemoved.clear();
    m_undo->hide();
    reload();
    failures.removeDuplicates();
    showStatus((restored == 1 ? tr("1 flight restored.") : tr("%1 flights restored.").arg(restored))
        + (failures.isEmpty() ? QString() : tr(" Not restored: %1.").arg(failures.join(QStringLiteral("; ")))));
    return restored > 0 && failures.isEmpty();
}

bool LibraryWindow::editSelected()
{
    const std::vector<LibraryFlight> flights = selectedFlights();
    if (m_showRemoved || flights.size() != 1)
        return false;
    return editFlight(flights.front()).has_value();
}

std::optional<LibraryFlight> LibraryWindow::editFlight(const LibraryFlight& flight)
{
    if (!askEdit)
        return std::nullopt;
    const std::optional<FlightEdit> edit = askEdit(flight);
    if (!edit)
        return std::nullopt;
    auto edited = m_library.edit(flight.id, *edit);
    if (!edited) {
        showStatus(tr("The flight was not changed: %1").arg(QString::fromStdString(edited.error().message)));
        return std::nullopt;
    }
    reload();
    showStatus(tr("The flight of %1 was changed.").arg(m_model->takeoffText(flight)));
    if (edit->scoredTrack && flightsAdded)
        flightsAdded();
    return std::move(*edited);
}

QString LibraryWindow::emptyTableHint() const
{
    if (m_filter->rowCount() > 0)
        return {};
    if (m_showRemoved)
        return m_model->rowCount() == 0 ? tr("No removed flights.") : tr("No removed flight matches the year, glider, site and search.");
    if (m_model->rowCount() == 0)
        return tr("No flights yet. Plug in the instrument to save its flights, use Save New Flights Now, or drop IGC files here.");
    return tr("No flight matches the year, glider, site and search.");
}

GliderNamesDialog* LibraryWindow::openGliderNames()
{
    auto* dialog = new GliderNamesDialog(m_library, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &GliderNamesDialog::renamed, this, &LibraryWindow::reload);
    dialog->show();
    return dialog;
}

SiteNamesDialog* LibraryWindow::openSiteNames()
{
    auto* dialog = new SiteNamesDialog(m_library, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &SiteNamesDialog::named, this, &LibraryWindow::reload);
    dialog->show();
    return dialog;
}

void LibraryWindow::fillChoices()
{
    const QVariant year = m_year->currentData();
    const QString glider = m_glider->currentIndex() > 0 ? m_glider->currentText() : QString();
    const QVariant site = m_site->currentData();
    QSignalBlocker blockYear(m_year), blockGlider(m_glider), blockSite(m_site);
    m_site->clear();
    m_site->addItem(tr("All sites"));
    for (const FlightTotals& totals : siteGroups(m_model->flights()))
        if (!totals.key.empty())
            m_site->addItem(tr("%1 (%2)").arg(QString::fromStdString(totals.key)).arg(totals.flights), QString::fromStdString(totals.key));
    if (const int at = m_site->findData(site); site.isValid() && at > 0)
        m_site->setCurrentIndex(at);
    m_year->clear();
    m_year->addItem(tr("All years"));
    m_glider->clear();
    m_glider->addItem(tr("All gliders"));
    const auto years = m_library.index().totalsByYear(), gliders = m_library.index().totalsByGlider();
    if (!years || !gliders)
        return showIndexFailure(this, years ? gliders.error() : years.error());
    for (const FlightTotals& totals : *years)
        m_year->addItem(QString::fromStdString(totals.key), QString::fromStdString(totals.key).toInt());
    for (const FlightTotals& totals : gliderGroups(*gliders))
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
                    QString::number(each.seconds / 3600.0, 'f', 1), totalsText(each.trackMetres, m_model->units()), pointsText(each) });
            if (each.scored < each.flights)
                item->setToolTip(4, tr("%1 of %2 flights scored so far").arg(each.scored).arg(each.flights));
        }
        top->setExpanded(true);
    };
    const auto years = m_library.index().totalsByYear(), gliders = m_library.index().totalsByGlider();
    if (!years || !gliders)
        return showIndexFailure(this, years ? gliders.error() : years.error());
    group(tr("By year"), *years);
    group(tr("By glider"), gliderGroups(*gliders));
    // The sites of the flights listed: the removed flights' view counts no site.
    if (!m_showRemoved) {
        auto sites = siteGroups(m_model->flights());
        for (FlightTotals& site : sites)
            if (site.key.empty())
                site.key = tr("(no site named)").toStdString();
        group(tr("By site"), sites);
    }
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
    if (m_site->currentIndex() > 0)
        filter.site = m_site->currentData().toString().toStdString();
    filter.text = m_search->text().trimmed().toStdString();
    m_filter->setFilter(filter);
    std::int64_t seconds = 0;
    double metres = 0;
    double points = 0;
    int scored = 0;
    const int shown = m_filter->rowCount();
    for (int row = 0; row < shown; ++row) {
        const LibraryFlight& flight = m_model->flightAt(m_filter->mapToSource(m_filter->index(row, 0)).row());
        seconds += flight.durationSeconds;
        metres += flight.trackMetres;
        points += flight.scorePoints.value_or(0);
        scored += flight.scorePoints.has_value();
    }
    const QString flights = m_showRemoved ? (shown == 1 ? tr("1 removed flight shown") : tr("%1 removed flights shown").arg(shown))
        : shown == 1                      ? tr("1 flight shown")
                                          : tr("%1 flights shown").arg(shown);
    // Points only once some flight shown has a score: unscored flights never say "0 points".
    const QString sums = tr("%1, %2 hours, %3 %4")
                             .arg(flights, QString::number(seconds / 3600.0, 'f', 1), totalsText(metres, m_model->units()),
                                 distanceUnit(m_model->units()));
    showStatus((scored == 0 ? sums : tr("%1, %2 points").arg(sums, QString::number(points, 'f', 0)))
        + tr(". Library: %1").arg(QString::fromStdString(m_library.folder())));
}

void LibraryWindow::showStatus(const QString& text)
{
    m_status->setText(text);
    // The line may be cut where the window is narrow.
    m_status->setToolTip(text);
}

std::optional<LibraryFlight> LibraryWindow::selectedFlight() const
{
    const QModelIndexList rows = m_table->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return std::nullopt;
    return m_model->flightAt(m_filter->mapToSource(rows.front()).row());
}

std::vector<LibraryFlight> LibraryWindow::selectedFlights() const
{
    std::vector<LibraryFlight> flights;
    for (const QModelIndex& row : m_table->selectionModel()->selectedRows())
        flights.push_back(m_model->flightAt(m_filter->mapToSource(row).row()));
    return flights;
}

void LibraryWindow::setAirspaceCheckSettings(const FlightWindow::AirspaceCheckSettings& settings)
{
    m_airspaceSettings = settings;
    std::erase_if(m_flightWindows, [](const QPointer<FlightWindow>& window) { return window.isNull(); });
    for (const QPointer<FlightWindow>& window : m_flightWindows)
        window->setAirspaceCheckSettings(settings);
}

FlightWindow* LibraryWindow::openFlight(const LibraryFlight& flight)
{
    auto* window = new FlightWindow(m_library, flight);
    window->setAirspaceCheckSettings(m_airspaceSettings);
    if (m_model->units() != UnitSystem::Metric || !m_model->timesInUtc())
        window->setUnits(m_model->units(), m_model->timesInUtc());
    std::erase_if(m_flightWindows, [](const QPointer<FlightWindow>& open) { return open.isNull(); });
    m_flightWindows.emplace_back(window);
    if (mapBaseLayer)
        window->map().setBaseLayer(mapBaseLayer());
    window->setAttribute(Qt::WA_DeleteOnClose);
    // The set the instrument held on the flight's day, when the library knows it.
    if (const auto held = m_library.airspaceFileFor(flight))
        window->setAirspaceFile(QString::fromStdString(*held));
    connect(window, &FlightWindow::editRequested, this, [this, window, id = flight.id] {
        // As the library has it now: an edit made in the table meanwhile is kept.
        const auto current = m_library.index().flight(id);
        if (!current)
            return showStatus(tr("The flight is no longer in the library."));
        if (const auto edited = editFlight(*current))
            window->showEdited(*edited);
    });
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

CompareWindow* LibraryWindow::compareSelected()
{
    std::vector<CompareWindow::Source> sources;
    for (const LibraryFlight& flight : selectedFlights())
        sources.push_back({ m_library.pathOf(flight), flight });
    return openComparison(std::move(sources));
}

CompareWindow* LibraryWindow::compareFiles(const QStringList& paths)
{
    // Read where they are: a file compared is never imported, so it counts in no total.
    std::vector<CompareWindow::Source> sources;
    for (const LibraryFlight& flight : selectedFlights())
        sources.push_back({ m_library.pathOf(flight), flight });
    for (const QString& path : paths)
        sources.push_back({ path.toStdString(), std::nullopt });
    return openComparison(std::move(sources));
}

CompareWindow* LibraryWindow::openComparison(std::vector<CompareWindow::Source> sources)
{
    if (sources.size() < CompareWindow::minFlights) {
        showStatus(tr("Choose two flights or more to compare."));
        return nullptr;
    }
    if (sources.size() > CompareWindow::maxFlights)
        showStatus(tr("Only the first %1 flights are compared.").arg(CompareWindow::maxFlights));
    auto* window = new CompareWindow(std::move(sources));
    if (m_model->units() != UnitSystem::Metric || !m_model->timesInUtc())
        window->setUnits(m_model->units(), m_model->timesInUtc());
    if (exportComparisonKmz)
        window->setExportKmz(exportComparisonKmz);
    if (mapBaseLayer)
        window->map().setBaseLayer(mapBaseLayer());
    std::erase_if(m_compareWindows, [](const QPointer<CompareWindow>& open) { return open.isNull(); });
    m_compareWindows.emplace_back(window);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
    window->raise();
    return window;
}

void LibraryWindow::importPaths(const QStringList& paths)
{
    std::vector<std::string> list;
    for (const QString& path : paths)
        list.push_back(path.toStdString());
    const auto outcomes = m_library.importPaths(list, [&](const ImportOutcome&, std::size_t done, std::size_t total) {
        showStatus(tr("Importing file %1 of %2…").arg(done).arg(total));
        m_status->repaint();
    });
    // Counted from what became of each file in the end: a commit that fails takes back
    // every file the progress heard of as imported.
    ImportTally tally;
    QStringList problems;
    for (const ImportOutcome& outcome : outcomes) {
        tally.count(outcome);
        if (outcome.kind == ImportOutcome::Kind::Refused)
            problems << QString::fromStdString(outcome.source + ": " + outcome.message);
        for (const std::string& line : outcome.skippedLines)
            problems << QString::fromStdString(line) + tr(" (line skipped)");
    }
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

bool LibraryWindow::exportKmz()
{
    const auto flight = selectedFlight();
    if (!flight)
        return false;
    const QString suggested = QFileInfo(QString::fromStdString(flight->file)).completeBaseName() + ".kmz";
    const QString path = chooseSaveFile(tr("Export Flight"), suggested, tr("KMZ files (*.kmz)"));
    if (path.isEmpty())
        return false;
    const flights::ContestRuleSet* rules = flights::findContestRuleSet(m_library.index().listedRuleSet());
    if (!rules)
        rules = &flights::contestRuleSets().front();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    auto kmz = analysis::readKmzFlight(m_library.pathOf(*flight), static_cast<std::size_t>(std::max(0, flight->part)), rules,
        flights::scoredTrackFromName(flight->scoredTrack));
    Result<void, std::string> saved;
    if (kmz) {
        const QByteArray legend = climbLegendPng();
        analysis::KmzOptions options;
        options.creator = "Corvex Vario " + QCoreApplication::applicationVersion().toStdString();
        options.legendPng.assign(legend.constData(), static_cast<std::size_t>(legend.size()));
        saved = analysis::saveKmz(std::span(&*kmz, 1), options, path.toStdString());
    }
    QApplication::restoreOverrideCursor();
    if (!kmz || !saved) {
        QMessageBox::warning(this, tr("Export"),
            !kmz ? QString::fromStdString(kmz.error()) : tr("Cannot write %1. Choose a folder you can write to.").arg(path));
        return false;
    }
    showStatus(tr("Saved %1").arg(path));
    return true;
}

bool LibraryWindow::saveComparisonKmz(const CompareWindow& window)
{
    std::vector<analysis::KmzFlight> flights;
    for (std::size_t i = 0; i < window.flightCount(); ++i) {
        const CompareWindow::Compared& compared = window.flight(i);
        if (!compared.igc)
            continue;
        analysis::KmzFlight flight;
        flight.flight = *compared.igc;
        flight.figures = compared.figures;
        flight.debrief = compared.debrief;
        QString who = compared.pilot;
        if (!compared.glider.isEmpty())
            who += (who.isEmpty() ? "" : ", ") + compared.glider;
        flight.name = who.toStdString();
        flight.colour = { static_cast<std::uint8_t>(compared.colour.red()), static_cast<std::uint8_t>(compared.colour.green()),
            static_cast<std::uint8_t>(compared.colour.blue()) };
        flights.push_back(std::move(flight));
    }
    if (flights.empty())
        return false;
    const QString path = chooseSaveFile(tr("Export Comparison"), tr("Comparison.kmz"), tr("KMZ files (*.kmz)"));
    if (path.isEmpty())
        return false;
    const QByteArray legend = climbLegendPng();
    analysis::KmzOptions options;
    options.name = tr("Comparison").toStdString();
    options.creator = "Corvex Vario " + QCoreApplication::applicationVersion().toStdString();
    options.legendPng.assign(legend.constData(), static_cast<std::size_t>(legend.size()));
    if (!analysis::saveKmz(flights, options, path.toStdString())) {
        QMessageBox::warning(this, tr("Export"), tr("Cannot write %1. Choose a folder you can write to.").arg(path));
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
    CsvChoice choice { m_model->units(), {} };
    if (!m_model->timesInUtc())
        choice.takeoffOffset = [this](const LibraryFlight& flight) { return m_model->takeoffOffsetMinutes(flight); };
    if (!writeFile(path, libraryCsv(shown, choice))) {
        QMessageBox::warning(this, tr("Export"), tr("Cannot write %1. Choose a folder you can write to.").arg(path));
        return false;
    }
    showStatus(tr("Saved %1").arg(path));
    return true;
}

bool LibraryWindow::printLogBook()
{
    const QVariant year = m_year->currentData();
    const std::optional<int> chosen = year.isValid() ? std::optional<int>(year.toInt()) : std::nullopt;
    const QString suggested = chosen ? tr("Log Book %1.pdf").arg(*chosen) : tr("Log Book.pdf");
    const QString path = chooseSaveFile(tr("Print Log Book"), suggested, tr("PDF files (*.pdf)"));
    if (path.isEmpty())
        return false;
    // The listed flights, whatever the table shows: the book numbers them over every year.
    auto flights = m_library.index().flights();
    if (!flights) {
        showIndexFailure(this, flights.error());
        return false;
    }
    if (const auto sites = readSiteBook(m_library))
        for (LibraryFlight& flight : *flights)
            flight.site = sites->siteName(flight);
    LogBookChoice choice { m_model->units(), {} };
    if (!m_model->timesInUtc())
        choice.takeoffOffset = [this](const LibraryFlight& flight) { return m_model->takeoffOffsetMinutes(flight); };
    const auto written = writeLogBookPdf(path, *flights, chosen, choice);
    if (!written) {
        QMessageBox::warning(this, tr("Print Log Book"), tr("Cannot write %1. Choose a folder you can write to.").arg(path));
        return false;
    }
    showStatus(tr("Saved %1 (%n page(s))", nullptr, *written).arg(path));
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
