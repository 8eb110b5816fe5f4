#include "library/ui/StatisticsChart.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPaintEvent>
#include <QPainter>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace corvex::library {

namespace {

constexpr StatisticsMeasure measures[] = { StatisticsMeasure::Hours, StatisticsMeasure::Flights,
    StatisticsMeasure::Kilometres, StatisticsMeasure::Points, StatisticsMeasure::Thermals, StatisticsMeasure::ThermalGain,
    StatisticsMeasure::AverageClimb };

// A step for the value axis of 1, 2 or 5 times a power of ten, giving about `lines`
// lines up to `top`.
double axisStep(double top, int lines)
{
    if (!(top > 0))
        return 1;
    const double raw = top / lines;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double factor : { 1.0, 2.0, 5.0 })
        if (raw <= factor * power)
            return factor * power;
    return 10 * power;
}

QString valueText(double value, StatisticsMeasure measure)
{
    const bool whole = measure == StatisticsMeasure::Flights || measure == StatisticsMeasure::Thermals;
    const int decimals = whole ? 0 : value < 10 && value != std::floor(value) ? 1 : 0;
    return QLocale().toString(value, 'f', decimals);
}

} // namespace

QString StatisticsChart::measureName(StatisticsMeasure measure) const
{
    switch (measure) {
    case StatisticsMeasure::Hours:
        return tr("Hours");
    case StatisticsMeasure::Flights:
        return tr("Flights");
    case StatisticsMeasure::Kilometres:
        return m_units == UnitSystem::Metric ? tr("Kilometres") : m_units == UnitSystem::Imperial ? tr("Miles") : tr("Nautical miles");
    case StatisticsMeasure::Points:
        return tr("Points");
    case StatisticsMeasure::Thermals:
        return tr("Thermals");
    case StatisticsMeasure::ThermalGain:
        return tr("Height gained in thermals (%1)").arg(QString::fromUtf8(unitLabel(Quantity::Altitude, m_units)));
    case StatisticsMeasure::AverageClimb:
        return tr("Average climb (%1)").arg(QString::fromUtf8(unitLabel(Quantity::Vario, m_units)));
    }
    return {};
}

double StatisticsChart::barValue(const PeriodStatistics& period) const
{
    if (m_measure == StatisticsMeasure::Kilometres)
        return convertedValue(Quantity::Distance, period.trackMetres, m_units);
    if (m_measure == StatisticsMeasure::ThermalGain)
        return convertedValue(Quantity::Altitude, period.value(m_measure), m_units);
    if (m_measure == StatisticsMeasure::AverageClimb)
        return convertedValue(Quantity::Vario, period.value(m_measure), m_units);
    return period.value(m_measure);
}

class StatisticsChart::Plot final : public QWidget {
public:
    explicit Plot(StatisticsChart& chart)
        : m_chart(chart)
    {
        setMinimumHeight(fontMetrics().height() * 10);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), palette().base());
        const std::vector<Bar> bars = m_chart.bars();
        const QFontMetrics metrics = fontMetrics();
        const int line = metrics.height();
        double top = 0;
        for (const Bar& bar : bars)
            top = std::max(top, bar.value);
        const double step = axisStep(top, 4);
        const double axisTop = std::max(step, std::ceil(top / step) * step);
        int labelWidth = metrics.horizontalAdvance(valueText(axisTop, m_chart.measure()));
        labelWidth = std::max(labelWidth, metrics.horizontalAdvance("0"));
        const QRect plot(labelWidth + line, line * 3 / 2, width() - labelWidth - line * 2, height() - line * 3);
        painter.setPen(palette().text().color());
        painter.drawText(QRect(0, 0, width(), line * 3 / 2), Qt::AlignHCenter | Qt::AlignVCenter, m_chart.title());
        if (plot.width() < 10 || plot.height() < 10)
            return;
        const auto yOf = [&](double value) { return plot.bottom() - value / axisTop * plot.height(); };
        // The value axis: its lines across the plot and their labels on the left.
        const QColor grid = palette().mid().color();
        for (double value = 0; value <= axisTop + step / 2; value += step) {
            const int y = int(std::lround(yOf(value)));
            painter.setPen(QPen(grid, 0, value == 0 ? Qt::SolidLine : Qt::DotLine));
            painter.drawLine(plot.left(), y, plot.right(), y);
            painter.setPen(palette().text().color());
            painter.drawText(QRect(0, y - line / 2, labelWidth + line / 2, line), Qt::AlignRight | Qt::AlignVCenter,
                valueText(value, m_chart.measure()));
        }
        if (bars.empty()) {
            painter.drawText(plot, Qt::AlignCenter, StatisticsChart::tr("No flights"));
            return;
        }
        const double slot = double(plot.width()) / double(bars.size());
        const double barWidth = std::max(1.0, slot * 0.7);
        const QColor fill = palette().highlight().color();
        for (std::size_t i = 0; i < bars.size(); ++i) {
            const double x = plot.left() + slot * double(i);
            const double y = yOf(bars[i].value);
            const QRectF bar(x + (slot - barWidth) / 2, y, barWidth, plot.bottom() - y);
            if (bars[i].value > 0)
                painter.fillRect(bar, fill);
            painter.setPen(palette().text().color());
            const QRect below(int(x), plot.bottom() + 2, int(slot), line);
            painter.drawText(below, Qt::AlignHCenter | Qt::AlignTop, metrics.elidedText(bars[i].label, Qt::ElideRight, int(slot)));
            // The value above its bar, where it fits.
            const QString text = valueText(bars[i].value, m_chart.measure());
            if (bars[i].value > 0 && metrics.horizontalAdvance(text) <= slot)
                painter.drawText(QRectF(x, y - line, slot, line), Qt::AlignHCenter | Qt::AlignBottom, text);
        }
    }

private:
    StatisticsChart& m_chart;
};

StatisticsChart::StatisticsChart(QWidget* parent)
    : QWidget(parent)
{
    m_yearChoice = new QComboBox;
    m_yearChoice->setAccessibleName(tr("Statistics year"));
    m_measureChoice = new QComboBox;
    m_measureChoice->setAccessibleName(tr("Statistics measure"));
    for (const StatisticsMeasure measure : measures)
        m_measureChoice->addItem(measureName(measure), int(measure));
    m_plot = new Plot(*this);
    auto* choices = new QHBoxLayout;
    choices->addWidget(new QLabel(tr("Statistics:")));
    choices->addWidget(m_measureChoice);
    choices->addWidget(m_yearChoice);
    choices->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(choices);
    layout->addWidget(m_plot, 1);
    fillYears();
    connect(m_measureChoice, &QComboBox::currentIndexChanged, this,
        [this] { setMeasure(StatisticsMeasure(m_measureChoice->currentData().toInt())); });
    connect(m_yearChoice, &QComboBox::currentIndexChanged, this, [this] {
        const QVariant year = m_yearChoice->currentData();
        setYear(year.isValid() ? std::optional<int>(year.toInt()) : std::nullopt);
    });
}

void StatisticsChart::setFlights(const std::vector<LibraryFlight>& flights)
{
    m_statistics = LogBookStatistics(flights);
    fillYears();
    m_plot->update();
}

void StatisticsChart::fillYears()
{
    const QSignalBlocker block(m_yearChoice);
    m_yearChoice->clear();
    m_yearChoice->addItem(tr("All years"));
    for (auto it = m_statistics.years().rbegin(); it != m_statistics.years().rend(); ++it)
        m_yearChoice->addItem(QString::number(it->year), it->year);
    const int at = m_year ? m_yearChoice->findData(*m_year) : 0;
    m_yearChoice->setCurrentIndex(std::max(at, 0));
    // A year that has no flights left shows as all years.
    if (at < 0)
        m_year.reset();
}

void StatisticsChart::setYear(std::optional<int> year)
{
    m_year = year;
    fillYears();
    m_plot->update();
}

void StatisticsChart::setUnits(UnitSystem units)
{
    m_units = units;
    for (int i = 0; i < m_measureChoice->count(); ++i)
        m_measureChoice->setItemText(i, measureName(StatisticsMeasure(m_measureChoice->itemData(i).toInt())));
    m_plot->update();
}

void StatisticsChart::setMeasure(StatisticsMeasure measure)
{
    m_measure = measure;
    const QSignalBlocker block(m_measureChoice);
    m_measureChoice->setCurrentIndex(m_measureChoice->findData(int(measure)));
    m_plot->update();
}

std::vector<StatisticsChart::Bar> StatisticsChart::bars() const
{
    std::vector<Bar> bars;
    if (m_year) {
        for (const PeriodStatistics& month : m_statistics.months(*m_year))
            bars.push_back({ QLocale().standaloneMonthName(month.month, QLocale::ShortFormat), barValue(month) });
        return bars;
    }
    // Every year from the first to the last, the years without flights as empty bars.
    const auto& years = m_statistics.years();
    if (years.empty())
        return bars;
    std::size_t next = 0;
    for (int year = years.front().year; year <= years.back().year; ++year) {
        double value = 0;
        if (next < years.size() && years[next].year == year)
            value = barValue(years[next++]);
        bars.push_back({ QString::number(year), value });
    }
    return bars;
}

QString StatisticsChart::title() const
{
    return m_year ? tr("%1 per month, %2").arg(measureName(m_measure)).arg(*m_year)
                  : tr("%1 per year").arg(measureName(m_measure));
}

} // namespace corvex::library
