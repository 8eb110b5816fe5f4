#pragma once

#include "airspaces/AirspaceDetails.h"
#include "map/MapGeometry.h"

#include <QByteArray>
#include <QObject>
#include <QPointF>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QLabel;

namespace corvex {

class Airspaces;
class MapView;

// Says what the airspace under the pointer is: hovering or clicking an outline of the
// airspaces map shows its name, class and limits in a small label over the map. Only
// the OpenAir text a set was converted from holds them; it is known for a set
// converted on this computer, kept for the run and beside the window's cache of sets
// (<cache folder>/openair/<SHA-256 of the set>.txt) for the later ones.
class AirspaceHoverInfo final : public QObject {
    Q_OBJECT
public:
    // The outline's edge counts within this many pixels of the pointer.
    static constexpr double tolerancePixels = 4;

    // currentSet gives the set the map's overlays were made from, or null.
    AirspaceHoverInfo(MapView& map, std::function<const Airspaces*()> currentSet, QString cacheFolder, QObject* parent = nullptr);

    // The set was made from this OpenAir text here.
    void rememberOpenAirSource(const Airspaces& set, const QByteArray& openAir);

    // The text for the outline at a map point (tolerance in map units): empty away from
    // every outline, "No details for this set" over one whose source is not known.
    QString textAt(MapPoint point, double tolerance);
    // What the label shows now; empty while it is hidden.
    QString shownText() const;
    QLabel* label() const { return m_label; }

private:
    void showAt(MapPoint point, double tolerance, QPointF position);
    void showAtPointer(QPointF position);
    const AirspaceDetails* detailsForCurrentSet();
    QString sourcePath(const QByteArray& setDigest) const;

    MapView& m_map;
    std::function<const Airspaces*()> m_currentSet;
    QString m_cacheFolder;
    QLabel* m_label { nullptr };
    // Where the pointer is over the map: a zoom or a pan moves the map under it.
    std::optional<QPointF> m_pointer;
    // The details of the set they were made for (its bytes' identity).
    const void* m_detailsSet { nullptr };
    std::optional<AirspaceDetails> m_details;
};

} // namespace corvex
