#include "library/qt/LogBookPdf.h"

#include "library/LogBookStatistics.h"

#include <QFile>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>

namespace corvex::library {

namespace {

constexpr int resolution = 300; // dots per inch of the sheet's coordinates
// A4 across: a comment has room for a sentence beside the figures.
constexpr double pageWidthMm = 297;
constexpr double pageHeightMm = 210;
constexpr double marginMm = 15;
constexpr double rowMm = 5.6;
constexpr double titleMm = 16;
constexpr double footerMm = 8;

double mm(double value) { return value * resolution / 25.4; }

struct Column {
    const char* title;
    double widthMm;
    Qt::Alignment alignment;
};
// 267 mm between the margins; the comment takes what the others leave (0 here).
constexpr std::array columns {
    Column { "No.", 12, Qt::AlignRight },
    Column { "Date", 24, Qt::AlignLeft },
    Column { "Site", 42, Qt::AlignLeft },
    Column { "Glider", 38, Qt::AlignLeft },
    Column { "Duration", 18, Qt::AlignRight },
    Column { "Distance", 30, Qt::AlignRight },
    Column { "Comment", 0, Qt::AlignLeft },
};
constexpr std::size_t commentColumn = columns.size() - 1;

double columnWidthMm(std::size_t i)
{
    if (i != commentColumn)
        return columns[i].widthMm;
    double others = 0;
    for (std::size_t j = 0; j < commentColumn; ++j)
        others += columns[j].widthMm;
    return pageWidthMm - 2 * marginMm - others;
}

class SheetPainter {
public:
    SheetPainter(QPainter& painter, double left, double width)
        : m_painter(painter)
        , m_left(left)
        , m_width(width)
    {
    }

    // One line of cells at `top`; a cell's text is cut to its width.
    void row(double top, const std::array<QString, columns.size()>& cells, bool bold, bool shaded)
    {
        QFont font = m_painter.font();
        font.setBold(bold);
        m_painter.setFont(font);
        const QFontMetricsF metrics(font, m_painter.device());
        const double height = mm(rowMm);
        if (shaded)
            m_painter.fillRect(QRectF(m_left, top, m_width, height), QColor(235, 235, 235));
        double x = m_left;
        const double pad = mm(1);
        for (std::size_t i = 0; i < columns.size(); ++i) {
            const double width = mm(columnWidthMm(i));
            const QRectF cell(x + pad, top, width - 2 * pad, height);
            m_painter.drawText(cell, int(columns[i].alignment | Qt::AlignVCenter),
                metrics.elidedText(cells[i], Qt::ElideRight, cell.width()));
            x += width;
        }
        m_painter.setPen(QPen(QColor(160, 160, 160), mm(0.15)));
        m_painter.drawLine(QPointF(m_left, top + height), QPointF(m_left + m_width, top + height));
        m_painter.setPen(Qt::black);
    }

private:
    QPainter& m_painter;
    double m_left, m_width;
};

std::array<QString, columns.size()> sumsRow(const QString& label, const LogBookSums& sums, UnitSystem units)
{
    return { QString(), QString(), label, QString::number(sums.flights) + (sums.flights == 1 ? " flight" : " flights"),
        logBookValueText(LogBookQuantity::Duration, double(sums.seconds)),
        logBookValueText(LogBookQuantity::Distance, sums.trackMetres, units), QString() };
}

} // namespace

QString logBookValueText(LogBookQuantity quantity, double value, UnitSystem units)
{
    switch (quantity) {
    case LogBookQuantity::Date: {
        const std::int64_t days = std::int64_t(std::floor(value / 86400.0));
        const std::chrono::year_month_day day { std::chrono::sys_days(std::chrono::days(days)) };
        return QString::asprintf("%04d-%02u-%02u", int(day.year()), unsigned(day.month()), unsigned(day.day()));
    }
    case LogBookQuantity::Duration: {
        const std::int64_t minutes = std::int64_t(std::llround(std::max(value, 0.0) / 60.0));
        return QString::asprintf("%lld:%02lld", static_cast<long long>(minutes / 60), static_cast<long long>(minutes % 60));
    }
    case LogBookQuantity::Distance:
        return QString::fromStdString(quantityNumber(Quantity::Distance, value, units));
    }
    return {};
}

LibraryResult<int> writeLogBookPdf(
    const QString& path, const std::vector<LibraryFlight>& flights, std::optional<int> year, const LogBookChoice& choice)
{
    // Each take-off moved to its local clock: its date, and the year it counts in, are
    // the ones the pilot lived.
    std::vector<LibraryFlight> shifted = flights;
    if (choice.takeoffOffset)
        for (LibraryFlight& flight : shifted)
            flight.takeoff += std::int64_t { choice.takeoffOffset(flight) } * 60;
    const std::vector<LogBookEntry> entries = logBookEntries(std::move(shifted), year);
    const double tableMm = pageHeightMm - 2 * marginMm - titleMm - footerMm - 3 * rowMm; // header, brought and carried forward
    const auto pages = logBookPages(entries, std::size_t(std::max(1.0, std::floor(tableMm / rowMm))));

    // Written beside the file and moved over it, so a failed run never leaves half a book
    // where a whole one was.
    const QString partial = path + ".part";
    {
        QPdfWriter writer(partial);
        writer.setResolution(resolution);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape, QMarginsF(0, 0, 0, 0)));
        writer.setTitle("Log book");
        writer.setCreator("Corvex Vario");
        QPainter painter;
        if (!painter.begin(&writer))
            return libraryFailure(LibraryErrorKind::Io, "cannot write " + path.toStdString());
        QFont base("Sans");
        base.setPointSizeF(8.5);
        painter.setFont(base);
        const double left = mm(marginMm), width = mm(pageWidthMm - 2 * marginMm);
        SheetPainter sheet(painter, left, width);
        const QString pilot = QString::fromStdString(logBookPilot(flights));
        const QString title = "Log Book" + (pilot.isEmpty() ? QString() : " \u2014 " + pilot) + " \u2014 "
            + (year ? QString::number(*year) : QString("all years"));
        std::array<QString, columns.size()> header;
        for (std::size_t i = 0; i < columns.size(); ++i)
            header[i] = columns[i].title;
        header[1] = choice.takeoffOffset ? QString("Date") : QString("Date (UTC)");
        header[5] = QString("Distance (%1)").arg(unitLabel(Quantity::Distance, choice.units));
        for (std::size_t p = 0; p < pages.size(); ++p) {
            if (p > 0)
                writer.newPage();
            const LogBookPage& page = pages[p];
            QFont titleFont = base;
            titleFont.setPointSizeF(14);
            titleFont.setBold(true);
            painter.setFont(titleFont);
            painter.drawText(QRectF(left, mm(marginMm), width, mm(titleMm - 4)), int(Qt::AlignLeft | Qt::AlignVCenter),
                QFontMetricsF(titleFont, &writer).elidedText(title, Qt::ElideRight, width));
            painter.setFont(base);
            double top = mm(marginMm + titleMm);
            sheet.row(top, header, true, true);
            top += mm(rowMm);
            if (p > 0) {
                sheet.row(top, sumsRow("Brought forward", page.broughtForward, choice.units), true, false);
                top += mm(rowMm);
            }
            for (std::size_t i = page.first; i < page.first + page.count; ++i) {
                const LogBookEntry& entry = entries[i];
                sheet.row(top,
                    { QString::number(entry.number), logBookValueText(LogBookQuantity::Date, double(entry.takeoff)),
                        QString::fromStdString(entry.site), QString::fromStdString(entry.glider),
                        logBookValueText(LogBookQuantity::Duration, double(entry.seconds)),
                        logBookValueText(LogBookQuantity::Distance, entry.trackMetres, choice.units),
                        QString::fromStdString(entry.comment).simplified() },
                    false, false);
                top += mm(rowMm);
            }
            const bool last = p + 1 == pages.size();
            sheet.row(top, sumsRow(last ? "Total" : "Carried forward", page.carriedForward, choice.units), true, true);
            painter.setFont(base);
            painter.drawText(QRectF(left, mm(pageHeightMm - marginMm - footerMm), width, mm(footerMm)),
                int(Qt::AlignHCenter | Qt::AlignBottom), QString("Page %1 of %2").arg(p + 1).arg(pages.size()));
        }
        if (!painter.end())
            return libraryFailure(LibraryErrorKind::Io, "cannot write " + path.toStdString());
    }
    QFile::remove(path);
    if (!QFile::rename(partial, path)) {
        QFile::remove(partial);
        return libraryFailure(LibraryErrorKind::Io, "cannot write " + path.toStdString());
    }
    return int(pages.size());
}

} // namespace corvex::library
