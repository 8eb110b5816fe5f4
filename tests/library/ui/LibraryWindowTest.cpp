// The library window and the flight view over a real library of the shared flights.
#include "base/Format.h"
#include "base/Units.h"
#include "flights/ContestScore.h"
#include "flights/IgcFlight.h"
#include "library/AirspaceArchive.h"
#include "library/FlightLibrary.h"
#include "library/LibraryTable.h"
#include "library/ui/BarogramView.h"
#include "library/ui/CompareWindow.h"
#include "library/ui/FlightEditDialog.h"
#include "library/ui/FlightWindow.h"
#include "library/ui/LibraryTableModel.h"
#include "library/ui/LibraryWindow.h"
#include "library/ui/ReplayBar.h"
#include "library/ui/StatisticsChart.h"
#include "library/qt/LibraryDebrief.h"
#include "library/qt/LogBookPdf.h"
#include "library/ui/NamesDialogs.h"
#include "map/qt/GliderLayer.h"
#include "library/Sites.h"
#include "library/TakeoffTime.h"
#include "map/qt/ContestLayer.h"
#include "map/qt/GliderLayer.h"
#include "map/qt/LegendLayer.h"
#include "map/qt/MarkersLayer.h"
#include "map/qt/ReliefLayer.h"
#include "map/qt/TerrainSource.h"
#include "map/qt/TrackLayer.h"
#include "map/qt/WindLayer.h"
#include "map/qt/ZoneLayer.h"
#include "map/ui/MapView.h"
#include "support/SyntheticFlight.h"
#include "support/TemporaryFolder.h"
#include "support/TestFiles.h"
#include "TerrainTileFiles.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QCoreApplication>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTableView>
#include <QTableWidget>
#include <QThreadPool>
#include <QTreeWidget>
#include <QRegularExpression>
#include <QUrl>
#include <QWheelEvent>
#include <QLocale>

#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>
#include <zip.h>
#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <map>
#include <regex>
#include <set>
#include <fstream>
#include <thread>
#include <ctime>

using namespace corvex;
using namespace corvex::library;
using corvex::testing::readFile;
using corvex::testing::TemporaryFolder;

namespace {

// The value of a call that must succeed, by value: a range-for over the value inside a
// temporary result would read it after its end.
template<typename T>
T valueOf(corvex::library::LibraryResult<T> result)
{
    EXPECT_TRUE(result) << result.error().message;
    return result ? std::move(*result) : T {};
}

struct SharedLibrary {
    SharedLibrary()
    {
        auto opened = FlightLibrary::open(scratch.path() + "/Flights");
        library = std::move(*opened);
        library->importPaths({ CORVEX_TESTDATA_DIR "/igc" });
    }
    TemporaryFolder scratch;
    std::unique_ptr<FlightLibrary> library;
};

// A PDF's pages by their page objects, and its text where poppler's pdftotext is
// installed (empty otherwise: the caller skips what needs it).
std::size_t pdfPageCount(const std::string& pdf)
{
    static const QRegularExpression page("/Type\\s*/Page(?!s)");
    return static_cast<std::size_t>(QString::fromLatin1(pdf.data(), static_cast<qsizetype>(pdf.size())).count(page));
}

QString pdfText(const QString& path)
{
    if (QStandardPaths::findExecutable("pdftotext").isEmpty())
        return {};
    QProcess process;
    process.start("pdftotext", { "-layout", path, "-" });
    process.waitForFinished(30000);
    // The typeface's ligatures come out as one character: "ﬂ" for "fl".
    return QString::fromUtf8(process.readAllStandardOutput()).replace(QChar(0xFB01), "fi").replace(QChar(0xFB02), "fl");
}

// A library holding one flight of the shared test data.
struct OneFlight {
    explicit OneFlight(const std::string& file)
        : path(CORVEX_TESTDATA_DIR "/igc/" + file)
    {
        library = std::move(*FlightLibrary::open(scratch.path() + "/Flights"));
        flight = *library->importFile(path).flight;
    }
    std::string path;
    TemporaryFolder scratch;
    std::unique_ptr<FlightLibrary> library;
    LibraryFlight flight;
};

// Turns the event loop until done(); false after 30 s.
bool waitFor(const std::function<bool()>& done)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > 30000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Made-up airspaces around 20180427.igc, those of library-bench's picture: a control
// zone it flies through, a TMA above ground it may have touched, a range beside the
// track and a zone 70 km away.
const char* const demoAirspacesPath = CORVEX_SOURCE_DIR "/tools/library-bench/demo-airspaces.txt";

std::vector<std::string> column(LibraryWindow& window, int column)
{
    std::vector<std::string> values;
    for (int row = 0; row < window.filterModel().rowCount(); ++row)
        values.push_back(window.filterModel().index(row, column).data().toString().toStdString());
    return values;
}

// The text of an IGC file naming another glider.
std::string withGlider(std::string text, const std::string& glider)
{
    const std::string end = text.find("\r\n") != std::string::npos ? "\r\n" : "\n";
    if (const std::size_t at = text.find("\nHFGTY"); at != std::string::npos)
        text.erase(at + 1, text.find('\n', at + 1) - at);
    return text.insert(text.find('\n') + 1, "HFGTYGLIDERTYPE:" + glider + end);
}

std::vector<std::string> comboItems(QComboBox& combo)
{
    std::vector<std::string> items;
    for (int i = 0; i < combo.count(); ++i)
        items.push_back(combo.itemText(i).toStdString());
    return items;
}

std::vector<std::string> totalsOf(LibraryWindow& window, int group)
{
    std::vector<std::string> rows;
    QTreeWidgetItem* top = window.totals().topLevelItem(group);
    for (int i = 0; i < top->childCount(); ++i)
        rows.push_back(top->child(i)->text(0).toStdString() + " " + top->child(i)->text(1).toStdString());
    return rows;
}

} // namespace

// What the pilot narrows the table to, and what the status line then counts.
TEST(LibraryWindow, FiltersNarrowTheTableAndTheCount)
{
    SharedLibrary shared;
    LibraryWindow window(*shared.library);
    auto* year = window.findChildren<QComboBox*>().at(0);
    auto* glider = window.findChildren<QComboBox*>().at(1);
    auto* search = window.findChild<QLineEdit*>();
    struct Case {
        QString year, glider, text;
        int rows;
    };
    const Case cases[] = {
        { "All years", "All gliders", "", 6 },
        { "2016", "All gliders", "", 2 },
        { "All years", "ASG 29E", "", 1 },
        { "All years", "All gliders", "GUETTLER", 1 },
        { "2016", "All gliders", "duo", 1 },
        { "2024", "ASG 29E", "", 0 },
    };
    for (const Case& c : cases) {
        year->setCurrentText(c.year);
        glider->setCurrentText(c.glider);
        search->setText(c.text);
        EXPECT_EQ(window.filterModel().rowCount(), c.rows) << c.year.toStdString() << " " << c.glider.toStdString() << " " << c.text.toStdString();
        EXPECT_TRUE(window.statusLabel().text().startsWith(c.rows == 1 ? QString("1 flight shown") : QString("%1 flights shown").arg(c.rows)))
            << window.statusLabel().text().toStdString();
    }

    // The search and the glider ignore case beyond ASCII, as `corvex library list` does.
    LibraryFlight sud;
    sud.pilot = "Team S\xc3\x9c" "D";
    sud.glider = "Ozone Zeno";
    const std::pair<FlightFilter, bool> rules[] = {
        { FlightFilter { std::nullopt, std::nullopt, "s\xc3\xbc" "d" }, true },
        { FlightFilter { std::nullopt, std::nullopt, "S\xc3\x9c" "D" }, true },
        { FlightFilter { std::nullopt, std::nullopt, "sud" }, false },
        { FlightFilter { std::nullopt, "OZONE zeno", "" }, true },
        { FlightFilter { std::nullopt, "Ozone", "" }, false },
    };
    for (const auto& [filter, kept] : rules) {
        window.filterModel().setFilter(filter);
        EXPECT_EQ(window.filterModel().accepts(sud), kept) << filter.text << filter.glider.value_or("");
    }

    // Durations sort as durations, not as text ("10:47" after "5:54").
    year->setCurrentIndex(0);
    glider->setCurrentIndex(0);
    search->clear();
    window.table().sortByColumn(LibraryTableModel::Duration, Qt::DescendingOrder);
    EXPECT_EQ(column(window, LibraryTableModel::Duration).front(), "10:47");

    // The totals: every year and every flight once.
    QTreeWidgetItem* byYear = window.totals().topLevelItem(0);
    int flights = 0;
    for (int i = 0; i < byYear->childCount(); ++i)
        flights += byYear->child(i)->text(1).toInt();
    EXPECT_EQ(byYear->childCount(), 5);
    EXPECT_EQ(flights, 6);

    // An index that cannot be read any more is said so, and the table keeps what it
    // showed rather than turning empty.
    sqlite3* database = nullptr;
    ASSERT_EQ(sqlite3_open(shared.library->indexPath().c_str(), &database), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(database, "DROP TABLE flights", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(database);
    window.reload();
    EXPECT_EQ(window.model().rowCount(), 6);
    const auto* alert = window.findChild<QMessageBox*>("libraryIndexFailure");
    ASSERT_TRUE(alert);
    EXPECT_TRUE(alert->informativeText().contains("no such table")) << alert->informativeText().toStdString();
    window.reload();
    EXPECT_EQ(window.findChildren<QMessageBox*>("libraryIndexFailure").size(), 1) << "one alert while it is up";
}

// The debrief's columns: empty until the pass analysed the flight, then thermals, the
// average climb in the pilot's unit and the circling share, sorted as numbers; the
// statistics count the thermals of the flights analysed.
TEST(LibraryWindow, DebriefColumnsFillAfterThePassAndSort)
{
    SharedLibrary shared;
    LibraryWindow window(*shared.library);
    const int columns[] = { LibraryTableModel::Thermals, LibraryTableModel::AvgClimb, LibraryTableModel::Circling };
    for (const int each : columns) {
        for (const std::string& cell : column(window, each))
            EXPECT_EQ(cell, "") << each << ": not analysed yet";
        EXPECT_EQ(window.filterModel().index(0, each).data(Qt::ToolTipRole).toString(), "Not analysed yet");
    }
    ScoreFillOptions options;
    options.debrief = libraryDebriefMaker();
    ASSERT_EQ(valueOf(shared.library->fillScores(options)).debriefed, 6u);
    window.reload();
    window.setUnits(UnitSystem::Imperial, true);
    const std::regex shapes[] = { std::regex("[0-9]+"), std::regex("-?[0-9]+ ft/min"), std::regex("[0-9]+ %") };
    for (int i = 0; i < 3; ++i) {
        window.table().sortByColumn(columns[i], Qt::DescendingOrder);
        // A flight without thermals has no average climb: last.
        const std::vector<std::string> cells = column(window, columns[i]);
        const auto firstEmpty = std::find(cells.begin(), cells.end(), std::string());
        EXPECT_TRUE(std::all_of(firstEmpty, cells.end(), [](const std::string& cell) { return cell.empty(); }));
        std::vector<double> shown;
        for (auto cell = cells.begin(); cell != firstEmpty; ++cell) {
            EXPECT_TRUE(std::regex_match(*cell, shapes[i])) << *cell;
            shown.push_back(std::stod(*cell));
        }
        EXPECT_TRUE(!shown.empty() && std::is_sorted(shown.rbegin(), shown.rend())) << columns[i];
    }
    std::int64_t thermals = 0;
    for (const LibraryFlight& flight : valueOf(shared.library->index().flights()))
        thermals += flight.debrief ? flight.debrief->thermals : 0;
    EXPECT_GT(thermals, 0) << "the shared flights climbed in thermals";
    window.statisticsChart().setYear(std::nullopt);
    window.statisticsChart().setMeasure(StatisticsMeasure::Thermals);
    double charted = 0;
    for (const auto& bar : window.statisticsChart().bars())
        charted += bar.value;
    EXPECT_EQ(charted, double(thermals));
}

// The score column and the points of the totals: empty (never 0) before the scoring
// pass, the points after it, sorted as numbers, each year's total the sum of its
// flights', and a year still waiting for a flight marked as partial.
TEST(LibraryWindow, ScoresInTheTableAndTheTotals)
{
    SharedLibrary shared;
    LibraryWindow window(*shared.library);
    const auto scoreCells = [&] { return column(window, LibraryTableModel::Score); };
    const auto yearPoints = [&] {
        std::map<std::string, std::string> points;
        QTreeWidgetItem* byYear = window.totals().topLevelItem(0);
        for (int i = 0; i < byYear->childCount(); ++i)
            points[byYear->child(i)->text(0).toStdString()] = byYear->child(i)->text(4).toStdString();
        return points;
    };
    EXPECT_EQ(window.totals().headerItem()->text(4), "Points");
    EXPECT_EQ(window.model().headerData(LibraryTableModel::Score, Qt::Horizontal, Qt::DisplayRole).toString(), "Score");
    for (const std::string& cell : scoreCells())
        EXPECT_EQ(cell, "") << "not scored yet";
    EXPECT_EQ(window.filterModel().index(0, LibraryTableModel::Score).data(Qt::ToolTipRole).toString(), "Not scored yet");
    for (const auto& [year, points] : yearPoints())
        EXPECT_EQ(points, "") << year;
    EXPECT_FALSE(window.statusLabel().text().contains("points")) << "no 0 points before any score";

    ASSERT_EQ(shared.library->fillScores()->scored, 6u);
    window.reload();
    window.table().sortByColumn(LibraryTableModel::Score, Qt::DescendingOrder);
    std::vector<double> shown;
    for (const std::string& cell : scoreCells())
        shown.push_back(std::stod(cell));
    ASSERT_EQ(shown.size(), 6u);
    EXPECT_TRUE(std::is_sorted(shown.rbegin(), shown.rend())) << "sorted as numbers";
    EXPECT_GT(shown.back(), 0);
    const QString tip = window.filterModel().index(0, LibraryTableModel::Score).data(Qt::ToolTipRole).toString();
    EXPECT_TRUE(tip.contains(QRegularExpression("^[0-9.]+ points, (Free flight|Free triangle|FAI triangle|Closed free triangle|Closed FAI triangle), [0-9.]+ km")))
        << tip.toStdString();
    EXPECT_TRUE(window.statusLabel().text().contains(" points. Library: ")) << window.statusLabel().text().toStdString();
    window.setUnits(UnitSystem::Aviation, true);
    EXPECT_TRUE(window.filterModel().index(0, LibraryTableModel::Score).data(Qt::ToolTipRole).toString().contains(" NM ("));
    window.setUnits(UnitSystem::Metric, true);

    std::map<std::string, double> sums;
    for (const LibraryFlight& flight : valueOf(shared.library->index().flights()))
        sums[std::to_string(flight.year())] += *flight.scorePoints;
    const auto points = yearPoints();
    ASSERT_EQ(points.size(), sums.size());
    for (const auto& [year, sum] : sums)
        EXPECT_EQ(points.at(year), QString::number(sum, 'f', 0).toStdString()) << year;

    // A flight of 2016 waits for the pass again (the solver changed): its cell is
    // empty and its year's points are marked as partial.
    const auto of2016 = *shared.library->index().flights(FlightFilter { 2016, std::nullopt, {} });
    ASSERT_EQ(of2016.size(), 2u);
    ASSERT_TRUE(shared.library->index().setScore(of2016.front().id, "xcontest", { std::nullopt, {}, std::nullopt, 0 }));
    window.reload();
    const double rest = *of2016.back().scorePoints;
    EXPECT_EQ(yearPoints().at("2016"), QString::number(rest, 'f', 0).toStdString() + "+");
    const auto row = window.model().rowOfId(of2016.front().id);
    ASSERT_TRUE(row);
    EXPECT_EQ(window.model().index(*row, LibraryTableModel::Score).data().toString(), "");

    const std::string csv = libraryCsv(*shared.library->index().flights());
    EXPECT_NE(csv.find(",Score (points),Score type,"), std::string::npos);
}

// The doors out: a flight as GPX and the shown rows as CSV, with its awkward fields
// quoted; files dropped on the window come in.
TEST(LibraryWindow, ExportsAndDroppedFiles)
{
    SharedLibrary shared;
    // A glider name with a comma and quotes, as pilots write them.
    std::string text = readFile(CORVEX_TESTDATA_DIR "/igc/20180427.igc");
    const std::size_t glider = text.find("HFGTYGLIDERTYPE:");
    text.replace(glider, text.find('\n', glider) - glider, "HFGTYGLIDERTYPE:Duo \"X\", 2");
    // Another pilot's flight on another logger: neither the same one again nor its
    // second recording.
    text.replace(0, 7, "AXGD001");
    text.replace(text.find("Stefan Vyparina"), 15, "Ann Other");
    const std::string dropped = shared.scratch.path() + "/dropped.igc";
    std::ofstream(dropped, std::ios::binary) << text;

    LibraryWindow window(*shared.library);
    window.show();
    QMimeData mime;
    mime.setUrls({ QUrl::fromLocalFile(QString::fromStdString(dropped)) });
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &drop);
    EXPECT_EQ(window.model().rowCount(), 7);
    EXPECT_EQ(window.statusLabel().text(), "1 imported, 0 already in the library, 0 refused");

    QString answer;
    window.chooseSaveFile = [&](const QString&, const QString&, const QString&) { return answer; };
    answer = QString::fromStdString(shared.scratch.path() + "/table.csv");
    ASSERT_TRUE(window.exportTable());
    const std::string csv = readFile(answer.toStdString());
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 8);
    EXPECT_NE(csv.find(",\"Duo \"\"X\"\", 2\","), std::string::npos) << csv;

    answer = QString::fromStdString(shared.scratch.path() + "/book.pdf");
    ASSERT_TRUE(window.printLogBook());
    const std::string pdf = readFile(answer.toStdString());
    EXPECT_EQ(pdf.substr(0, 5), "%PDF-");
    EXPECT_EQ(pdfPageCount(pdf), 1u);
    EXPECT_FALSE(QFile::exists(answer + ".part"));
    if (const QString book = pdfText(answer); !book.isEmpty()) {
        EXPECT_TRUE(book.contains("Duo \"X\", 2")) << book.toStdString();
        EXPECT_TRUE(book.contains("Total")) << book.toStdString();
        EXPECT_TRUE(book.contains("Page 1 of 1")) << book.toStdString();
    }
    answer = QString::fromStdString(shared.scratch.path() + "/no such folder/book.pdf");
    QTimer::singleShot(0, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->accept();
    });
    EXPECT_FALSE(window.printLogBook());

    // The chart follows the library and the window's year; all years show every year
    // from the first to the last.
    window.statisticsButton().click();
    QCoreApplication::processEvents();
    EXPECT_TRUE(window.statisticsChart().isVisible());
    const LogBookStatistics& statistics = window.statisticsChart().statistics();
    EXPECT_EQ(statistics.total().flights, 7);
    const auto years = window.statisticsChart().bars();
    ASSERT_FALSE(years.empty());
    EXPECT_EQ(years.front().label.toInt(), statistics.years().front().year);
    EXPECT_EQ(years.back().label.toInt(), statistics.years().back().year);
    window.statisticsChart().setMeasure(StatisticsMeasure::Flights);
    double flights = 0;
    for (const auto& bar : window.statisticsChart().bars())
        flights += bar.value;
    EXPECT_EQ(flights, 7);
    const int newest = statistics.years().back().year;
    QComboBox* yearChoice = nullptr;
    for (QComboBox* box : window.findChildren<QComboBox*>())
        if (box->accessibleName() == "Year")
            yearChoice = box;
    ASSERT_TRUE(yearChoice);
    yearChoice->setCurrentIndex(yearChoice->findData(newest));
    EXPECT_EQ(window.statisticsChart().year(), newest);
    EXPECT_EQ(window.statisticsChart().bars().size(), 12u);
    EXPECT_FALSE(window.statisticsChart().grab().isNull());

    window.table().sortByColumn(LibraryTableModel::Duration, Qt::DescendingOrder);
    window.table().selectRow(0);
    const auto longest = window.selectedFlight();
    ASSERT_TRUE(longest);
    answer = QString::fromStdString(shared.scratch.path() + "/longest.gpx");
    ASSERT_TRUE(window.exportSelected("gpx"));
    const std::string gpx = readFile(answer.toStdString());
    std::size_t points = 0;
    for (std::size_t at = 0; (at = gpx.find("<trkpt ", at)) != std::string::npos; ++at)
        ++points;
    EXPECT_EQ(static_cast<std::int64_t>(points), longest->fixes);

    // The globe's file from the Export menu: a zip of doc.kml and the legend; a folder
    // that cannot be written says so and leaves nothing.
    QAction* kmz = nullptr;
    for (QPushButton* button : window.findChildren<QPushButton*>())
        if (button->text() == "Export" && button->menu())
            for (QAction* action : button->menu()->actions())
                if (action->text() == "Google Earth (KMZ)…")
                    kmz = action;
    ASSERT_TRUE(kmz);
    answer = QString::fromStdString(shared.scratch.path() + "/longest.kmz");
    kmz->trigger();
    const std::string zipped = readFile(answer.toStdString());
    EXPECT_EQ(zipped.substr(0, 4), "PK\x03\x04");
    EXPECT_EQ(zipped.substr(30, 7), "doc.kml");
    EXPECT_NE(zipped.find("legend.png"), std::string::npos);
    answer = QString::fromStdString(shared.scratch.path() + "/no such folder/longest.kmz");
    QString warning;
    QTimer::singleShot(0, [&warning] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            warning = box->text();
            box->accept();
        }
    });
    EXPECT_FALSE(window.exportKmz());
    EXPECT_EQ(warning, "Cannot write " + answer + ". Choose a folder you can write to.");
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(answer).path()));
}

// The pilot's units and local time: the table, its CSV and the flight's figures follow
// them; the take-off shows at the file's own zone (HFTZN +5:30) with the offset.
TEST(LibraryWindow, ImperialUnitsAndTheTakeoffsLocalTime)
{
    OneFlight one("20241007TZN.igc");
    LibraryWindow window(*one.library);
    window.resize(1100, 300);
    window.setUnits(UnitSystem::Imperial, false);
    const auto cell = [&](int column) { return window.filterModel().index(0, column).data().toString().toStdString(); };
    const LibraryFlight& flight = one.flight;
    ASSERT_TRUE(flight.maxAltitude());
    EXPECT_EQ(cell(LibraryTableModel::Takeoff), "2024-10-07 11:57 +05:30");
    EXPECT_EQ(window.model().headerData(LibraryTableModel::Takeoff, Qt::Horizontal, Qt::DisplayRole).toString(), "Take-off (local)");
    EXPECT_EQ(cell(LibraryTableModel::MaxAltitude), std::to_string(std::lround(*flight.maxAltitude() / 0.3048)) + " ft");
    EXPECT_EQ(cell(LibraryTableModel::Track), formatString("%.1f mi", flight.trackMetres / 1609.344));
    EXPECT_TRUE(cell(LibraryTableModel::BestClimb).ends_with(" ft/min")) << cell(LibraryTableModel::BestClimb);
    EXPECT_EQ(window.model().index(0, LibraryTableModel::Takeoff).data(Qt::UserRole).toLongLong(), flight.takeoff)
        << "sorted by the moment, whatever the zone";
    // The totals, the status line and the chart's distance in miles too.
    const QString miles = QString::number(flight.trackMetres / 1609.344, 'f', 0);
    EXPECT_EQ(window.totals().headerItem()->text(3), "mi");
    EXPECT_EQ(window.totals().topLevelItem(0)->child(0)->text(3), miles);
    EXPECT_EQ(window.totals().topLevelItem(2)->child(0)->text(3), miles) << "by site";
    EXPECT_TRUE(window.statusLabel().text().contains(", " + miles + " mi. Library: ")) << window.statusLabel().text().toStdString();
    window.statisticsChart().setMeasure(StatisticsMeasure::Kilometres);
    EXPECT_EQ(window.statisticsChart().title(), "Miles per year");
    ASSERT_EQ(window.statisticsChart().bars().size(), 1u);
    EXPECT_DOUBLE_EQ(window.statisticsChart().bars().front().value, flight.trackMetres / 1609.344);

    QString answer = QString::fromStdString(one.scratch.path() + "/table.csv");
    window.chooseSaveFile = [&](const QString&, const QString&, const QString&) { return answer; };
    ASSERT_TRUE(window.exportTable());
    const std::string csv = readFile(answer.toStdString());
    EXPECT_EQ(csv.substr(0, csv.find("\r\n")),
        "Take-off (local),Landing (local),Duration,Highest (ft),Track (mi),Take-off to landing (mi),Score (points),"
        "Score type,Best climb (ft/min),Best sink (ft/min),Glider,Pilot,Instrument,File");
    EXPECT_NE(csv.find("\r\n2024-10-07 11:57 +05:30," + localMinuteText(flight.landing, 330) + ","), std::string::npos) << csv;

    // The printed log book: miles in the distance column, the take-off's local date.
    answer = QString::fromStdString(one.scratch.path() + "/book.pdf");
    ASSERT_TRUE(window.printLogBook());
    const QString book = pdfText(answer);
    EXPECT_TRUE(book.isEmpty() || (book.contains("Distance (mi)") && !book.contains("Date (UTC)"))) << book.toStdString();

    // Back in metric and UTC: the table as before, the CSV as libraryCsv writes it.
    window.setUnits(UnitSystem::Metric, true);
    EXPECT_EQ(cell(LibraryTableModel::Takeoff), "2024-10-07 06:27");
    EXPECT_EQ(cell(LibraryTableModel::MaxAltitude), std::to_string(*flight.maxAltitude()) + " m");
    EXPECT_EQ(window.totals().headerItem()->text(3), "km");
    EXPECT_EQ(window.statisticsChart().title(), "Kilometres per year");
    ASSERT_TRUE(window.exportTable());
    EXPECT_EQ(readFile(answer.toStdString()), libraryCsv({ flight }));

    FlightWindow view(*one.library, flight);
    view.setUnits(UnitSystem::Aviation, false);
    EXPECT_TRUE(view.figureText("Take-off:").startsWith("2024-10-07 11:57 +05:30, ")) << view.figureText("Take-off:").toStdString();
    EXPECT_EQ(view.figureText("Track:").toStdString(), formatString("%.1f NM", flight.trackMetres / 1852));
    EXPECT_TRUE(view.figureText("Best climb / sink (20 s):").endsWith(" kt")) << view.figureText("Best climb / sink (20 s):").toStdString();
    EXPECT_TRUE(view.figureText("Altitude (GPS):").endsWith(" ft"));
    view.setUnits(UnitSystem::Metric, true);
    EXPECT_TRUE(view.figureText("Take-off:").startsWith("2024-10-07 06:27 UTC, "));
    EXPECT_EQ(view.figureText("Track:").toStdString(), formatString("%.1f km", flight.trackMetres / 1000));
}

// A flight whose file went away says so instead of a map; the barogram's hover finds
// the fix under the pointer from one edge to the other.
TEST(FlightWindow, MissingFileAndBarogramEdges)
{
    SharedLibrary shared;
    const auto flights = *shared.library->index().flights();
    ASSERT_FALSE(flights.empty());
    LibraryFlight gone = flights.front();
    std::filesystem::remove(shared.library->pathOf(gone));
    FlightWindow missing(*shared.library, gone);
    EXPECT_FALSE(missing.loadError().isEmpty());
    EXPECT_TRUE(missing.track().empty());
    EXPECT_EQ(missing.map().parent(), &missing) << "the hidden map goes with the window";

    FlightWindow view(*shared.library, flights.back());
    ASSERT_TRUE(view.loadError().isEmpty());
    BarogramView& barogram = view.barogram();
    barogram.resize(600, 180);
    EXPECT_EQ(barogram.indexAtX(0), 0u);
    EXPECT_EQ(barogram.indexAtX(599), view.track().size() - 1);
    std::size_t previous = 0;
    for (int x = 0; x < 600; x += 7) {
        const auto index = barogram.indexAtX(x);
        ASSERT_TRUE(index);
        EXPECT_GE(*index, previous) << "the hover never runs backwards";
        previous = *index;
    }
    barogram.setCursorIndex(view.track().size());
    EXPECT_FALSE(barogram.cursorIndex()) << "past the end shows no cursor";

    EXPECT_FALSE(missing.isDebriefing());
    EXPECT_FALSE(missing.debrief());
    EXPECT_TRUE(missing.debriefSummary().text().startsWith("No debrief")) << missing.debriefSummary().text().toStdString();

    // The small graph needs one value per fix, and a barogram tall enough for both; a
    // value that is not a number leaves a gap, a wild one is clamped to the axis.
    const std::size_t fixes = view.track().size();
    barogram.setGraph(BarogramView::Graph::Vario, std::vector<double>(fixes - 1, 1.0));
    EXPECT_EQ(barogram.graph(), BarogramView::Graph::None);
    EXPECT_TRUE(barogram.graphArea().isEmpty());
    EXPECT_EQ(barogram.plotArea().height(), 180 - 10 - 22);
    std::vector<double> values(fixes, 1.0);
    values[fixes / 3] = std::numeric_limits<double>::quiet_NaN();
    values[fixes / 2] = 400;
    barogram.setGraph(BarogramView::Graph::Vario, values);
    EXPECT_EQ(barogram.graph(), BarogramView::Graph::Vario);
    const QRect plot = barogram.plotArea(), graph = barogram.graphArea();
    ASSERT_FALSE(graph.isEmpty());
    EXPECT_LT(plot.bottom(), graph.top());
    EXPECT_EQ(plot.left(), graph.left());
    EXPECT_EQ(plot.width(), graph.width()) << "one time axis for both";
    barogram.setCursorIndex(fixes / 2);
    const QImage withGraph = barogram.grab().toImage();
    EXPECT_FALSE(withGraph.isNull());
    EXPECT_EQ(barogram.indexAtX(graph.left()), 0u) << "the hover works over the graph too";
    BarogramView low;
    low.setSamples({ { 0, 100 }, { 60, 200 } });
    low.setGraph(BarogramView::Graph::GroundSpeed, { 20.0, 30.0 });
    low.resize(600, 100);
    EXPECT_EQ(low.graph(), BarogramView::Graph::GroundSpeed);
    EXPECT_TRUE(low.graphArea().isEmpty()) << "too low for two graphs: the altitude alone";
    low.setSamples({});
    EXPECT_EQ(low.graph(), BarogramView::Graph::None) << "new samples drop the old graph";
}

// The score comes from a worker: the window says "Scoring…" at once, then draws the
// legs between numbered turnpoints and marks the turnpoints' times on the barogram,
// with the same figures as the score itself.
TEST(FlightWindow, ScoreDrawnAsLegsAndBarogramMarks)
{
    struct Case {
        std::string file;
        QString type;
        std::vector<std::string> labels;
        std::size_t legs;
        bool closingGap;
    };
    const Case cases[] = {
        { "20180427.igc", "Closed free triangle", { "1", "2", "3" }, 3, true },
        { "lad_lod_extensions.igc", "Free flight", { "S", "1", "2", "3", "F" }, 4, false },
        { "20241007TZN.igc", "Closed FAI triangle", { "1", "2", "3" }, 3, true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        OneFlight one(c.file);
        FlightWindow window(*one.library, one.flight);
        EXPECT_TRUE(window.isScoring());
        EXPECT_TRUE(window.scoreText().startsWith("Scoring…")) << window.scoreText().toStdString();
        EXPECT_TRUE(window.contestLayer().route().points.empty());
        QSignalSpy ready(&window, &FlightWindow::scoreReady);
        ASSERT_TRUE(waitFor([&] { return !window.isScoring(); }));
        EXPECT_EQ(ready.count(), 1);

        const auto expected = flights::scoreFlight(*flights::readIgcFile(one.path), *flights::findContestRuleSet("xcontest"));
        ASSERT_TRUE(expected && window.score());
        EXPECT_EQ(window.score()->points, expected->points);
        const QStringList figures = window.scoreText().split('\n');
        ASSERT_EQ(figures.size(), 6);
        EXPECT_EQ(figures[0], c.type);
        EXPECT_EQ(figures[1], QString::number(expected->distanceMetres / 1000, 'f', 2) + " km");
        EXPECT_EQ(figures[3], QString::number(expected->points, 'f', 2));
        EXPECT_EQ(figures[4] != "–", c.closingGap) << figures[4].toStdString();
        EXPECT_TRUE(figures[5].endsWith(" UTC, the whole track")) << figures[5].toStdString(); // as XContest scores it
        // In miles and at the take-off's own clock.
        window.setUnits(UnitSystem::Imperial, false);
        const int offset = localOffsetMinutes(one.flight.takeoff, igcFileTimeZoneMinutes(one.path));
        const QStringList imperial = window.scoreText().split('\n');
        ASSERT_EQ(imperial.size(), 6);
        EXPECT_EQ(imperial[1], QString::number(expected->distanceMetres / 1609.344, 'f', 2) + " mi");
        EXPECT_TRUE(!c.closingGap || imperial[4].contains(" mi (")) << imperial[4].toStdString();
        EXPECT_EQ(imperial[5].toStdString(),
            utcTimeText(expected->part.from + offset * 60, "%H:%M") + " to " + utcTimeText(expected->part.to + offset * 60, "%H:%M") + " "
                + utcOffsetText(offset) + ", the whole track");

        const ContestLayer::Route& route = window.contestLayer().route();
        ASSERT_EQ(route.points.size(), c.labels.size());
        ASSERT_EQ(expected->turnpoints.size(), c.labels.size());
        for (std::size_t i = 0; i < route.points.size(); ++i) {
            EXPECT_EQ(route.points[i].label, c.labels[i]);
            EXPECT_EQ(route.points[i].position.latitude, expected->turnpoints[i].latitude);
            EXPECT_EQ(route.points[i].position.longitude, expected->turnpoints[i].longitude);
        }
        EXPECT_EQ(window.contestLayer().legs().size(), c.legs);
        EXPECT_EQ(route.closingStart.has_value(), c.closingGap);

        // The marks stand at the turnpoints' times, and show there in the picture.
        BarogramView& barogram = window.barogram();
        barogram.resize(800, 200);
        const QImage picture = barogram.grab().toImage();
        const auto& marks = barogram.marks();
        ASSERT_EQ(marks.size(), expected->turnpoints.size());
        for (std::size_t i = 0; i < marks.size(); ++i) {
            EXPECT_EQ(marks[i].time, expected->turnpoints[i].time);
            EXPECT_EQ(marks[i].label.toStdString(), c.labels[i]);
            const int x = static_cast<int>(std::lround(barogram.xOfTime(marks[i].time)));
            int marked = 0;
            for (int y = 40; y < picture.height() - 30; ++y)
                for (int dx = -1; dx <= 1; ++dx)
                    marked += picture.pixelColor(x + dx, y) == marks[i].colour;
            EXPECT_GT(marked, 20) << "mark " << i << " at x " << x;
        }
    }
}

// Checked against an OpenAir file: the stays become named bands and listed rows, the
// stretches and deepest points are drawn, and only the airspaces near the track are
// outlined. A file that cannot be used says so and leaves nothing of the last check.
TEST(FlightWindow, AirspaceCheckAndUnusableFiles)
{
    OneFlight one("20180427.igc");
    const std::string demoAirspaces = readFile(demoAirspacesPath);
    const std::string good = one.scratch.path() + "/demo.txt";
    std::ofstream(good) << demoAirspaces;
    const std::string notOpenAir = one.scratch.path() + "/notes.txt";
    std::ofstream(notOpenAir) << "Shopping list\nbread\nmilk\n";
    const std::string empty = one.scratch.path() + "/empty.air";
    std::ofstream(empty) << "";
    const std::string huge = one.scratch.path() + "/huge.txt";
    std::ofstream { huge };
    std::filesystem::resize_file(huge, 200ull * 1024 * 1024); // sparse: takes no disk

    FlightWindow window(*one.library, one.flight);
    QSignalSpy chosen(&window, &FlightWindow::airspaceFileChosen);
    window.chooseOpenAirFile = [] { return QString(); };
    window.chooseAirspaceFile();
    EXPECT_EQ(chosen.count(), 0) << "a cancelled dialog checks nothing";
    EXPECT_FALSE(window.isCheckingAirspaces());

    // A file that is no OpenAir is not announced for the library to keep.
    window.chooseOpenAirFile = [&] { return QString::fromStdString(notOpenAir); };
    window.chooseAirspaceFile();
    ASSERT_TRUE(waitFor([&] { return !window.isCheckingAirspaces(); }));
    EXPECT_EQ(chosen.count(), 0);

    window.chooseOpenAirFile = [&] { return QString::fromStdString(good); };
    window.chooseAirspaceFile();
    EXPECT_EQ(chosen.count(), 0) << "announced once the check has run with it";
    EXPECT_TRUE(window.isCheckingAirspaces());
    EXPECT_TRUE(window.airspaceStatus().text().startsWith("Checking against demo.txt"));
    ASSERT_TRUE(waitFor([&] { return !window.isCheckingAirspaces(); }));
    ASSERT_EQ(chosen.count(), 1);
    EXPECT_EQ(chosen.front().front().toString().toStdString(), good);

    const auto expected = analysis::checkAirspaces(*flights::readIgcFile(one.path), openair::parse(demoAirspaces));
    ASSERT_EQ(expected.crossings.size(), 2u);
    const auto& bands = window.barogram().bands();
    ASSERT_EQ(bands.size(), 2u);
    QTreeWidget& list = window.crossingsList();
    ASSERT_EQ(list.topLevelItemCount(), 2);
    EXPECT_FALSE(list.isHidden());
    const auto& stretches = window.crossingsLayer().stretches();
    ASSERT_EQ(stretches.size(), 2u);
    const char* const names[] = { "Karst CTR (demo)", "Vipava TMA (demo)" };
    const char* const entered[] = { "certainly", "possibly" };
    for (std::size_t i = 0; i < 2; ++i) {
        const auto& crossing = expected.crossings[i];
        EXPECT_EQ(bands[i].label.toStdString(), names[i]);
        EXPECT_EQ(bands[i].begin, crossing.entryTime);
        EXPECT_EQ(bands[i].end, crossing.exitTime);
        QTreeWidgetItem* row = list.topLevelItem(static_cast<int>(i));
        EXPECT_EQ(row->text(0).toStdString(), names[i]);
        EXPECT_EQ(row->text(3).toStdString(), entered[i]);
        EXPECT_EQ(stretches[i].line.size(), crossing.exitIndex - crossing.entryIndex + 1);
        ASSERT_TRUE(stretches[i].mark);
        EXPECT_EQ(stretches[i].mark->latitude, window.track()[crossing.deepestHorizontalIndex].position.latitude);
    }
    EXPECT_NE(list.topLevelItem(1)->text(7).indexOf("1000ft AGL"), -1) << "the reason it is only possible";
    EXPECT_EQ(list.headerItem()->text(5), "Pressure altitude");
    EXPECT_NE(list.topLevelItem(0)->text(4).indexOf(" inside"), -1) << list.topLevelItem(0)->text(4).toStdString();
    std::vector<std::string> near;
    for (const auto& area : window.nearAirspacesLayer().areas())
        near.push_back(area.label);
    EXPECT_EQ(near, (std::vector<std::string> { "Karst CTR (demo)\nCTR, GND–4500ft MSL", "Vipava TMA (demo)\nD, 1000ft AGL–FL95",
                        "R12 Range (demo)\nR, GND–FL60" }));
    EXPECT_EQ(window.airspaceLabelsLayer().areas().size(), 3u);
    EXPECT_TRUE(window.airspaceStatus().text().startsWith("2 airspaces entered 2 times (demo.txt); 3 airspaces near the track"))
        << window.airspaceStatus().text().toStdString();
    // The stays at the take-off's local clock, the depths in feet; back in UTC and metres.
    const int offset = localOffsetMinutes(one.flight.takeoff, igcFileTimeZoneMinutes(one.path));
    for (const bool local : { true, false }) {
        window.setUnits(local ? UnitSystem::Imperial : UnitSystem::Metric, !local);
        const std::int64_t shift = local ? offset * 60 : 0;
        EXPECT_EQ(list.headerItem()->text(2).toStdString(), local ? "Inside (" + utcOffsetText(offset) + ")" : "Inside (UTC)");
        const auto& crossing = expected.crossings[0];
        EXPECT_EQ(list.topLevelItem(0)->text(2).toStdString(),
            utcTimeText(crossing.entryTime + shift, "%H:%M:%S") + "–" + utcTimeText(crossing.exitTime + shift, "%H:%M:%S"));
        const std::string& label = window.crossingsLayer().stretches()[0].markLabel;
        EXPECT_EQ(label.substr(0, label.find('\n')),
            quantityText(Quantity::Altitude, crossing.deepestHorizontalMetres, local ? UnitSystem::Imperial : UnitSystem::Metric) + " inside");
        // The margins above the floor and below the ceiling in the same units, on the list.
        ASSERT_TRUE(crossing.belowCeilingMetres);
        EXPECT_NE(list.topLevelItem(0)->text(4).toStdString().find(quantityText(Quantity::Altitude, *crossing.belowCeilingMetres,
                      local ? UnitSystem::Imperial : UnitSystem::Metric) + " below the ceiling"),
            std::string::npos) << list.topLevelItem(0)->text(4).toStdString();
    }
    // The pilot's tolerances reach the check: none of the demo airspaces is 100 km deep.
    window.setAirspaceCheckSettings({ std::nullopt, { 100000, 0 } });
    window.setAirspaceFile(QString::fromStdString(good));
    ASSERT_TRUE(waitFor([&] { return !window.isCheckingAirspaces(); }));
    EXPECT_TRUE(window.airspaceStatus().text().startsWith("No airspace of demo.txt entered")) << window.airspaceStatus().text().toStdString();
    window.setAirspaceCheckSettings({});

    struct Bad {
        std::string path;
        QString message;
    };
    const Bad bad[] = {
        { one.scratch.path() + "/missing.txt", "The airspace file missing.txt cannot be read" },
        { one.scratch.path(), "cannot be read" },
        { notOpenAir, "notes.txt" },
        { empty, "The file empty.air holds no airspace." },
        { huge, "The file huge.txt is too large to be an OpenAir file (200 MB)." },
    };
    for (const Bad& b : bad) {
        SCOPED_TRACE(b.path);
        window.setAirspaceFile(QString::fromStdString(b.path));
        ASSERT_TRUE(waitFor([&] { return !window.isCheckingAirspaces(); }));
        ASSERT_TRUE(window.airspaceFindings());
        EXPECT_FALSE(window.airspaceFindings()->error.isEmpty());
        EXPECT_NE(window.airspaceStatus().text().indexOf(b.message), -1) << window.airspaceStatus().text().toStdString();
        EXPECT_TRUE(window.barogram().bands().empty());
        EXPECT_TRUE(window.crossingsLayer().stretches().empty());
        EXPECT_TRUE(window.nearAirspacesLayer().areas().empty());
        EXPECT_TRUE(list.isHidden());
    }
}

// A flight from the instrument opens checked against the set it held that day, and a
// file the pilot checks against is kept for the next time.
TEST(FlightWindow, OpensCheckedAgainstTheSetOfTheDay)
{
    TemporaryFolder scratch;
    auto library = std::move(*FlightLibrary::open(scratch.path() + "/Flights"));
    const auto added = library->addInstrumentFlight(readFile(CORVEX_TESTDATA_DIR "/igc/20180427.igc"), "W123", 967'000, "test");
    ASSERT_TRUE(added.flight);
    const LibraryFlight flight = *added.flight;
    const std::string demo = readFile(demoAirspacesPath);
    ASSERT_TRUE(library->airspaces().keep(demo, "demo.txt", AirspaceUse::Converted, flight.takeoff - 86400, "set-1"));
    const auto upload = library->airspaces().recordUpload("set-1", "W123", flight.takeoff - 3600);
    ASSERT_TRUE(upload && *upload);

    LibraryWindow libraryWindow(*library);
    FlightWindow* window = libraryWindow.openFlight(flight);
    EXPECT_TRUE(window->isCheckingAirspaces());
    ASSERT_TRUE(waitFor([&] { return !window->isCheckingAirspaces(); }));
    EXPECT_EQ(window->barogram().bands().size(), 2u);

    const std::string chosen = scratch.path() + "/other.txt";
    std::ofstream(chosen) << demo << "\nAC R\nAN Far away (test)\nAL GND\nAH FL60\nV X=45:00:00 N 010:00:00 E\nDC 2\n";
    emit window->airspaceFileChosen(QString::fromStdString(chosen));
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(library->airspaces().folder()))
        files += entry.path().extension() != ".tsv";
    EXPECT_EQ(files, 2u) << "the chosen file is kept once beside the set of the day";
    window->close();
}

// The debrief comes from a worker too: its lists fill and sort by the figures, the
// thermals and failed attempts become bands on the barogram and the wind arrows on the
// map, and choosing a stretch draws it strongly and moves the shared cursor to its start.
// The program's terrain reaches an open flight view: the relief under the map, the
// ground under the barogram's curve (none where the tiles have no posts) and the
// height above it at the cursor; another folder, or none, replaces them.
TEST(FlightWindow, GroundUnderTheBarogramAndReliefFromTheProgramsTerrain)
{
    OneFlight one("654G6NG1.IGC");
    TerrainSource terrainSource;
    TerrainSource::setProgram(&terrainSource);
    FlightWindow window(*one.library, one.flight);
    QSignalSpy grounded(&window, &FlightWindow::groundReady);
    EXPECT_FALSE(window.reliefLayer().hasTerrain());
    EXPECT_TRUE(window.barogram().ground().empty());
    const TrackPoints& track = window.track();
    ASSERT_GT(track.size(), 100u);

    // A plain of 300 m under the western half of the track, voids under the eastern.
    double west = 180, east = -180;
    for (const TrackPoint& point : track) {
        west = std::min(west, point.position.longitude);
        east = std::max(east, point.position.longitude);
    }
    const double middle = (west + east) / 2;
    TemporaryFolder tiles;
    std::set<std::pair<int, int>> squares;
    for (const TrackPoint& point : track)
        squares.insert({ static_cast<int>(std::floor(point.position.latitude)), static_cast<int>(std::floor(point.position.longitude)) });
    for (const auto& [south, westEdge] : squares)
        test::writeHgtTile(tiles.path(), south, westEdge, 1201,
            [middle](double, double longitude) -> std::optional<double> { return longitude < middle ? std::optional(300.0) : std::nullopt; });
    terrainSource.setFolder(tiles.path());
    ASSERT_TRUE(waitFor([&] { return grounded.count() == 1; }));
    EXPECT_TRUE(window.reliefLayer().hasTerrain());
    BarogramView& barogram = window.barogram();
    const std::vector<double>& ground = barogram.ground();
    ASSERT_EQ(ground.size(), track.size());
    std::optional<double> shift;
    std::size_t covered = 0, bare = 0;
    for (std::size_t i = 0; i < track.size(); ++i) {
        const double longitude = track[i].position.longitude;
        // Two posts' width round the edge of the voids may go either way.
        if (std::abs(longitude - middle) < 0.002)
            continue;
        if (longitude > middle) {
            EXPECT_TRUE(std::isnan(ground[i])) << "no ground drawn where no post is, fix " << i;
            ++bare;
            barogram.setCursorIndex(i);
            EXPECT_FALSE(barogram.cursorText().contains("AGL")) << barogram.cursorText().toStdString();
            continue;
        }
        ASSERT_TRUE(std::isfinite(ground[i])) << i;
        // One shift between the tiles' datum and the barogram's for the whole flight.
        if (!shift)
            shift = ground[i] - 300;
        EXPECT_NEAR(ground[i] - 300, *shift, 1e-6);
        ++covered;
    }
    EXPECT_GT(covered, 10u);
    EXPECT_GT(bare, 10u);
    // Drawn: brown at the foot of the plot under a covered fix, not under a bare one.
    const QImage picture = barogram.grab().toImage();
    const auto brownAtFoot = [&](std::size_t fix) {
        const QColor colour = picture.pixelColor(static_cast<int>(barogram.xOfTime(track[fix].time)), barogram.plotArea().bottom() - 2);
        return colour.red() > colour.blue() + 15;
    };
    for (std::size_t i = 0; i < track.size(); i += 97) {
        const double x = barogram.xOfTime(track[i].time);
        // Away from the plot's frame and from the edge of the voids.
        if (x > barogram.plotArea().left() + 2 && x < barogram.plotArea().right() - 2 && std::abs(track[i].position.longitude - middle) > 0.01) {
            EXPECT_EQ(brownAtFoot(i), track[i].position.longitude < middle) << "fix " << i;
        }
    }
    for (const UnitSystem units : { UnitSystem::Metric, UnitSystem::Aviation }) {
        window.setUnits(units, true);
        std::size_t fix = 0;
        while (!(track[fix].position.longitude < middle - 0.002))
            ++fix;
        barogram.setCursorIndex(fix);
        const double above = std::lround(track[fix].altitude) - ground[fix];
        EXPECT_TRUE(barogram.cursorText().contains(
            QString::fromStdString("  AGL " + quantityText(Quantity::Altitude, std::lround(above), units))))
            << barogram.cursorText().toStdString();
    }

    terrainSource.setFolder(std::nullopt);
    EXPECT_FALSE(window.reliefLayer().hasTerrain());
    EXPECT_TRUE(barogram.ground().empty());
    EXPECT_FALSE(barogram.cursorText().contains("AGL"));
    TerrainSource::setProgram(nullptr);
}

TEST(FlightWindow, DebriefListedBandedAndChosen)
{
    using Kind = FlightWindow::StretchKind;
    OneFlight one("20180427.igc");
    FlightWindow window(*one.library, one.flight);
    EXPECT_TRUE(window.isDebriefing());
    ASSERT_TRUE(waitFor([&] { return !window.isDebriefing(); }));
    ASSERT_TRUE(window.debrief());
    const analysis::FlightDebrief& debrief = *window.debrief();
    ASSERT_FALSE(debrief.thermals.empty());
    EXPECT_EQ(window.stretchList(Kind::Thermal).topLevelItemCount(), static_cast<int>(debrief.thermals.size()));
    EXPECT_EQ(window.stretchList(Kind::FailedAttempt).topLevelItemCount(), static_cast<int>(debrief.failedAttempts.size()));
    EXPECT_EQ(window.stretchList(Kind::Glide).topLevelItemCount(), static_cast<int>(debrief.glides.size()));
    EXPECT_EQ(window.debriefTabs().tabText(0), QStringLiteral("Thermals (%1)").arg(debrief.thermals.size()));
    EXPECT_TRUE(window.altitudeKind().text() == "Altitude: pressure" || window.altitudeKind().text() == "Altitude: GPS");

    // Sorted by the figure, not its text: the strongest climb first, then by duration.
    QTreeWidget& thermals = window.stretchList(Kind::Thermal);
    struct Sort {
        int column;
        double (*figure)(const analysis::CirclingPhase&);
    };
    const Sort sorts[] = {
        { 4, [](const analysis::CirclingPhase& p) { return p.climbMs; } },
        { 3, [](const analysis::CirclingPhase& p) { return p.gainMetres; } },
        { 2, [](const analysis::CirclingPhase& p) { return double(p.durationSeconds()); } },
    };
    for (const Sort& sort : sorts) {
        thermals.sortByColumn(sort.column, Qt::DescendingOrder);
        std::vector<double> shown;
        for (int row = 0; row < thermals.topLevelItemCount(); ++row)
            shown.push_back(sort.figure(debrief.thermals[thermals.topLevelItem(row)->data(1, Qt::UserRole).toULongLong()]));
        EXPECT_TRUE(std::is_sorted(shown.rbegin(), shown.rend())) << "column " << sort.column;
    }

    // Bands for thermals and attempts, drawn where they are.
    BarogramView& barogram = window.barogram();
    EXPECT_EQ(barogram.phaseBands().size(), debrief.thermals.size() + debrief.failedAttempts.size());
    EXPECT_EQ(barogram.graph(), BarogramView::Graph::Vario);
    barogram.resize(900, 240);
    const QImage banded = barogram.grab().toImage();
    const auto longest = std::max_element(debrief.thermals.begin(), debrief.thermals.end(),
        [](const auto& a, const auto& b) { return a.durationSeconds() < b.durationSeconds(); });
    const int middle = static_cast<int>(barogram.xOfTime((longest->startTime + longest->endTime) / 2));
    const std::vector<BarogramView::Band> bands = barogram.phaseBands();
    barogram.setPhaseBands({});
    const QImage plain = barogram.grab().toImage();
    int differing = 0;
    const QRect plot = barogram.plotArea();
    for (int y = plot.top() + 1; y < plot.bottom(); ++y)
        differing += banded.pixelColor(middle, y) != plain.pixelColor(middle, y);
    EXPECT_GT(differing, plot.height() / 2) << "the band behind the curve at x " << middle;
    barogram.setPhaseBands(bands);

    // The small graph follows the choice above the barogram.
    window.graphChoice().setCurrentIndex(1);
    EXPECT_EQ(barogram.graph(), BarogramView::Graph::GroundSpeed);
    EXPECT_FALSE(barogram.graphArea().isEmpty());
    window.graphChoice().setCurrentIndex(2);
    EXPECT_EQ(barogram.graph(), BarogramView::Graph::None);
    EXPECT_TRUE(barogram.graphArea().isEmpty());

    std::size_t winds = 0;
    for (const auto& thermal : debrief.thermals)
        winds += thermal.wind.has_value();
    ASSERT_EQ(window.windLayer().arrows().size(), winds);
    if (winds > 0) {
        const auto& first
            = *std::find_if(debrief.thermals.begin(), debrief.thermals.end(), [](const auto& t) { return t.wind.has_value(); });
        EXPECT_NEAR(std::fmod(window.windLayer().arrows().front().towardsDegrees - first.wind->fromDegrees + 360, 360), 180, 1e-9)
            << "pointing downwind";
    }

    // Choosing: the stretch on the map and the barogram, the cursor at its start.
    for (const Kind kind : { Kind::Thermal, Kind::Glide }) {
        const std::size_t index = kind == Kind::Thermal ? debrief.thermals.size() / 2 : debrief.glides.size() / 2;
        ASSERT_LT(index, kind == Kind::Thermal ? debrief.thermals.size() : debrief.glides.size());
        const std::size_t start = kind == Kind::Thermal ? debrief.thermals[index].startIndex : debrief.glides[index].startIndex;
        const std::size_t end = kind == Kind::Thermal ? debrief.thermals[index].endIndex : debrief.glides[index].endIndex;
        window.selectStretch(kind, index);
        EXPECT_EQ(barogram.cursorIndex(), start);
        EXPECT_EQ(window.markers().cursorIndex(), start);
        ASSERT_EQ(window.highlightLayer().stretches().size(), 1u);
        EXPECT_EQ(window.highlightLayer().stretches().front().line.size(), end - start + 1);
        ASSERT_TRUE(barogram.highlight());
        EXPECT_EQ(barogram.highlight()->begin, window.track()[start].time);
        EXPECT_EQ(barogram.highlight()->end, window.track()[end].time);
        EXPECT_EQ(window.highlightLayer().stretches().front().markLabel,
            (kind == Kind::Thermal ? "Thermal " : "Glide ") + std::to_string(index + 1));
    }
    window.stretchList(Kind::Glide).setCurrentItem(nullptr);
    EXPECT_TRUE(window.highlightLayer().stretches().empty());
    EXPECT_FALSE(barogram.highlight());
    window.selectStretch(Kind::Glide, debrief.glides.size() / 2);

    // Pointing at a thermal on the map names it.
    window.map().resize(800, 600);
    window.map().fitToLayer(window.trackLayer());
    const std::size_t named = debrief.thermals.size() - 1;
    const auto& thermal = debrief.thermals[named];
    const PixelPoint pixel = window.map().viewport().pixelFor(window.track()[(thermal.startIndex + thermal.endIndex) / 2].position);
    const QString tip = window.stretchTipAt(QPointF(pixel.x, pixel.y));
    EXPECT_TRUE(tip.startsWith(QStringLiteral("Thermal %1: +").arg(named + 1)) || tip.startsWith("Failed attempt ")) << tip.toStdString();
    EXPECT_TRUE(tip.endsWith(", left") || tip.endsWith(", right") || tip.endsWith(", mixed")) << tip.toStdString();
    if (tip.startsWith(QStringLiteral("Thermal %1:").arg(named + 1))) {
        EXPECT_EQ(tip.toStdString(),
            formatString("Thermal %zu: %+.0f m, %.1f m/s, %s", named + 1, thermal.gainMetres, thermal.climbMs,
                analysis::directionName(thermal.direction)));
    }
    EXPECT_TRUE(window.stretchTipAt(QPointF(-500, -500)).isEmpty());

    // In feet, the lists, the legend and the tip say so.
    EXPECT_EQ(window.legendLayer().title(), "Altitude (m)");
    window.setUnits(UnitSystem::Imperial, true);
    EXPECT_EQ(window.legendLayer().title(), "Altitude (ft)");
    EXPECT_TRUE(thermals.topLevelItem(0)->text(3).endsWith(" ft")) << thermals.topLevelItem(0)->text(3).toStdString();
    EXPECT_EQ(window.highlightLayer().stretches().size(), 1u) << "the chosen stretch stays chosen";

    // Coloured by climb, the legend has a swatch a step, from +5 m/s down, in ft/min.
    QComboBox* coloring = nullptr;
    for (QComboBox* combo : window.findChildren<QComboBox*>())
        if (combo->accessibleName() == "Track colour")
            coloring = combo;
    ASSERT_TRUE(coloring);
    coloring->setCurrentIndex(1);
    EXPECT_EQ(window.legendLayer().title(), "Climb (ft/min)");
    const auto& entries = window.legendLayer().entries();
    ASSERT_EQ(entries.size(), 11u);
    EXPECT_EQ(entries.front().label, "+984");
    EXPECT_EQ(entries[5].label, "0");
    EXPECT_EQ(entries.back().label, "-984");
}

TEST(FlightWindow, ReplayMovesTheGliderCursorAndFiguresAndTheMapFollows)
{
    OneFlight one("20180427.igc");
    FlightWindow window(*one.library, one.flight);
    window.resize(1100, 800);
    ASSERT_TRUE(waitFor([&] { return !window.isDebriefing(); }));
    ASSERT_TRUE(window.debrief());
    const TrackPoints& track = window.track();
    ReplayBar& bar = window.replayBar();
    // Take-off to landing, within the track.
    EXPECT_EQ(bar.spanBegin(), std::clamp(one.flight.takeoff, track.front().time, track.back().time));
    EXPECT_EQ(bar.spanEnd(), std::clamp(one.flight.landing, track.front().time, track.back().time));
    EXPECT_EQ(bar.time(), static_cast<double>(bar.spanBegin()));
    EXPECT_FALSE(window.gliderLayer().isVisible()) << "no glider before the replay is used";
    EXPECT_EQ(bar.thermalStarts().size(), window.debrief()->thermals.size());

    // ×200: ten ticks of 30 ms are a minute of flight; the glider, the barogram's cursor
    // and the figures follow, the map keeps the glider in its middle.
    window.map().resize(800, 500);
    window.map().fitToLayer(window.trackLayer());
    MapRect closer = window.map().visibleMapRect();
    closer = { closer.x + closer.width * 0.45, closer.y + closer.height * 0.45, closer.width / 10, closer.height / 10 };
    window.map().setVisibleMapRect(closer, false);
    bar.setSpeed(200);
    EXPECT_EQ(bar.speed(), 200);
    bar.play();
    EXPECT_TRUE(bar.isPlaying());
    EXPECT_TRUE(bar.isFollowing());
    const double start = bar.time();
    for (int tick = 0; tick < 10; ++tick)
        bar.advance(0.03);
    EXPECT_NEAR(bar.time(), start + 60, 1e-9);
    ASSERT_TRUE(window.gliderLayer().isVisible());
    const auto state = gliderStateAt(track, bar.time());
    ASSERT_TRUE(state);
    EXPECT_EQ(window.barogram().cursorIndex(), state->fixIndex);
    EXPECT_FALSE(window.markers().cursorIndex()) << "the glider is the cursor";
    EXPECT_TRUE(window.fixText().contains(QString::fromStdString(quantityText(Quantity::Altitude, state->altitude, UnitSystem::Metric))))
        << window.fixText().toStdString();
    EXPECT_TRUE(window.fixText().contains("km/h")) << window.fixText().toStdString();
    const auto inMiddle = [&] {
        const auto point = window.gliderLayer().gliderMapPoint(0);
        return point && !followingCentre(window.map().visibleMapRect(), *point).has_value();
    };
    EXPECT_TRUE(inMiddle());
    for (int tick = 0; tick < 100; ++tick) {
        bar.advance(0.03);
        ASSERT_TRUE(inMiddle()) << "tick " << tick;
    }

    // The next thermal lands on a thermal's start; previous goes back to the one before.
    std::vector<std::int64_t> starts;
    for (const auto& thermal : window.debrief()->thermals)
        starts.push_back(thermal.startTime);
    std::sort(starts.begin(), starts.end());
    const double before = bar.time();
    ASSERT_TRUE(bar.nextThermal());
    EXPECT_EQ(bar.time(), static_cast<double>(*std::upper_bound(starts.begin(), starts.end(), static_cast<std::int64_t>(before))));
    const double landed = bar.time();
    EXPECT_TRUE(inMiddle());
    if (bar.nextThermal()) {
        ASSERT_TRUE(bar.previousThermal());
        EXPECT_EQ(bar.time(), landed);
    }

    // The pilot pans: following stops until the check box or the next play.
    const MapRect panned = window.map().visibleMapRect();
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(400, 250), window.map().mapToGlobal(QPointF(400, 250)), Qt::LeftButton,
        Qt::LeftButton, Qt::NoModifier);
    QMouseEvent move(QEvent::MouseMove, QPointF(700, 250), window.map().mapToGlobal(QPointF(700, 250)), Qt::NoButton,
        Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(700, 250), window.map().mapToGlobal(QPointF(700, 250)),
        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&window.map(), &press);
    QApplication::sendEvent(&window.map(), &move);
    QApplication::sendEvent(&window.map(), &release);
    EXPECT_FALSE(bar.isFollowing());
    const MapRect draggedTo = window.map().visibleMapRect();
    EXPECT_NE(draggedTo.x, panned.x);
    for (int tick = 0; tick < 50; ++tick)
        bar.advance(0.03);
    EXPECT_EQ(window.map().visibleMapRect().x, draggedTo.x) << "the map stays where the pilot put it";
    bar.setFollowing(true);
    EXPECT_TRUE(inMiddle());

    // Choosing a stretch in the lists: playing, the replay jumps to its start; paused,
    // the ring cursor stays the cursor and the next play starts there.
    const auto& lastThermal = window.debrief()->thermals.back();
    window.selectStretch(FlightWindow::StretchKind::Thermal, window.debrief()->thermals.size() - 1);
    EXPECT_EQ(bar.time(), static_cast<double>(lastThermal.startTime));
    bar.pause();
    const auto& firstThermal = window.debrief()->thermals.front();
    window.selectStretch(FlightWindow::StretchKind::Thermal, 0);
    EXPECT_EQ(bar.time(), static_cast<double>(firstThermal.startTime));
    EXPECT_EQ(window.markers().cursorIndex(), firstThermal.startIndex);
    bar.play();
    bar.advance(0.03);
    EXPECT_NEAR(bar.time(), firstThermal.startTime + 6.0, 1e-9);

    // The end pauses; the timer stops with it; closing the window stops it too.
    bar.setTime(static_cast<double>(bar.spanEnd()) - 10);
    bar.advance(1);
    EXPECT_FALSE(bar.isPlaying());
    EXPECT_FALSE(bar.isTicking());
    EXPECT_EQ(bar.time(), static_cast<double>(bar.spanEnd()));
    bar.play();
    EXPECT_EQ(bar.time(), static_cast<double>(bar.spanBegin())) << "played again from the start";
    EXPECT_TRUE(bar.isTicking());
    // Space plays and pauses anywhere in the window.
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window.barogram(), Qt::Key_Space);
    EXPECT_FALSE(bar.isPlaying());
    QTest::keyClick(&window.map(), Qt::Key_Space);
    EXPECT_TRUE(bar.isPlaying());
    window.close();
    EXPECT_FALSE(bar.isPlaying());
    EXPECT_FALSE(bar.isTicking());
    EXPECT_EQ(bar.clockText().size(), 8);
}

// The workers hold the flight, not the window: closing it before they answer is safe,
// and a second file replaces the first one's answer.
TEST(FlightWindow, ClosedOrReplacedBeforeTheWorkersAnswer)
{
    OneFlight one("654G6NG1.IGC");
    auto* window = new FlightWindow(*one.library, one.flight);
    window->setAirspaceFile(CORVEX_TESTDATA_DIR "/openair/Germany.txt");
    delete window;
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();

    FlightWindow replaced(*one.library, one.flight);
    QSignalSpy ready(&replaced, &FlightWindow::airspaceCheckReady);
    replaced.setAirspaceFile(CORVEX_TESTDATA_DIR "/openair/Germany.txt");
    replaced.setAirspaceFile(QString::fromStdString(one.scratch.path() + "/missing.txt"));
    ASSERT_TRUE(waitFor([&] { return !replaced.isCheckingAirspaces() && !replaced.isScoring(); }));
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    EXPECT_EQ(ready.count(), 1);
    EXPECT_TRUE(replaced.barogram().bands().empty());
    EXPECT_NE(replaced.airspaceStatus().text().indexOf("missing.txt"), -1);

    // Closed while it scores a long flight, a window that goes on close stops its search
    // at once, not when a turn of the loop deletes it (at a quit, never): the processor
    // time spent after the close is compared with that before (a loaded machine slows both).
    TemporaryFolder folder;
    std::ofstream(folder.path() + "/wander.igc") << corvex::testing::wanderingFlightIgc(8, "XWD001");
    auto library = std::move(*FlightLibrary::open(folder.path() + "/Flights"));
    auto* scoring = new FlightWindow(*library, *library->importFile(folder.path() + "/wander.igc").flight);
    scoring->setAttribute(Qt::WA_DeleteOnClose);
    const auto spentOver = [](int milliseconds) {
        const std::clock_t before = std::clock();
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        return static_cast<double>(std::clock() - before) / CLOCKS_PER_SEC;
    };
    const double searching = spentOver(400);
    scoring->close();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_LT(spentOver(400), searching / 4) << "a search went on after the close";
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// The words loggers write when no glider was set count as none, in the file's figures
// and in the groups of an older index; the gliders are listed as a pilot looks them up.
TEST(LibraryWindow, GlidersInThePilotsOrderWithoutPlaceholders)
{
    const std::pair<const char*, const char*> names[] = {
        { "  ASG 29E ", "ASG 29E" },
        { "not set", "" },
        { "NOT SET", "" },
        { "None", "" },
        { "Default", "" },
        { "-", "" },
        { " unknown\t", "" },
        { "N/A", "" },
        { "   ", "" },
        { "Nonesuch", "Nonesuch" },
        { "n/a 2", "n/a 2" },
        { "--", "--" },
    };
    for (const auto& [named, glider] : names)
        EXPECT_EQ(gliderName(named), glider) << named;

    const auto merged = withPlaceholderGlidersMerged({ { "Zeno", 1, 60, 1000, 10, 1 }, { "None", 2, 120, 2000, 0, 0 },
        { "", 1, 60, 500, 5, 1 }, { "Not set", 1, 30, 100, 0, 0 } });
    ASSERT_EQ(merged.size(), 2u);
    EXPECT_EQ(merged[0].key, "Zeno");
    EXPECT_EQ(merged[1].key, "");
    EXPECT_EQ(merged[1].flights, 4);
    EXPECT_EQ(merged[1].seconds, 210);
    EXPECT_EQ(merged[1].trackMetres, 2600);
    EXPECT_EQ(merged[1].scored, 1);

    // One glider per file of the shared flights, as the pilots wrote them.
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    TemporaryFolder scratch;
    auto library = std::move(*FlightLibrary::open(scratch.path() + "/Flights"));
    const char* const gliders[] = { "zeno 2", "Alpha", "None", "Not set", "\xc3\x89" "crin", "beta" };
    std::size_t next = 0;
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(CORVEX_TESTDATA_DIR "/igc")) {
        const std::string extension = entry.path().extension().string();
        if (extension != ".igc" && extension != ".IGC")
            continue;
        ASSERT_LT(next, std::size(gliders));
        files.push_back(scratch.path() + "/" + entry.path().filename().string());
        std::ofstream(files.back(), std::ios::binary) << withGlider(readFile(entry.path().string()), gliders[next++]);
    }
    ASSERT_EQ(next, std::size(gliders));
    library->importPaths(files);
    LibraryWindow window(*library);
    QLocale::setDefault(before);
    auto* glider = window.findChildren<QComboBox*>().at(1);
    EXPECT_EQ(comboItems(*glider),
        (std::vector<std::string> { "All gliders", "Alpha", "beta", "\xc3\x89" "crin", "zeno 2" }));
    EXPECT_EQ(totalsOf(window, 1),
        (std::vector<std::string> { "Alpha 1", "beta 1", "\xc3\x89" "crin 1", "zeno 2 1", "(no glider named) 2" }));
    for (const LibraryFlight& flight : valueOf(library->index().flights()))
        EXPECT_TRUE(flight.glider != "None" && flight.glider != "Not set") << flight.glider;
}

// At the size it opens with, the window shows every column of the table whole (the
// comment is hidden until asked for), and the empty table says how flights come in.
TEST(LibraryWindow, EveryColumnShowsAtTheDefaultSize)
{
    SharedLibrary shared;
    LibraryWindow window(*shared.library);
    window.show();
    ASSERT_TRUE(waitFor([&] { return window.table().viewport()->width() > 100; }));
    QCoreApplication::processEvents();
    const QHeaderView& header = *window.table().horizontalHeader();
    const int viewport = window.table().viewport()->width();
    EXPECT_TRUE(window.table().isColumnHidden(LibraryTableModel::Comment));
    for (int column = 0; column < LibraryTableModel::ColumnCount; ++column) {
        if (window.table().isColumnHidden(column))
            continue;
        const std::string name = window.model().headerData(column, Qt::Horizontal, Qt::DisplayRole).toString().toStdString();
        EXPECT_GE(header.sectionViewportPosition(column), 0) << name;
        EXPECT_LE(header.sectionViewportPosition(column) + header.sectionSize(column), viewport) << name;
        EXPECT_GE(header.sectionSize(column), header.fontMetrics().horizontalAdvance(QString::fromStdString(name))) << name;
    }
    EXPECT_EQ(window.model().headerData(LibraryTableModel::Site, Qt::Horizontal, Qt::DisplayRole).toString(), "Site");

    EXPECT_TRUE(window.emptyTableHint().isEmpty());
    window.findChild<QLineEdit*>()->setText("no such pilot");
    EXPECT_EQ(window.emptyTableHint(), "No flight matches the year, glider, site and search.");

    TemporaryFolder scratch;
    auto empty = std::move(*FlightLibrary::open(scratch.path() + "/Flights"));
    LibraryWindow fresh(*empty);
    EXPECT_EQ(fresh.emptyTableHint(),
        "No flights yet. Plug in the instrument to save its flights, use Save New Flights Now, or drop IGC files here.");
    EXPECT_FALSE(fresh.saveNewFlightsAction().isEnabled());
}

// The edit keeps only what the pilot changed: an untouched glider stays the file's.
TEST(FlightEditDialog, KeepsOnlyTheChangedFields)
{
    LibraryFlight flight;
    flight.glider = "None";
    flight.pilot = "Ada Lovelace";
    flight.comment = "Thermals\nover the ridge";
    struct Case {
        const char* what;
        std::function<void(FlightEditDialog&)> change;
        FlightEdit expected;
    };
    const Case cases[] = {
        { "nothing", [](FlightEditDialog&) {}, {} },
        { "spaces only", [](FlightEditDialog& d) { d.pilotEdit().setText(" Ada Lovelace "); }, {} },
        { "glider", [](FlightEditDialog& d) { d.gliderEdit().setText("Ozone Zeno"); }, { "Ozone Zeno", {}, {}, {}, {} } },
        { "pilot cleared", [](FlightEditDialog& d) { d.pilotEdit().clear(); }, { {}, "", {}, {}, {} } },
        { "site and comment", [](FlightEditDialog& d) {
             d.siteEdit().setText("Bassano");
             d.commentEdit().setPlainText("Thermals\nover the ridge\nand a beer");
         }, { {}, {}, "Bassano", "Thermals\nover the ridge\nand a beer", {} } },
        { "whole track", [](FlightEditDialog& d) { d.scoredTrackChoice().setCurrentIndex(2); }, { {}, {}, {}, {}, "whole" } },
        { "take-off to landing", [](FlightEditDialog& d) { d.scoredTrackChoice().setCurrentIndex(1); }, { {}, {}, {}, {}, "flight" } },
    };
    for (const Case& c : cases) {
        FlightEditDialog dialog(flight);
        EXPECT_EQ(dialog.gliderEdit().text(), "") << "a placeholder is no glider to edit";
        c.change(dialog);
        const FlightEdit edit = dialog.edit();
        EXPECT_EQ(edit.glider, c.expected.glider) << c.what;
        EXPECT_EQ(edit.pilot, c.expected.pilot) << c.what;
        EXPECT_EQ(edit.site, c.expected.site) << c.what;
        EXPECT_EQ(edit.comment, c.expected.comment) << c.what;
        EXPECT_EQ(edit.scoredTrack, c.expected.scoredTrack) << c.what;
    }
}

// A second logger's recording of a flight is not a row of its own; the flight's
// tooltip names that logger.
TEST(LibraryWindow, ASecondRecordingIsNamedInTheTooltip)
{
    SharedLibrary shared;
    const LibraryFlight flight = valueOf(shared.library->index().flights()).front();
    LibraryFlight phone = flight;
    phone.id = 0;
    phone.file = "2099/phone.igc";
    phone.sha256 = std::string(64, 'e');
    phone.serial.clear();
    phone.logger = "XSX-PHONE";
    phone.recordingOf = flight.id;
    ASSERT_TRUE(shared.library->index().insert(phone));
    LibraryWindow window(*shared.library);
    EXPECT_EQ(window.model().rowCount(), 6);
    const int row = *window.model().rowOfId(flight.id);
    for (const int column : { int(LibraryTableModel::Takeoff), int(LibraryTableModel::Glider) }) {
        const QString tip = window.model().index(row, column).data(Qt::ToolTipRole).toString();
        EXPECT_TRUE(tip.endsWith("\nAlso recorded by XSX-PHONE")) << tip.toStdString();
    }
    const int other = row == 0 ? 1 : 0;
    EXPECT_FALSE(window.model().index(other, 0).data(Qt::ToolTipRole).toString().contains("Also recorded"));
    // The flight view says it too.
    FlightWindow* view = window.openFlight(flight);
    bool named = false;
    for (const QLabel* label : view->findChildren<QLabel*>())
        named = named || label->text() == "XSX-PHONE";
    EXPECT_TRUE(named);
    view->close();
}

// Remove takes the selected flights out without a question, Undo gives them back, the
// removed flights' view restores them, and an edit shows in the table.
TEST(LibraryWindow, RemoveUndoRestoreAndEdit)
{
    SharedLibrary shared;
    LibraryWindow window(*shared.library);
    const auto select = [&](std::initializer_list<int> rows) {
        window.table().clearSelection();
        for (const int row : rows)
            window.table().selectionModel()->select(
                window.filterModel().index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    };
    const auto yearFlights = [&] {
        int flights = 0;
        QTreeWidgetItem* byYear = window.totals().topLevelItem(0);
        for (int i = 0; i < byYear->childCount(); ++i)
            flights += byYear->child(i)->text(1).toInt();
        return flights;
    };
    EXPECT_EQ(window.removeAction().shortcut(), QKeySequence(QKeySequence::Delete));
    EXPECT_TRUE(window.table().actions().contains(&window.removeAction()));
    EXPECT_TRUE(window.table().actions().contains(&window.editAction()));
    EXPECT_FALSE(window.removeAction().isEnabled()) << "nothing selected";

    select({ 0, 1 });
    const auto chosen = window.selectedFlights();
    ASSERT_EQ(chosen.size(), 2u);
    EXPECT_FALSE(window.editAction().isEnabled()) << "one flight at a time";
    window.removeAction().trigger();
    EXPECT_EQ(window.model().rowCount(), 4);
    EXPECT_EQ(yearFlights(), 4);
    EXPECT_TRUE(window.statusLabel().text().startsWith("2 flights removed.")) << window.statusLabel().text().toStdString();
    EXPECT_TRUE(window.undoButton().isVisibleTo(&window));

    window.undoButton().click();
    EXPECT_EQ(window.model().rowCount(), 6);
    EXPECT_EQ(yearFlights(), 6);
    EXPECT_FALSE(window.undoButton().isVisibleTo(&window));
    EXPECT_EQ(window.selectedFlights().size(), 2u) << "the flights given back stay selected";

    // The Delete key of the table, as a pilot removes one.
    window.show();
    window.activateWindow();
    window.table().setFocus();
    ASSERT_TRUE(waitFor([&] { return QApplication::activeWindow() == &window; }));
    select({ 0 });
    const LibraryFlight removed = window.selectedFlights().front();
    QTest::keyClick(&window.table(), Qt::Key_Delete);
    EXPECT_EQ(window.model().rowCount(), 5);
    window.removedFlightsAction().trigger();
    EXPECT_TRUE(window.showsRemovedFlights());
    ASSERT_EQ(window.model().rowCount(), 1);
    EXPECT_EQ(window.model().flightAt(0).id, removed.id);
    EXPECT_FALSE(window.removeAction().isVisible());
    EXPECT_TRUE(window.restoreAction().isVisible());
    select({ 0 });
    window.restoreAction().trigger();
    EXPECT_EQ(window.model().rowCount(), 0);
    EXPECT_EQ(window.emptyTableHint(), "No removed flights.");
    window.removedFlightsAction().trigger();
    EXPECT_EQ(window.model().rowCount(), 6);
    ASSERT_TRUE(window.model().rowOfId(removed.id)) << "restored under the same id";

    std::optional<FlightEdit> answer = FlightEdit { "Ozone Zeno", {}, "Bassano", "Thermals", {} };
    window.askEdit = [&](const LibraryFlight&) { return answer; };
    select({ 0 });
    const std::int64_t edited = window.selectedFlights().front().id;
    window.editAction().trigger();
    const int row = *window.model().rowOfId(edited);
    EXPECT_EQ(window.model().index(row, LibraryTableModel::Glider).data().toString(), "Ozone Zeno");
    EXPECT_EQ(window.model().index(row, LibraryTableModel::Site).data().toString(), "Bassano");
    EXPECT_TRUE(window.model().index(row, LibraryTableModel::Comment).data(Qt::ToolTipRole).toString().startsWith("Thermals"));
    EXPECT_NE(window.findChildren<QComboBox*>().at(1)->findText("Ozone Zeno"), -1);
    answer.reset();
    EXPECT_FALSE(window.editSelected()) << "cancelled";

    // The flight view's Edit… keeps the table's edit and adds its own.
    FlightWindow* view = window.openFlight(*shared.library->index().flight(edited));
    answer = FlightEdit { {}, "Ada Lovelace", {}, {}, {} };
    view->editButton().click();
    EXPECT_EQ(window.model().index(*window.model().rowOfId(edited), LibraryTableModel::Pilot).data().toString(), "Ada Lovelace");
    EXPECT_EQ(window.model().index(*window.model().rowOfId(edited), LibraryTableModel::Glider).data().toString(), "Ozone Zeno");
    QStringList labels;
    for (const QLabel* label : view->findChildren<QLabel*>())
        labels << label->text();
    EXPECT_TRUE(labels.contains("Ada Lovelace") && labels.contains("Bassano")) << labels.join('|').toStdString();
    view->close();

    // A site's name shows on the flights from there; the flight's own site stays its own.
    const auto sites = readSiteBook(*shared.library);
    ASSERT_TRUE(sites);
    const std::int64_t other = window.model().flightAt(*window.model().rowOfId(edited) == 0 ? 1 : 0).id;
    for (const std::int64_t id : { edited, other })
        ASSERT_TRUE(nameSite(*shared.library, *sites->siteOf(id), "Monte Grappa"));
    window.reload();
    EXPECT_EQ(window.model().index(*window.model().rowOfId(edited), LibraryTableModel::Site).data().toString(), "Bassano");
    EXPECT_EQ(window.model().index(*window.model().rowOfId(other), LibraryTableModel::Site).data().toString(), "Monte Grappa");
}

// The printed log book: sheets grow with the flights, each carrying the sums of the
// ones before; a cell too narrow for its text ends in an ellipsis, a comment has the
// width the page leaves; a year keeps the numbers of the years before it. Distances in
// the pilot's unit (named in the header), dates and years the take-off's local ones.
TEST(LogBookPdf, SheetsGrowWithTheFlights)
{
    TemporaryFolder scratch;
    const auto flightsOf = [](int count) {
        std::vector<LibraryFlight> flights;
        for (int i = 0; i < count; ++i) {
            LibraryFlight flight;
            flight.id = i + 1;
            flight.takeoff = 1672531200 + std::int64_t(i) * 86400 * 5; // from 2023-01-01, five days apart
            flight.durationSeconds = 3600;
            flight.trackMetres = 12345;
            flight.pilot = "Ann Pilot";
            flight.glider = i == 0 ? "A glider whose name is far too long for its column in the printed book" : "Mentor 7";
            flight.site = "Lijak";
            if (i == 1)
                flight.comment = "Strong thermals over the ridge, then a glide to the lake";
            if (i == 2)
                flight.comment = std::string(20, 'x') + " and on: a comment of the whole afternoon that no line holds, "
                    + std::string(100, 'y') + " its last words";
            flights.push_back(flight);
        }
        return flights;
    };
    struct Case {
        int flights;
        std::optional<int> year;
        int pages;
        UnitSystem units { UnitSystem::Metric };
        std::optional<int> offsetMinutes {}; // nothing: UTC dates
        QStringList shows {};
    };
    const Case cases[] = { { 0, std::nullopt, 1 }, { 1, std::nullopt, 1 }, { 24, std::nullopt, 1 }, { 25, std::nullopt, 2 },
        { 100, std::nullopt, 5, UnitSystem::Metric, std::nullopt, { "Date (UTC)", "Distance (km)", "1234.5", "12.3" } },
        { 100, 2023, 4 }, { 100, 2024, 2, UnitSystem::Metric, std::nullopt, { "2024-01-01" } },
        // An hour west of Greenwich the first take-off (midnight UTC) is on New Year's Eve.
        { 100, 2022, 1, UnitSystem::Imperial, -60, { "Distance (mi)", "2022-12-31", "7.7" } },
        { 100, 2023, 4, UnitSystem::Aviation, 60, { "Distance (NM)", "2023-01-01", "6.7" } } };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.flights) + " flights, " + unitSystemName(c.units));
        const QString path = QString::fromStdString(scratch.path() + "/book.pdf");
        LogBookChoice choice { c.units, {} };
        if (c.offsetMinutes)
            choice.takeoffOffset = [&](const LibraryFlight&) { return *c.offsetMinutes; };
        const auto written = writeLogBookPdf(path, flightsOf(c.flights), c.year, choice);
        ASSERT_TRUE(written) << written.error().message;
        EXPECT_EQ(*written, c.pages);
        const std::string pdf = readFile(path.toStdString());
        EXPECT_EQ(pdf.substr(0, 5), "%PDF-");
        EXPECT_EQ(pdfPageCount(pdf), std::size_t(c.pages));
        const QString text = pdfText(path);
        if (text.isEmpty())
            continue;
        EXPECT_EQ(text.contains("Ann Pilot"), c.flights > 0) << text.toStdString();
        EXPECT_EQ(text.count("Carried forward"), c.pages - 1);
        EXPECT_EQ(text.count("Brought forward"), c.pages - 1);
        EXPECT_TRUE(text.contains(QString("Page %1 of %1").arg(c.pages)));
        for (const QString& shown : c.shows)
            EXPECT_TRUE(text.contains(shown)) << shown.toStdString() << "\n" << text.toStdString();
        EXPECT_EQ(text.contains("Date (UTC)"), !c.offsetMinutes);
        if (c.flights == 100 && !c.year) {
            EXPECT_TRUE(text.contains("100 flights")) << text.toStdString();
            EXPECT_TRUE(text.contains("100:00")) << "the total hours";
            EXPECT_TRUE(text.contains("A glider whose") && text.contains("\u2026")) << text.toStdString();
            EXPECT_FALSE(text.contains("printed book"));
            EXPECT_TRUE(text.contains("Strong thermals over the ridge, then a glide to the lake")) << "whole";
            EXPECT_TRUE(text.contains("and on: a comment of the whole")) << "cut, but far from its start\n" << text.toStdString();
            EXPECT_FALSE(text.contains("its last words"));
        }
    }
    EXPECT_FALSE(writeLogBookPdf(QString::fromStdString(scratch.path() + "/missing/book.pdf"), flightsOf(1), std::nullopt));
    EXPECT_EQ(logBookValueText(LogBookQuantity::Duration, 3599), "1:00");
    EXPECT_EQ(logBookValueText(LogBookQuantity::Duration, 89), "0:01");
    EXPECT_EQ(logBookValueText(LogBookQuantity::Distance, 20050), "20.1");
    EXPECT_EQ(logBookValueText(LogBookQuantity::Date, 1704067199), "2023-12-31");
}

// The names dialogs change what the window shows through the library's journal: a glider
// renamed and one merged into it leave one name in the filter and the totals; a site
// named in its dialog is a filter choice that keeps exactly its flights, and the search
// finds it.
TEST(LibraryWindow, GliderAndSiteNamesFromTheirDialogs)
{
    SharedLibrary shared;
    LibraryWindow window(*shared.library);
    window.resize(1500, 700);

    GliderNamesDialog* gliders = window.openGliderNames();
    const auto select = [](QTreeWidget& list, const QString& text) {
        for (int row = 0; row < list.topLevelItemCount(); ++row)
            if (list.topLevelItem(row)->text(0) == text)
                return list.setCurrentItem(list.topLevelItem(row)), true;
        return false;
    };
    gliders->askName = [](const QString&) { return std::optional<QString>(" ASG 29 "); };
    ASSERT_TRUE(select(gliders->list(), "ASG 29E"));
    ASSERT_TRUE(gliders->renameSelected());
    QStringList offered;
    gliders->askMergeTarget = [&](const QString&, const QStringList& others) {
        offered = others;
        return std::optional<QString>("ASG 29");
    };
    ASSERT_TRUE(select(gliders->list(), "ASG-29E (18m)"));
    ASSERT_TRUE(gliders->mergeSelected());
    EXPECT_TRUE(offered.contains("ASG 29") && !offered.contains("ASG-29E (18m)")) << offered.join(", ").toStdString();
    ASSERT_TRUE(select(gliders->list(), "ASG 29"));
    EXPECT_EQ(gliders->list().currentItem()->text(1), "2");
    EXPECT_EQ(gliders->list().topLevelItemCount(), 3) << "ASG 29, DUO DISCUS, GIN GLIDERS Explorer";
    const auto items = comboItems(window.gliderFilter());
    EXPECT_NE(std::find(items.begin(), items.end(), "ASG 29"), items.end());
    EXPECT_EQ(std::find(items.begin(), items.end(), "ASG 29E"), items.end());
    window.gliderFilter().setCurrentText("ASG 29");
    EXPECT_EQ(window.filterModel().rowCount(), 2);
    window.gliderFilter().setCurrentIndex(0);
    gliders->close();

    SiteNamesDialog* sites = window.openSiteNames();
    ASSERT_GT(sites->list().topLevelItemCount(), 1);
    sites->list().setCurrentItem(sites->list().topLevelItem(0));
    const int siteFlights = sites->list().topLevelItem(0)->text(1).toInt();
    sites->askName = [](const QString&, const QString&) { return std::optional<QString>("Home Hill"); };
    ASSERT_TRUE(sites->nameSelected());
    EXPECT_EQ(sites->list().topLevelItem(0)->text(0), "Home Hill");
    ASSERT_EQ(window.siteFilter().count(), 2) << "All sites, and the one named";
    window.siteFilter().setCurrentIndex(1);
    EXPECT_EQ(window.filterModel().rowCount(), siteFlights);
    for (const std::string& site : column(window, LibraryTableModel::Site))
        EXPECT_EQ(site, "Home Hill");
    window.reload();
    EXPECT_EQ(window.siteFilter().currentIndex(), 1) << "kept across a reload";
    EXPECT_EQ(window.filterModel().rowCount(), siteFlights);
    const auto bySite = totalsOf(window, 2);
    EXPECT_NE(std::find(bySite.begin(), bySite.end(), "Home Hill " + std::to_string(siteFlights)), bySite.end());
    window.siteFilter().setCurrentIndex(0);
    window.findChild<QLineEdit*>()->setText("home hill");
    EXPECT_EQ(window.filterModel().rowCount(), siteFlights) << "the search finds the site";
    window.findChild<QLineEdit*>()->clear();
    sites->close();
    // The pictures of the manual: the named site, then the same flights in imperial units
    // at their local times with the distance chart in miles.
    if (const QByteArray folder = qgetenv("CORVEX_SCREENSHOTS_DIR"); !folder.isEmpty()) {
        window.resize(1640, 640);
        window.show();
        QCoreApplication::processEvents();
        window.grab().save(QString::fromLocal8Bit(folder) + "/library-sites.png");
        // As the pilot sees the library once the background pass is through: scored
        // and analysed.
        ScoreFillOptions options;
        options.debrief = libraryDebriefMaker();
        ASSERT_TRUE(shared.library->fillScores(options));
        window.reload();
        window.setUnits(UnitSystem::Imperial, false);
        window.statisticsButton().setChecked(true);
        window.statisticsChart().setMeasure(StatisticsMeasure::Kilometres);
        window.resize(1960, 760);
        QCoreApplication::processEvents();
        window.grab().save(QString::fromLocal8Bit(folder) + "/library-imperial.png");
    }
}

namespace {

// A flight out to a thermal and back, under a pilot's name, written where a test
// compares it: the same course from the same place, so that two of them climb in the
// same air when their times overlap.
std::string writeOutAndBack(const std::string& folder, const std::string& pilot, double climbMs, std::int64_t startTime)
{
    corvex::testing::SyntheticFlight flight;
    flight.startTime = startTime;
    flight.ground(180).glide(240, 90).thermal(5, climbMs).glide(240, 270).glide(240, 270).ground(180);
    std::string text = flight.igcText();
    text.insert(text.find('\n') + 1, "HFPLTPILOTINCHARGE:" + pilot + "\r\n");
    const std::string path = folder + "/" + pilot + ".igc";
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

double numberIn(const QString& text)
{
    static const QRegularExpression number("[-+]?[0-9][0-9,]*(\\.[0-9]+)?");
    return number.match(text).captured(0).remove(',').toDouble();
}

} // namespace

// Two pilots through the same thermal a minute apart: the figures side by side, the
// thermal they shared and who climbed faster, the barograms on one axis by the clock or
// by the take-offs.
TEST(CompareWindow, FiguresSharedThermalAndAlignment)
{
    using Figure = CompareWindow::Figure;
    TemporaryFolder folder;
    const std::int64_t start = 1719820800 + 10 * 3600;
    CompareWindow window({ { writeOutAndBack(folder.path(), "Anna", 2.0, start), std::nullopt },
        { writeOutAndBack(folder.path(), "Ben", 1.5, start + 60), std::nullopt },
        { folder.path() + "/missing.igc", std::nullopt } });
    ASSERT_EQ(window.flightCount(), 3u);
    EXPECT_TRUE(window.isDebriefing());
    EXPECT_EQ(window.figureCell(Figure::Thermals, 0), "–") << "not before the debrief";
    EXPECT_FALSE(window.exportKmzButton().isEnabled()) << "until the writer is wired";
    QSignalSpy ready(&window, &CompareWindow::debriefsReady);
    ASSERT_TRUE(waitFor([&] { return !window.isDebriefing(); }));
    EXPECT_EQ(ready.count(), 1);

    EXPECT_EQ(window.flight(0).pilot, "Anna");
    EXPECT_EQ(window.flight(1).pilot, "Ben");
    EXPECT_FALSE(window.flight(2).loadError.isEmpty());
    EXPECT_NE(window.status().text().indexOf("missing.igc is left out"), -1) << window.status().text().toStdString();
    EXPECT_TRUE(window.status().text().startsWith("1 thermal climbed by two or more")) << window.status().text().toStdString();
    EXPECT_NE(window.flight(0).colour, window.flight(1).colour);
    EXPECT_EQ(window.trackLayer(1).singleColour(), window.flight(1).colour);
    EXPECT_NE(window.legend().text().indexOf("Ben"), -1);

    // What was flown, column by column; the unreadable file has a column of dashes.
    struct Row {
        Figure figure;
        const char* anna;
        const char* ben;
    };
    const Row rows[] = {
        { Figure::Thermals, "1", "1" },
        { Figure::FailedAttempts, "0", "0" },
        { Figure::AvgClimb, "+2.0 m/s", "+1.5 m/s" },
        { Figure::Left, "0 %", "0 %" },
        { Figure::Score, "–", "–" },
    };
    for (const Row& row : rows) {
        EXPECT_EQ(window.figureCell(row.figure, 0), row.anna) << int(row.figure);
        EXPECT_EQ(window.figureCell(row.figure, 1), row.ben) << int(row.figure);
        EXPECT_EQ(window.figureCell(row.figure, 2), "–") << int(row.figure);
        EXPECT_EQ(window.figuresTable().item(int(row.figure), 1)->text(), row.ben);
    }
    // Five turns of 25 s: 250 m at 2 m/s, 188 m at 1.5.
    EXPECT_NEAR(numberIn(window.figureCell(Figure::HeightGained, 0)), 250, 30);
    EXPECT_NEAR(numberIn(window.figureCell(Figure::HeightGained, 1)), 188, 30);
    EXPECT_EQ(window.figureCell(Figure::Duration, 0), window.figureCell(Figure::Duration, 1)) << "the same course flown";
    EXPECT_EQ(window.figuresTable().horizontalHeaderItem(0)->text(), "Anna");
    EXPECT_EQ(window.figuresTable().horizontalHeaderItem(0)->foreground().color(), window.flight(0).colour);

    ASSERT_EQ(window.sharedThermals().size(), 1u);
    QTableWidget& shared = window.sharedThermalsTable();
    ASSERT_EQ(shared.rowCount(), 1);
    EXPECT_TRUE(shared.item(0, 1)->text().startsWith("▲ +2.0 m/s / +")) << shared.item(0, 1)->text().toStdString();
    EXPECT_TRUE(shared.item(0, 1)->font().bold());
    EXPECT_FALSE(shared.item(0, 2)->font().bold());
    EXPECT_EQ(shared.item(0, 3)->text(), "–");
    // 2.0 over 1.5 flown: a third faster, as measured from the fixes.
    const QRegularExpressionMatch verdict = QRegularExpression("^Anna \\+0\\.[456] m/s \\(([0-9]+) %\\)$").match(shared.item(0, 4)->text());
    ASSERT_TRUE(verdict.hasMatch()) << shared.item(0, 4)->text().toStdString();
    EXPECT_NEAR(verdict.captured(1).toInt(), 33, 6);

    // In feet the cells say so; back in metres.
    window.setUnits(UnitSystem::Imperial, true);
    EXPECT_TRUE(window.figureCell(Figure::HeightGained, 0).endsWith(" ft"));
    EXPECT_TRUE(QRegularExpression("^\\+2[6-9][0-9] ft/min / \\+[0-9]+ ft$").match(shared.item(0, 2)->text()).hasMatch())
        << shared.item(0, 2)->text().toStdString();
    window.setUnits(UnitSystem::Metric, true);

    // By the clock Ben's curve starts a minute after Anna's; by take-off they coincide.
    BarogramView& barogram = window.barogram();
    ASSERT_EQ(barogram.overlaySeries().size(), 2u) << "the unreadable file has no curve";
    const auto firstOf = [&](std::size_t series) { return barogram.overlaySeries()[series].samples.front().time; };
    EXPECT_EQ(window.timeShift(1), 0);
    EXPECT_EQ(firstOf(1) - firstOf(0), 60);
    EXPECT_EQ(barogram.overlaySeries()[1].colour, window.flight(1).colour);
    window.alignChoice().setCurrentIndex(1);
    EXPECT_EQ(window.alignment(), CompareWindow::Alignment::Takeoff);
    const std::int64_t takeoffGap = window.flight(1).figures.takeoffTime - window.flight(0).figures.takeoffTime;
    EXPECT_NEAR(double(takeoffGap), 60, 5);
    EXPECT_EQ(window.timeShift(1), -takeoffGap);
    EXPECT_EQ(window.timeShift(0), 0);
    EXPECT_EQ(firstOf(1) - firstOf(0), 60 - takeoffGap);
    // The replay: from the first take-off to the last landing on the window's axis, every
    // glider at its own moment, the barogram's cursor on the lead's fix.
    ReplayBar& replay = window.replayBar();
    const auto& anna = window.flight(0).figures;
    const auto& ben = window.flight(1).figures;
    EXPECT_EQ(replay.spanBegin(), anna.takeoffTime);
    EXPECT_EQ(replay.spanEnd(), std::max(anna.landingTime, ben.landingTime - takeoffGap));
    EXPECT_EQ(window.gliderLayer().gliderCount(), 2u);
    replay.setTime(double(anna.takeoffTime + 300));
    const auto annaState = window.gliderLayer().gliderState(0);
    const auto benState = window.gliderLayer().gliderState(1);
    ASSERT_TRUE(annaState && benState);
    EXPECT_NEAR(double((*window.flight(0).track)[annaState->fixIndex].time), double(anna.takeoffTime + 300), 1);
    EXPECT_NEAR(double((*window.flight(1).track)[benState->fixIndex].time), double(ben.takeoffTime + 300), 1);
    ASSERT_TRUE(barogram.cursorIndex());
    EXPECT_NEAR(double((*window.flight(0).track)[*barogram.cursorIndex()].time), double(anna.takeoffTime + 300), 1);
    EXPECT_EQ(replay.thermalStarts().size(), 2u);
    // The lead's barogram keeps its own clock; the shared thermals stay on UTC.
    EXPECT_EQ(barogram.overlaySeries()[0].samples.front().time, window.flight(0).track->front().time);
    EXPECT_EQ(window.sharedThermals().size(), 1u);

    // Each flight's curve in its colour; without the overlays, the one plain curve.
    barogram.resize(900, 240);
    const auto pixelsOf = [](const QImage& image, const QColor& colour) {
        int count = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor shown = image.pixelColor(x, y);
                count += std::abs(shown.red() - colour.red()) + std::abs(shown.green() - colour.green())
                        + std::abs(shown.blue() - colour.blue()) < 40;
            }
        return count;
    };
    barogram.setCursorIndex(std::nullopt); // its line is red too
    const QImage withBoth = barogram.grab().toImage();
    EXPECT_GT(pixelsOf(withBoth, window.flight(0).colour), 100);
    EXPECT_GT(pixelsOf(withBoth, window.flight(1).colour), 100);
    auto overlays = barogram.overlaySeries();
    barogram.setOverlaySeries({});
    const QImage alone = barogram.grab().toImage();
    EXPECT_EQ(pixelsOf(alone, window.flight(0).colour), 0);
    EXPECT_EQ(pixelsOf(alone, window.flight(1).colour), 0);
    EXPECT_GT(pixelsOf(alone, QColor(30, 90, 170)), 100) << "the single flight's own curve";
    barogram.setOverlaySeries(std::move(overlays));

    // Shown, the map follows the lead's glider until the pilot turns the wheel over it.
    window.resize(1200, 850);
    window.show();
    QCoreApplication::processEvents();
    window.fitTracks();
    window.map().zoomIn();
    window.map().zoomIn();
    ASSERT_TRUE(replay.isFollowing());
    replay.setTime(double(anna.takeoffTime));
    const auto centreOf = [&] {
        const MapRect rect = window.map().visibleMapRect();
        return MapPoint { rect.x + rect.width / 2, rect.y + rect.height / 2 };
    };
    const MapPoint atTakeoff = centreOf();
    replay.setTime(double(anna.landingTime - 60));
    EXPECT_NE(centreOf().x, atTakeoff.x) << "the view went with the glider";
    const QPointF cursor(300, 300);
    QWheelEvent wheel(cursor, window.map().mapToGlobal(cursor), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
        Qt::NoScrollPhase, false);
    QApplication::sendEvent(&window.map(), &wheel);
    EXPECT_FALSE(replay.isFollowing());
    const MapPoint moved = centreOf();
    replay.setTime(double(anna.takeoffTime));
    EXPECT_EQ(centreOf().x, moved.x);
    EXPECT_EQ(centreOf().y, moved.y);

    int wired = 0;
    window.setExportKmz([&](CompareWindow& exported) { wired += &exported == &window; });
    ASSERT_TRUE(window.exportKmzButton().isEnabled());
    window.exportKmzButton().click();
    EXPECT_EQ(wired, 1);
}

// Closed or deleted while the debriefs run: they stop, and nothing is posted to a
// window that is gone.
TEST(CompareWindow, ClosedDuringTheDebriefs)
{
    TemporaryFolder folder;
    std::vector<CompareWindow::Source> sources;
    for (int i = 0; i < 6; ++i) {
        std::ofstream(folder.path() + "/wander" + std::to_string(i) + ".igc") << corvex::testing::wanderingFlightIgc(6, "XWD00" + std::to_string(i));
        sources.push_back({ folder.path() + "/wander" + std::to_string(i) + ".igc", std::nullopt });
    }
    auto* deleted = new CompareWindow(sources);
    EXPECT_TRUE(deleted->isDebriefing());
    delete deleted;

    QPointer<CompareWindow> closed = new CompareWindow(sources);
    closed->setAttribute(Qt::WA_DeleteOnClose);
    closed->show();
    closed->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    EXPECT_TRUE(closed.isNull());
}

// "Compare" takes the selected rows; "Compare Files…" adds files from outside, which
// stay outside: the library's flights and totals are as they were.
TEST(LibraryWindow, CompareRowsAndFilesOutsideTheLibrary)
{
    SharedLibrary shared;
    LibraryWindow window(*shared.library);
    const auto select = [&](std::initializer_list<int> rows) {
        window.table().clearSelection();
        for (const int row : rows)
            window.table().selectionModel()->select(window.filterModel().index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    };
    EXPECT_TRUE(window.table().actions().contains(&window.compareAction()));
    EXPECT_FALSE(window.compareAction().isEnabled()) << "nothing selected";
    select({ 0 });
    EXPECT_FALSE(window.compareAction().isEnabled()) << "one flight";
    EXPECT_EQ(window.compareSelected(), nullptr);
    select({ 0, 2 });
    EXPECT_TRUE(window.compareAction().isEnabled());
    EXPECT_FALSE(window.editAction().isEnabled()) << "the other actions keep to one flight";
    const auto chosen = window.selectedFlights();
    ASSERT_EQ(chosen.size(), 2u);

    const auto flightsBefore = valueOf(shared.library->index().flights());
    const auto totalsBefore = totalsOf(window, 0);
    TemporaryFolder folder;
    const std::string outside = writeOutAndBack(folder.path(), "Guest", 1.8, 1719820800 + 10 * 3600);
    int asked = 0;
    window.chooseCompareFiles = [&] {
        ++asked;
        return QStringList { QString::fromStdString(outside) };
    };
    window.compareFilesAction().trigger();
    EXPECT_EQ(asked, 1);
    const auto windows = QApplication::topLevelWidgets();
    CompareWindow* compare = nullptr;
    for (QWidget* widget : windows)
        if (auto* found = qobject_cast<CompareWindow*>(widget))
            compare = found;
    ASSERT_TRUE(compare);
    ASSERT_EQ(compare->flightCount(), 3u);
    for (std::size_t i = 0; i < 2; ++i) {
        ASSERT_TRUE(compare->flight(i).source.stored);
        EXPECT_EQ(compare->flight(i).source.stored->id, chosen[i].id);
    }
    EXPECT_FALSE(compare->flight(2).source.stored);
    EXPECT_EQ(compare->flight(2).pilot, "Guest");
    ASSERT_TRUE(waitFor([&] { return !compare->isDebriefing(); }));
    EXPECT_EQ(compare->figureCell(CompareWindow::Figure::Thermals, 2), "1");
    // "Export KMZ…": the three flights in one file, each in its colour in the window.
    ASSERT_TRUE(compare->exportKmzButton().isEnabled());
    const std::string kmzPath = folder.path() + "/comparison.kmz";
    window.chooseSaveFile = [&](const QString&, const QString& suggested, const QString&) {
        EXPECT_EQ(suggested, "Comparison.kmz");
        return QString::fromStdString(kmzPath);
    };
    compare->exportKmzButton().click();
    int zipError = 0;
    zip_t* archive = zip_open(kmzPath.c_str(), ZIP_RDONLY, &zipError);
    ASSERT_TRUE(archive) << zipError;
    zip_stat_t stat;
    ASSERT_EQ(zip_stat(archive, "doc.kml", 0, &stat), 0);
    std::string kml(static_cast<std::size_t>(stat.size), '\0');
    zip_file_t* entry = zip_fopen(archive, "doc.kml", 0);
    EXPECT_EQ(zip_fread(entry, kml.data(), stat.size), static_cast<zip_int64_t>(stat.size));
    zip_fclose(entry);
    EXPECT_GE(zip_name_locate(archive, "legend.png", 0), 0);
    zip_discard(archive);
    std::size_t tracks = 0;
    for (std::size_t at = 0; (at = kml.find("<gx:Track>", at)) != std::string::npos; ++at)
        ++tracks;
    EXPECT_EQ(tracks, 3u);
    const QColor guest = compare->flight(2).colour;
    const std::string guestColour = QString::asprintf("ff%02x%02x%02x", guest.blue(), guest.green(), guest.red()).toStdString();
    EXPECT_NE(kml.find("<color>" + guestColour + "</color>"), std::string::npos) << guestColour;
    EXPECT_NE(kml.find("<name>Guest"), std::string::npos);
    // A library flight shows its stored score.
    if (chosen[0].scorePoints) {
        EXPECT_TRUE(compare->figureCell(CompareWindow::Figure::Score, 0).startsWith(scoreText(chosen[0])));
    }
    compare->close();

    window.reload();
    EXPECT_EQ(valueOf(shared.library->index().flights()).size(), flightsBefore.size());
    EXPECT_EQ(totalsOf(window, 0), totalsBefore);
    EXPECT_TRUE(std::filesystem::exists(outside)) << "read where it is";

    // The selected flights alone, and too few flights to compare.
    CompareWindow* rows = window.compareSelected();
    ASSERT_TRUE(rows);
    EXPECT_EQ(rows->flightCount(), 2u);
    rows->close();
    window.table().clearSelection();
    EXPECT_EQ(window.compareFiles({ QString::fromStdString(outside) }), nullptr);
    EXPECT_TRUE(window.statusLabel().text().startsWith("Choose two flights")) << window.statusLabel().text().toStdString();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
