#include "library/ui/BarogramView.h"

#include "base/Format.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <climits>
#include <cmath>
#include <ctime>
#include <limits>

namespace corvex::library {

namespace {

constexpr int leftMargin = 56;
constexpr int rightMargin = 12;
constexpr int topMargin = 10;
constexpr int bottomMargin = 22;

// A round step for the altitude axis: 1, 2 or 5 times a power of ten, so that about
// four lines fit.
int altitudeStep(int range)
{
    const double raw = std::max(1, range) / 4.0;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double factor : { 1.0, 2.0, 5.0, 10.0 })
        if (raw <= factor * power)
            return std::max(1, static_cast<int>(factor * power));
    return static_cast<int>(10 * power);
}

QString clockText(std::int64_t utc) { return QString::fromStdString(utcTimeText(utc, "%H:%M")); }

// The small graph takes this share of the plot, below a gap, when the widget is tall
// enough for both to be read.
constexpr double graphShare = 0.34;
constexpr int graphGap = 8;
constexpr int graphMinimumPlot = 110;

const QColor varioColour(190, 60, 40);
const QColor speedColour(40, 130, 60);

// The graph's value in the quantity the pilot reads it in, as a number with its unit.
QString graphValueText(BarogramView::Graph graph, double value, UnitSystem units)
{
    if (graph == BarogramView::Graph::GroundSpeed)
        return QString::fromStdString(quantityText(Quantity::Speed, value / 3.6, units));
    const std::string number = quantityNumber(Quantity::Vario, value, units);
    return QString::fromStdString((number.front() == '-' ? "" : "+") + number + " " + unitLabel(Quantity::Vario, units));
}

} // namespace

BarogramView::BarogramView(QWidget* parent)
    : QWidget(parent)
{
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAccessibleName(tr("Barogram"));
}

void BarogramView::setSamples(std::vector<Sample> samples)
{
    m_samples = std::move(samples);
    m_cursor.reset();
    if (m_graphValues.size() != m_samples.size()) {
        m_graph = Graph::None;
        m_graphValues.clear();
    }
    setAltitudeRange();
    renderCurve();
    update();
}

void BarogramView::setOverlaySeries(std::vector<Series> series)
{
    m_overlays = std::move(series);
    setAltitudeRange();
    renderCurve();
    update();
}

std::int64_t BarogramView::firstTime() const
{
    std::int64_t first = m_samples.empty() ? std::numeric_limits<std::int64_t>::max() : m_samples.front().time;
    for (const Series& series : m_overlays)
        if (!series.samples.empty())
            first = std::min(first, series.samples.front().time);
    return first;
}

std::int64_t BarogramView::lastTime() const
{
    std::int64_t last = m_samples.empty() ? std::numeric_limits<std::int64_t>::min() : m_samples.back().time;
    for (const Series& series : m_overlays)
        if (!series.samples.empty())
            last = std::max(last, series.samples.back().time);
    return last;
}

bool BarogramView::hasTimeAxis() const { return m_samples.size() >= 2 && lastTime() > firstTime(); }

void BarogramView::setAltitudeRange()
{
    if (m_samples.empty()) {
        m_lowest = 0;
        m_highest = 1;
        return;
    }
    const auto [lowSample, highSample] = std::minmax_element(
        m_samples.begin(), m_samples.end(), [](const Sample& a, const Sample& b) { return a.altitude < b.altitude; });
    double low = lowSample->altitude;
    double high = highSample->altitude;
    for (const Series& series : m_overlays)
        for (const Sample& sample : series.samples) {
            low = std::min<double>(low, sample.altitude);
            high = std::max<double>(high, sample.altitude);
        }
    // The valleys under the track belong in the picture too.
    if (m_ground.size() == m_samples.size())
        for (const double ground : m_ground)
            if (std::isfinite(ground))
                low = std::min(low, ground);
    const int step = altitudeStep(static_cast<int>(std::lround(high - low)));
    m_lowest = static_cast<int>(std::floor(low / step)) * step;
    m_highest = std::max(m_lowest + step, static_cast<int>(std::ceil(high / step)) * step);
}

void BarogramView::setGround(std::vector<double> ground)
{
    m_ground = std::move(ground);
    setAltitudeRange();
    renderCurve();
    update();
}

void BarogramView::setUnits(UnitSystem units, int clockOffsetMinutes)
{
    m_units = units;
    m_clockOffset = std::int64_t { clockOffsetMinutes } * 60;
    m_curve = {};
    update();
}

void BarogramView::setBands(std::vector<Band> bands)
{
    m_bands = std::move(bands);
    renderCurve();
    update();
}

void BarogramView::setPhaseBands(std::vector<Band> bands)
{
    m_phaseBands = std::move(bands);
    // Drawn at the next paint: the debrief sets the bands and the graph together, and a
    // long flight's curve takes a frame or two to draw.
    m_curve = {};
    update();
}

void BarogramView::setHighlight(std::optional<Band> band)
{
    m_highlight = std::move(band);
    update();
}

void BarogramView::setGraph(Graph graph, std::vector<double> values)
{
    m_graph = values.size() == m_samples.size() && !values.empty() ? graph : Graph::None;
    m_graphValues = m_graph == Graph::None ? std::vector<double> {} : std::move(values);
    // Vario about zero, both ways alike; speed from zero. Round figures, so that the
    // axis reads at a glance; a wild value (a recorder's jump) is clamped, not scaled to.
    double extreme = 0;
    for (const double value : m_graphValues)
        if (std::isfinite(value))
            extreme = std::max(extreme, std::abs(value));
    if (m_graph == Graph::Vario) {
        m_graphHigh = std::clamp(std::ceil(extreme), 2.0, 10.0);
        m_graphLow = -m_graphHigh;
    } else {
        m_graphLow = 0;
        m_graphHigh = std::clamp(std::ceil(extreme / 20) * 20, 20.0, 300.0);
    }
    m_curve = {};
    update();
}

void BarogramView::setMarks(std::vector<Mark> marks)
{
    m_marks = std::move(marks);
    renderCurve();
    update();
}

void BarogramView::setCursorIndex(std::optional<std::size_t> index)
{
    if (index && *index >= m_samples.size())
        index.reset();
    if (index == m_cursor)
        return;
    m_cursor = index;
    update();
}

QRect BarogramView::fullArea() const
{
    return QRect(leftMargin, topMargin, std::max(1, width() - leftMargin - rightMargin),
        std::max(1, height() - topMargin - bottomMargin));
}

QRect BarogramView::plotArea() const
{
    const QRect full = fullArea();
    if (m_graph == Graph::None || full.height() < graphMinimumPlot)
        return full;
    const int graphHeight = static_cast<int>(full.height() * graphShare);
    return QRect(full.left(), full.top(), full.width(), full.height() - graphHeight - graphGap);
}

QRect BarogramView::graphArea() const
{
    const QRect full = fullArea();
    const QRect plot = plotArea();
    if (plot.height() == full.height())
        return {};
    return QRect(full.left(), plot.bottom() + 1 + graphGap, full.width(), full.bottom() - plot.bottom() - graphGap);
}

double BarogramView::yOfGraph(double value) const
{
    const QRect area = graphArea();
    const double fraction = (std::clamp(value, m_graphLow, m_graphHigh) - m_graphLow) / std::max(1e-9, m_graphHigh - m_graphLow);
    return area.bottom() - fraction * area.height();
}

double BarogramView::xOfTime(std::int64_t time) const
{
    const QRect area = plotArea();
    if (m_samples.size() < 2)
        return area.left();
    const std::int64_t first = firstTime();
    const double span = std::max<std::int64_t>(1, lastTime() - first);
    return area.left() + (time - first) / span * area.width();
}

double BarogramView::yOfAltitude(double altitude) const
{
    const QRect area = plotArea();
    return area.bottom() - (altitude - m_lowest) / std::max(1, m_highest - m_lowest) * area.height();
}

std::optional<std::size_t> BarogramView::indexAtX(int x) const
{
    if (m_samples.empty())
        return std::nullopt;
    const QRect area = plotArea();
    const double fraction = std::clamp((x - area.left()) / double(area.width()), 0.0, 1.0);
    const std::int64_t time = firstTime() + std::llround(fraction * double(lastTime() - firstTime()));
    const auto after = std::lower_bound(
        m_samples.begin(), m_samples.end(), time, [](const Sample& sample, std::int64_t t) { return sample.time < t; });
    if (after == m_samples.end())
        return m_samples.size() - 1;
    if (after != m_samples.begin() && time - std::prev(after)->time < after->time - time)
        return static_cast<std::size_t>(std::prev(after) - m_samples.begin());
    return static_cast<std::size_t>(after - m_samples.begin());
}

void BarogramView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    renderCurve();
}

void BarogramView::renderCurve()
{
    if (width() <= 0 || height() <= 0)
        return;
    const qreal ratio = devicePixelRatioF();
    m_curve = QPixmap(size() * ratio);
    m_curve.setDevicePixelRatio(ratio);
    m_curve.fill(palette().color(QPalette::Base));
    QPainter painter(&m_curve);
    const QRect area = plotArea();
    const QRect full = fullArea();
    const QColor text = palette().color(QPalette::Text);

    for (const auto* bands : { &m_phaseBands, &m_bands })
        for (const Band& band : *bands) {
            const double left = std::max<double>(area.left(), xOfTime(band.begin));
            const double right = std::min<double>(area.right(), xOfTime(band.end));
            if (right > left)
                painter.fillRect(QRectF(left, full.top(), std::max(1.0, right - left), full.height()), band.colour);
        }

    // Altitude lines at round values.
    painter.setFont(font());
    const int step = altitudeStep(m_highest - m_lowest);
    QColor grid = text;
    grid.setAlpha(40);
    const QString unit = QLatin1Char(' ') + QString::fromLatin1(unitLabel(Quantity::Altitude, m_units));
    if (m_units == UnitSystem::Metric) {
        for (int altitude = m_lowest; altitude <= m_highest; altitude += step) {
            const double y = yOfAltitude(altitude);
            painter.setPen(grid);
            painter.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
            painter.setPen(text);
            painter.drawText(QRectF(0, y - 8, leftMargin - 6, 16), Qt::AlignRight | Qt::AlignVCenter, QString::number(altitude) + unit);
        }
    } else {
        // Round values in the pilot's unit, each at its height in metres.
        const double lowest = convertedValue(Quantity::Altitude, m_lowest, m_units);
        const double highest = convertedValue(Quantity::Altitude, m_highest, m_units);
        const int shownStep = altitudeStep(static_cast<int>(std::lround(highest - lowest)));
        const double perUnit = static_cast<double>(m_highest - m_lowest) / std::max(1e-9, highest - lowest);
        for (long value = static_cast<long>(std::ceil(lowest / shownStep)) * shownStep; value <= highest; value += shownStep) {
            const double y = yOfAltitude(m_lowest + (static_cast<double>(value) - lowest) * perUnit);
            painter.setPen(grid);
            painter.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
            painter.setPen(text);
            painter.drawText(QRectF(0, y - 8, leftMargin - 6, 16), Qt::AlignRight | Qt::AlignVCenter, QString::number(value) + unit);
        }
    }
    if (m_samples.size() >= 2) {
        // Hour and half-hour marks along the bottom.
        const std::int64_t first = firstTime(), last = lastTime();
        const std::int64_t span = last - first;
        const std::int64_t tick = span > 6 * 3600 ? 3600 : span > 2 * 3600 ? 1800 : span > 3600 ? 900 : 600;
        // Round on the clock shown: a zone of half an hour moves the marks with it.
        for (std::int64_t t = ((first + m_clockOffset) / tick + 1) * tick - m_clockOffset; t < last; t += tick) {
            const double x = xOfTime(t);
            painter.setPen(grid);
            painter.drawLine(QPointF(x, full.top()), QPointF(x, full.bottom()));
            painter.setPen(text);
            painter.drawText(QRectF(x - 30, full.bottom() + 3, 60, bottomMargin - 3), Qt::AlignHCenter | Qt::AlignTop,
                clockText(t + m_clockOffset));
        }

        // One lowest and highest point per pixel column: the curve keeps every peak
        // whatever the number of fixes.
        const int columns = area.width();
        std::vector<int> low(columns + 1, INT_MAX), high(columns + 1, INT_MIN);
        for (const Sample& sample : m_samples) {
            const int column = std::clamp(static_cast<int>(xOfTime(sample.time)) - area.left(), 0, columns);
            low[column] = std::min(low[column], sample.altitude);
            high[column] = std::max(high[column], sample.altitude);
        }
        QPolygonF line;
        line.reserve(2 * (columns + 1));
        for (int column = 0; column <= columns; ++column) {
            if (low[column] == INT_MAX)
                continue;
            const double x = area.left() + column;
            line << QPointF(x, yOfAltitude(high[column]));
            if (low[column] != high[column])
                line << QPointF(x, yOfAltitude(low[column]));
        }
        renderGraph(painter);
        if (line.isEmpty()) {
            paintLabels(painter);
            return;
        }
        // Among other flights the samples' flight is one of the overlays, drawn in its
        // colour like them: no fill of a colour that is nobody's.
        QPolygonF fill = line;
        fill << QPointF(line.back().x(), area.bottom()) << QPointF(line.front().x(), area.bottom());
        QColor fillColour(70, 130, 200, 60);
        painter.setPen(Qt::NoPen);
        painter.setBrush(fillColour);
        if (m_overlays.empty())
            painter.drawPolygon(fill);
        // The ground over the altitude's fill, so that it reads brown: per column the
        // highest ground under its fixes, each covered run of columns one area down to
        // the plot's foot.
        if (m_ground.size() == m_samples.size()) {
            const double nothing = std::numeric_limits<double>::quiet_NaN();
            std::vector<double> groundHigh(columns + 1, nothing);
            for (std::size_t i = 0; i < m_samples.size(); ++i) {
                if (!std::isfinite(m_ground[i]))
                    continue;
                const int column = std::clamp(static_cast<int>(xOfTime(m_samples[i].time)) - area.left(), 0, columns);
                if (!(groundHigh[column] >= m_ground[i]))
                    groundHigh[column] = m_ground[i];
            }
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(140, 95, 50, 190));
            QPolygonF run;
            const auto closeRun = [&] {
                if (run.size() >= 1) {
                    const double left = run.front().x(), right = std::max(run.back().x(), left + 1);
                    run << QPointF(right, area.bottom()) << QPointF(left, area.bottom());
                    painter.drawPolygon(run);
                }
                run.clear();
            };
            for (int column = 0; column <= columns; ++column) {
                if (!std::isfinite(groundHigh[column])) {
                    // A column without fixes continues the run; one whose fixes have no
                    // ground ends it.
                    if (low[column] != INT_MAX)
                        closeRun();
                    continue;
                }
                const double y = std::clamp(yOfAltitude(groundHigh[column]), double(area.top()), double(area.bottom()));
                run << QPointF(area.left() + column, y);
            }
            closeRun();
        }
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(QColor(30, 90, 170), 1.2));
        painter.setBrush(Qt::NoBrush);
        if (m_overlays.empty())
            painter.drawPolyline(line);
        // The other flights, each one envelope per column as the samples' own.
        for (const Series& series : m_overlays) {
            std::vector<int> seriesLow(columns + 1, INT_MAX), seriesHigh(columns + 1, INT_MIN);
            for (const Sample& sample : series.samples) {
                const int column = std::clamp(static_cast<int>(xOfTime(sample.time)) - area.left(), 0, columns);
                seriesLow[column] = std::min(seriesLow[column], sample.altitude);
                seriesHigh[column] = std::max(seriesHigh[column], sample.altitude);
            }
            QPolygonF seriesLine;
            for (int column = 0; column <= columns; ++column) {
                if (seriesLow[column] == INT_MAX)
                    continue;
                seriesLine << QPointF(area.left() + column, yOfAltitude(seriesHigh[column]));
                if (seriesLow[column] != seriesHigh[column])
                    seriesLine << QPointF(area.left() + column, yOfAltitude(seriesLow[column]));
            }
            painter.setPen(QPen(series.colour, 1.6));
            painter.drawPolyline(seriesLine);
        }
    }
    painter.setPen(grid);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(area.adjusted(0, 0, -1, -1));
    paintLabels(painter);
}

void BarogramView::renderGraph(QPainter& painter)
{
    const QRect area = graphArea();
    if (area.isEmpty() || m_graphValues.size() != m_samples.size())
        return;
    const QColor text = palette().color(QPalette::Text);
    QColor grid = text;
    grid.setAlpha(40);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(grid);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(area.adjusted(0, 0, -1, -1));
    // The axis: the ends, and zero in the vario's middle.
    std::vector<double> ticks { m_graphLow, m_graphHigh };
    if (m_graph == Graph::Vario)
        ticks.push_back(0);
    for (const double value : ticks) {
        const double y = yOfGraph(value);
        painter.setPen(grid);
        painter.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
        painter.setPen(text);
        // The number alone: the unit is in the graph's title, and "+4.0 ft/min" would not fit.
        const Quantity quantity = m_graph == Graph::Vario ? Quantity::Vario : Quantity::Speed;
        const double si = m_graph == Graph::Vario ? value : value / 3.6;
        QString number = QString::number(std::lround(convertedValue(quantity, si, m_units)));
        if (m_graph == Graph::Vario && value > 0)
            number.prepend(QLatin1Char('+'));
        // Kept inside the strip: the top value must not run into the altitude's zero.
        const double labelY = std::clamp(y, double(area.top()) + 6, double(area.bottom()) - 6);
        painter.drawText(QRectF(0, labelY - 8, leftMargin - 6, 16), Qt::AlignRight | Qt::AlignVCenter, number);
    }
    // One envelope per pixel column, as the altitude's.
    const int columns = area.width();
    std::vector<double> low(columns + 1, std::numeric_limits<double>::infinity());
    std::vector<double> high(columns + 1, -std::numeric_limits<double>::infinity());
    for (std::size_t i = 0; i < m_samples.size(); ++i) {
        const double value = m_graphValues[i];
        if (!std::isfinite(value))
            continue;
        const int column = std::clamp(static_cast<int>(xOfTime(m_samples[i].time)) - area.left(), 0, columns);
        low[column] = std::min(low[column], value);
        high[column] = std::max(high[column], value);
    }
    QPolygonF line;
    line.reserve(2 * (columns + 1));
    for (int column = 0; column <= columns; ++column) {
        if (!std::isfinite(low[column]))
            continue;
        const double x = area.left() + column;
        line << QPointF(x, yOfGraph(high[column]));
        if (low[column] != high[column])
            line << QPointF(x, yOfGraph(low[column]));
    }
    painter.save();
    painter.setClipRect(area);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(m_graph == Graph::Vario ? varioColour : speedColour, 1.0));
    painter.drawPolyline(line);
    painter.restore();
    painter.setPen(text);
    painter.drawText(area.adjusted(6, 2, -6, -2), Qt::AlignLeft | Qt::AlignTop,
        (m_graph == Graph::Vario ? tr("Vario (20 s), %1") : tr("Ground speed, %1"))
            .arg(QString::fromLatin1(unitLabel(m_graph == Graph::Vario ? Quantity::Vario : Quantity::Speed, m_units))));
}

void BarogramView::paintLabels(QPainter& painter)
{
    // Over the curve, so that a name stays readable where the flight climbed high; a
    // label is pushed inside the plot rather than cut at its edge.
    const QRect area = plotArea();
    const QFontMetrics metrics(font());
    const auto labelBox = [&](double x, const QString& text, int row) {
        const double width = metrics.horizontalAdvance(text) + 8;
        const double left = std::clamp(x, double(area.left()) + 1, std::max(double(area.left()) + 1, area.right() - width));
        return QRectF(left, area.top() + 2 + row * (metrics.height() + 3), width, metrics.height() + 2);
    };
    painter.setRenderHint(QPainter::Antialiasing, false);
    // Bands of one flight often follow closely: each label takes the first row below
    // the marks' where it covers none before it, or the row whose last label ends
    // first when every row is taken.
    const int rows = std::max(1, std::min(4, (area.height() - metrics.height()) / (metrics.height() + 3) - 1));
    std::vector<double> rowEnds(static_cast<std::size_t>(rows), -1e9);
    for (const Band& band : m_bands) {
        if (band.label.isEmpty())
            continue;
        const double left = std::max<double>(area.left(), xOfTime(band.begin)) + 2;
        const QRectF probe = labelBox(left, band.label, 1);
        auto row = std::find_if(rowEnds.begin(), rowEnds.end(), [&](double end) { return end < probe.left(); });
        if (row == rowEnds.end())
            row = std::min_element(rowEnds.begin(), rowEnds.end());
        const QRectF box = labelBox(left, band.label, 1 + static_cast<int>(row - rowEnds.begin()));
        *row = box.right() + 2;
        QColor frame = band.colour;
        frame.setAlpha(255);
        painter.setPen(frame.darker(130));
        painter.setBrush(QColor(255, 255, 255, 215));
        painter.drawRect(box);
        painter.setPen(QColor(20, 20, 20));
        painter.drawText(box, Qt::AlignCenter, band.label);
    }
    for (const Mark& mark : m_marks) {
        const double x = xOfTime(mark.time);
        if (x < area.left() || x > area.right())
            continue;
        painter.setPen(QPen(mark.colour, 1, Qt::DashLine));
        painter.drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
        if (mark.label.isEmpty())
            continue;
        const QRectF box = labelBox(x - (metrics.horizontalAdvance(mark.label) + 8) / 2.0, mark.label, 0);
        painter.setPen(Qt::NoPen);
        painter.setBrush(mark.colour);
        painter.drawRect(box);
        painter.setPen(Qt::white);
        painter.drawText(box, Qt::AlignCenter, mark.label);
    }
}

void BarogramView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (m_curve.isNull() || m_curve.size() != size() * devicePixelRatioF())
        renderCurve();
    painter.drawPixmap(0, 0, m_curve);
    const QRect area = plotArea();
    const QRect full = fullArea();
    if (m_highlight) {
        const double left = std::max<double>(area.left(), xOfTime(m_highlight->begin));
        const double right = std::min<double>(area.right(), xOfTime(m_highlight->end));
        if (right >= left) {
            QColor edge = m_highlight->colour;
            edge.setAlpha(255);
            painter.setPen(QPen(edge, 1.5));
            painter.setBrush(m_highlight->colour);
            painter.drawRect(QRectF(left, full.top(), std::max(2.0, right - left), full.height()));
        }
    }
    if (!m_cursor)
        return;
    const Sample& sample = m_samples[*m_cursor];
    const double x = xOfTime(sample.time);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(200, 40, 40), 1));
    painter.drawLine(QPointF(x, full.top()), QPointF(x, full.bottom()));
    painter.setBrush(QColor(200, 40, 40));
    painter.drawEllipse(QPointF(x, yOfAltitude(sample.altitude)), 3.5, 3.5);
    if (const QRect graph = graphArea(); !graph.isEmpty() && std::isfinite(m_graphValues[*m_cursor]))
        painter.drawEllipse(QPointF(x, yOfGraph(m_graphValues[*m_cursor])), 3, 3);
    const QString label = cursorText();
    const double boxWidth = QFontMetricsF(font()).horizontalAdvance(label) + 12;
    const QRectF box(std::min<double>(x + 6, area.right() - boxWidth - 4), area.top() + 2, boxWidth, 18);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 220));
    painter.drawRoundedRect(box, 3, 3);
    painter.setPen(QColor(20, 20, 20));
    painter.drawText(box, Qt::AlignCenter, label);
}

QString BarogramView::cursorText() const
{
    if (!m_cursor || *m_cursor >= m_samples.size())
        return {};
    const Sample& sample = m_samples[*m_cursor];
    QString label = QString::fromStdString(utcTimeText(sample.time + m_clockOffset, "%H:%M:%S  ")
        + quantityText(Quantity::Altitude, sample.altitude, m_units));
    if (*m_cursor < m_ground.size() && std::isfinite(m_ground[*m_cursor]))
        label += QStringLiteral("  AGL ")
            + QString::fromStdString(quantityText(Quantity::Altitude, std::lround(sample.altitude - m_ground[*m_cursor]), m_units));
    if (!graphArea().isEmpty() && std::isfinite(m_graphValues[*m_cursor]))
        label += QStringLiteral("  ") + graphValueText(m_graph, m_graphValues[*m_cursor], m_units);
    return label;
}

void BarogramView::mouseMoveEvent(QMouseEvent* event)
{
    if (!fullArea().contains(event->position().toPoint()))
        return;
    if (const auto index = indexAtX(static_cast<int>(event->position().x())); index && index != m_cursor) {
        setCursorIndex(index);
        emit cursorMoved(*index);
    }
}

void BarogramView::mousePressEvent(QMouseEvent* event) { mouseMoveEvent(event); }

} // namespace corvex::library
