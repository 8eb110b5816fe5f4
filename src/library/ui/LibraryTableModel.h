#pragma once

#include "base/Units.h"
#include "library/LibraryFlight.h"

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QStringList>

#include <functional>
#include <optional>
#include <unordered_map>
#include <vector>

namespace corvex::library {

// The library's flights as the window's table shows them. Display texts for people,
// and under Qt::UserRole the raw value each column sorts by.
class LibraryTableModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column {
        Takeoff,
        Duration,
        MaxAltitude,
        Track,
        Score,
        BestClimb,
        // The debrief's totals: empty until the background pass analysed the flight.
        Thermals,
        AvgClimb, // in thermals, over their time
        Circling, // share of the airborne time, per cent
        Glider,
        Pilot,
        Site,
        Instrument,
        Comment,
        ColumnCount,
    };

    explicit LibraryTableModel(QObject* parent = nullptr);

    void setFlights(std::vector<LibraryFlight> flights);
    const std::vector<LibraryFlight>& flights() const { return m_flights; }
    const LibraryFlight& flightAt(int row) const { return m_flights[static_cast<std::size_t>(row)]; }
    std::optional<int> rowOfId(std::int64_t id) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The other loggers that recorded the flight ("also recorded by …" in its tooltip),
    // asked only when a tooltip shows: reading them for every row would slow a reload.
    std::function<QStringList(const LibraryFlight&)> otherRecorders;

    // The units of the figures and whether the take-off shows in UTC or in its own
    // local time (the file's zone, else the computer's on that date). A table made
    // without them shows metric and UTC; the window gives it the pilot's preferences.
    void setUnits(UnitSystem units, bool timesInUtc);
    UnitSystem units() const { return m_units; }
    bool timesInUtc() const { return m_timesInUtc; }
    // The file's own zone offset in minutes (its time-zone header), asked once per
    // flight and only for local times.
    std::function<std::optional<int>(const LibraryFlight&)> fileTimeZone;
    // The offset the take-off shows at: the file's, else the computer's zone's.
    int takeoffOffsetMinutes(const LibraryFlight& flight) const;
    // The take-off as the Take-off column shows it: "2024-10-07 06:27" in UTC, else
    // "2024-10-07 11:57 +05:30".
    QString takeoffText(const LibraryFlight& flight) const;

private:
    std::vector<LibraryFlight> m_flights;
    UnitSystem m_units { UnitSystem::Metric };
    bool m_timesInUtc { true };
    mutable std::unordered_map<std::int64_t, std::optional<int>> m_fileZones; // by flight id
};

// Narrows the table to a year, a glider and a text (flightMatches, as `corvex library
// list` does), and sorts by the raw values.
class LibraryFilterModel final : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit LibraryFilterModel(QObject* parent = nullptr);
    void setFilter(const FlightFilter& filter);
    const FlightFilter& filter() const { return m_filter; }
    bool accepts(const LibraryFlight& flight) const;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    FlightFilter m_filter;
};

// "1:05" for 65 minutes.
QString durationText(std::int64_t seconds);
// "2024-10-07 11:34" (UTC).
QString takeoffText(std::int64_t utc);
// "1234 m", "4049 ft": the figure in the units with its unit.
QString figureText(Quantity quantity, double si, UnitSystem units);
// "FAI triangle" for "fai_triangle" (contestTypeTitle).
QString scoreTypeText(const std::string& type);
// "87.3" points; empty for a flight without a score yet, never "0".
QString scoreText(const LibraryFlight& flight);

} // namespace corvex::library
