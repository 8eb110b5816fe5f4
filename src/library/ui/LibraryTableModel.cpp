#include "library/ui/LibraryTableModel.h"

#include "base/Format.h"
#include "flights/FlightWords.h"
#include "library/FlightScores.h"
#include "library/LibraryTable.h"

#include <cmath>

namespace corvex::library {

QString durationText(std::int64_t seconds) { return QString::fromStdString(hoursMinutesText(seconds)); }

QString takeoffText(std::int64_t utc) { return QString::fromStdString(tableTimeText(utc)); }

QString figureText(Quantity quantity, double si, UnitSystem units)
{
    return QString::fromStdString(quantityText(quantity, si, units));
}

QString scoreTypeText(const std::string& type) { return QString::fromStdString(flights::contestTypeTitle(type)); }

QString scoreText(const LibraryFlight& flight)
{
    return flight.scorePoints ? QString::number(*flight.scorePoints, 'f', 1) : QString();
}

LibraryTableModel::LibraryTableModel(QObject* parent)
    : QAbstractTableModel(parent)
{
}

void LibraryTableModel::setFlights(std::vector<LibraryFlight> flights)
{
    beginResetModel();
    m_flights = std::move(flights);
    // A file put back or replaced may carry another zone.
    m_fileZones.clear();
    endResetModel();
}

void LibraryTableModel::setUnits(UnitSystem units, bool timesInUtc)
{
    if (units == m_units && timesInUtc == m_timesInUtc)
        return;
    m_units = units;
    m_timesInUtc = timesInUtc;
    if (!m_flights.empty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
    emit headerDataChanged(Qt::Horizontal, 0, ColumnCount - 1);
}

int LibraryTableModel::takeoffOffsetMinutes(const LibraryFlight& flight) const
{
    auto known = m_fileZones.find(flight.id);
    if (known == m_fileZones.end())
        known = m_fileZones.emplace(flight.id, fileTimeZone ? fileTimeZone(flight) : std::nullopt).first;
    return localOffsetMinutes(flight.takeoff, known->second);
}

QString LibraryTableModel::takeoffText(const LibraryFlight& flight) const
{
    if (m_timesInUtc)
        return library::takeoffText(flight.takeoff);
    return QString::fromStdString(localMinuteText(flight.takeoff, takeoffOffsetMinutes(flight)));
}

std::optional<int> LibraryTableModel::rowOfId(std::int64_t id) const
{
    for (std::size_t row = 0; row < m_flights.size(); ++row)
        if (m_flights[row].id == id)
            return static_cast<int>(row);
    return std::nullopt;
}

int LibraryTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_flights.size());
}

int LibraryTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant LibraryTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const LibraryFlight& flight = flightAt(index.row());
    if (role == Qt::TextAlignmentRole) {
        const bool number = index.column() == Duration || index.column() == MaxAltitude || index.column() == Track
            || index.column() == Score || index.column() == BestClimb || index.column() == Thermals
            || index.column() == AvgClimb || index.column() == Circling;
        return QVariant::fromValue(Qt::Alignment(number ? Qt::AlignRight | Qt::AlignVCenter : Qt::AlignLeft | Qt::AlignVCenter));
    }
    if (role == Qt::UserRole) {
        switch (index.column()) {
        case Takeoff:
            return QVariant::fromValue<qlonglong>(flight.takeoff);
        case Duration:
            return QVariant::fromValue<qlonglong>(flight.durationSeconds);
        case MaxAltitude:
            return flight.maxAltitude().value_or(-100000);
        case Track:
            return flight.trackMetres;
        case Score:
            // Below every score, so that a descending sort puts the best first.
            return flight.scorePoints.value_or(-1);
        case BestClimb:
            return flight.bestClimb;
        // Below every analysed flight, so that a descending sort puts the most first.
        case Thermals:
            return flight.debrief ? flight.debrief->thermals : -1;
        case AvgClimb:
            return flight.debrief && flight.debrief->thermals > 0 ? flight.debrief->avgClimbMs : -1000.0;
        case Circling:
            return flight.debrief ? flight.debrief->circlingShare : -1.0;
        case Glider:
            return QString::fromStdString(gliderName(flight.glider)).toCaseFolded();
        case Pilot:
            return QString::fromStdString(flight.pilot).toCaseFolded();
        case Site:
            return QString::fromStdString(flight.site).toCaseFolded();
        case Instrument:
            return QString::fromStdString(flight.instrument());
        case Comment:
            return QString::fromStdString(flight.comment).toCaseFolded();
        }
        return {};
    }
    if (role == Qt::ToolTipRole) {
        if (index.column() == Score) {
            if (!flight.scorerVersion)
                return tr("Not scored yet");
            if (!flight.scorePoints)
                return tr("No score: the flight has too few fixes");
            return tr("%1 points, %2, %3 (%4)")
                .arg(QString::number(*flight.scorePoints, 'f', 2), scoreTypeText(flight.scoreType),
                    figureText(Quantity::Distance, flight.scoreDistanceMetres.value_or(0), m_units),
                    QString::fromStdString(contestRuleSetName(flight.scoreRuleSet)));
        }
        if (index.column() == Thermals || index.column() == AvgClimb || index.column() == Circling) {
            if (!flight.debriefMadeBy)
                return tr("Not analysed yet");
            if (!flight.debrief)
                return tr("No thermals or glides: the file has no flight to analyse");
            const StoredDebrief& debrief = *flight.debrief;
            return tr("%1 thermals, %2 gained; %3 failed attempts; %4 % of the circling to the left")
                .arg(debrief.thermals)
                .arg(figureText(Quantity::Altitude, debrief.heightGainedMetres, m_units))
                .arg(debrief.failedAttempts)
                .arg(std::lround(debrief.leftShare * 100));
        }
        QString tip = index.column() == Comment && !flight.comment.empty() ? QString::fromStdString(flight.comment)
                                                                          : QString::fromStdString(flight.file);
        if (otherRecorders)
            if (const QStringList others = otherRecorders(flight); !others.isEmpty())
                tip += QLatin1Char('\n') + tr("Also recorded by %1").arg(others.join(QStringLiteral(", ")));
        return tip;
    }
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case Takeoff:
        return takeoffText(flight);
    case Duration:
        return durationText(flight.durationSeconds);
    case MaxAltitude:
        return flight.maxAltitude() ? figureText(Quantity::Altitude, *flight.maxAltitude(), m_units) : QStringLiteral("–");
    case Track:
        return figureText(Quantity::Distance, flight.trackMetres, m_units);
    case Score:
        return scoreText(flight);
    case BestClimb:
        return figureText(Quantity::Vario, flight.bestClimb, m_units);
    case Thermals:
        return flight.debrief ? QString::number(flight.debrief->thermals) : QString();
    case AvgClimb:
        return flight.debrief && flight.debrief->thermals > 0 ? figureText(Quantity::Vario, flight.debrief->avgClimbMs, m_units)
                                                               : QString();
    case Circling:
        return flight.debrief ? QStringLiteral("%1 %").arg(std::lround(flight.debrief->circlingShare * 100)) : QString();
    case Glider:
        return QString::fromStdString(gliderName(flight.glider));
    case Pilot:
        return QString::fromStdString(flight.pilot);
    case Site:
        return QString::fromStdString(flight.site);
    case Instrument:
        return QString::fromStdString(flight.instrument());
    case Comment:
        // One line in the table; the tooltip holds it whole.
        return QString::fromStdString(flight.comment).simplified();
    }
    return {};
}

QVariant LibraryTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case Takeoff:
        return m_timesInUtc ? tr("Take-off (UTC)") : tr("Take-off (local)");
    case Duration:
        return tr("Duration");
    case MaxAltitude:
        return tr("Highest");
    case Track:
        return tr("Track");
    case Score:
        return tr("Score");
    case BestClimb:
        return tr("Best Climb");
    case Thermals:
        return tr("Thermals");
    case AvgClimb:
        return tr("Avg climb");
    case Circling:
        return tr("Circling");
    case Glider:
        return tr("Glider");
    case Pilot:
        return tr("Pilot");
    case Site:
        return tr("Site");
    case Instrument:
        return tr("Instrument");
    case Comment:
        return tr("Comment");
    }
    return {};
}

LibraryFilterModel::LibraryFilterModel(QObject* parent)
    : QSortFilterProxyModel(parent)
{
    setSortRole(Qt::UserRole);
}

void LibraryFilterModel::setFilter(const FlightFilter& filter)
{
    m_filter = filter;
    invalidateFilter();
}

bool LibraryFilterModel::accepts(const LibraryFlight& flight) const { return flightMatches(flight, m_filter); }

bool LibraryFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex&) const
{
    const auto* model = static_cast<const LibraryTableModel*>(sourceModel());
    return accepts(model->flightAt(sourceRow));
}

} // namespace corvex::library
