// The library window and the flight view over a real library of the shared flights.
#include "flights/IgcFlight.h"
#include "library/FlightLibrary.h"
#include "library/ui/BarogramView.h"
#include "library/ui/FlightWindow.h"
#include "library/ui/LibraryTableModel.h"
#include "library/ui/LibraryWindow.h"
#include "support/TemporaryFolder.h"
#include "support/TestFiles.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QTableView>
#include <QTreeWidget>
#include <QRegularExpression>
#include <QUrl>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <fstream>

using namespace corvex;
using namespace corvex::library;
using corvex::testing::readFile;
using corvex::testing::TemporaryFolder;

namespace {

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

std::vector<std::string> column(LibraryWindow& window, int column)
{
    std::vector<std::string> values;
    for (int row = 0; row < window.filterModel().rowCount(); ++row)
        values.push_back(window.filterModel().index(row, column).data().toString().toStdString());
    return values;
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

    ASSERT_EQ(shared.library->fillScores().scored, 6u);
    window.reload();
    window.table().sortByColumn(LibraryTableModel::Score, Qt::DescendingOrder);
    std::vector<double> shown;
    for (const std::string& cell : scoreCells())
        shown.push_back(std::stod(cell));
    ASSERT_EQ(shown.size(), 6u);
    EXPECT_TRUE(std::is_sorted(shown.rbegin(), shown.rend())) << "sorted as numbers";
    EXPECT_GT(shown.back(), 0);
    const QString tip = window.filterModel().index(0, LibraryTableModel::Score).data(Qt::ToolTipRole).toString();
    EXPECT_TRUE(tip.contains(QRegularExpression("^[0-9.]+ points, (free flight|free triangle|FAI triangle|closed free triangle|closed FAI triangle), [0-9.]+ km")))
        << tip.toStdString();
    EXPECT_TRUE(window.statusLabel().text().contains(" points. Library: ")) << window.statusLabel().text().toStdString();

    std::map<std::string, double> sums;
    for (const LibraryFlight& flight : shared.library->index().flights())
        sums[std::to_string(flight.year())] += *flight.scorePoints;
    const auto points = yearPoints();
    ASSERT_EQ(points.size(), sums.size());
    for (const auto& [year, sum] : sums)
        EXPECT_EQ(points.at(year), QString::number(sum, 'f', 0).toStdString()) << year;

    // A flight of 2016 waits for the pass again (the solver changed): its cell is
    // empty and its year's points are marked as partial.
    const auto of2016 = shared.library->index().flights(FlightFilter { 2016, std::nullopt, {} });
    ASSERT_EQ(of2016.size(), 2u);
    ASSERT_TRUE(shared.library->index().setScore(of2016.front().id, { std::nullopt, {}, std::nullopt, 0 }));
    window.reload();
    const double rest = *of2016.back().scorePoints;
    EXPECT_EQ(yearPoints().at("2016"), QString::number(rest, 'f', 0).toStdString() + "+");
    const auto row = window.model().rowOfId(of2016.front().id);
    ASSERT_TRUE(row);
    EXPECT_EQ(window.model().index(*row, LibraryTableModel::Score).data().toString(), "");

    const std::string csv = libraryCsv(shared.library->index().flights());
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
    text.replace(0, 7, "AXGD001"); // another logger's flight, not the same one again
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
}

// A flight whose file went away says so instead of a map; the barogram's hover finds
// the fix under the pointer from one edge to the other.
TEST(FlightWindow, MissingFileAndBarogramEdges)
{
    SharedLibrary shared;
    const auto flights = shared.library->index().flights();
    ASSERT_FALSE(flights.empty());
    LibraryFlight gone = flights.front();
    std::filesystem::remove(shared.library->pathOf(gone));
    FlightWindow missing(*shared.library, gone);
    EXPECT_FALSE(missing.loadError().isEmpty());
    EXPECT_TRUE(missing.track().empty());

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
}
