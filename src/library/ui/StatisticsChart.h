#pragma once

#include "base/Units.h"
#include "library/LibraryFlight.h"
#include "library/LogBookStatistics.h"

#include <QString>
#include <QWidget>

#include <optional>
#include <vector>

class QComboBox;

namespace corvex::library {

// The pilot's flying as bars, painted by us: one bar per month of the chosen year, or
// one per year for all years, of hours, flights, kilometres or points, with the value
// axis and the bars' labels.
class StatisticsChart final : public QWidget {
    Q_OBJECT
public:
    explicit StatisticsChart(QWidget* parent = nullptr);

    // The library's listed flights; removed ones and second recordings count nowhere.
    void setFlights(const std::vector<LibraryFlight>& flights);
    // A year, or all years (one bar per year).
    void setYear(std::optional<int> year);
    void setMeasure(StatisticsMeasure measure);
    // The distance bars in kilometres, miles or nautical miles; metric until set.
    void setUnits(UnitSystem units);
    std::optional<int> year() const { return m_year; }
    StatisticsMeasure measure() const { return m_measure; }

    struct Bar {
        QString label;
        double value { 0 };
    };
    // What the chart shows now, left to right.
    std::vector<Bar> bars() const;
    QString title() const;
    const LogBookStatistics& statistics() const { return m_statistics; }

private:
    class Plot;
    void fillYears();
    QString measureName(StatisticsMeasure measure) const;
    double barValue(const PeriodStatistics& period) const;

    LogBookStatistics m_statistics;
    std::optional<int> m_year;
    StatisticsMeasure m_measure { StatisticsMeasure::Hours };
    UnitSystem m_units { UnitSystem::Metric };
    QComboBox* m_yearChoice;
    QComboBox* m_measureChoice;
    Plot* m_plot;
};

} // namespace corvex::library
