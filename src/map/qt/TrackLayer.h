#pragma once

#include "map/MapTrack.h"
#include "map/qt/MapLayer.h"

#include <QColor>
#include <QPointF>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace corvex {

// A flight's track as a line coloured by altitude or by climb.
//
// Fast for long flights (36,000 fixes, ten hours at one a second): the fixes are
// projected onto the plane once per track, thinned once per scale (points closer than a
// pixel to the last one kept are dropped), and every paint walks the kept points,
// skipping segments outside the view and drawing each run of segments of one colour as
// one polyline. A pan at the same scale reuses the thinned points.
class TrackLayer final : public MapLayer {
    Q_OBJECT
public:
    static constexpr double defaultLineWidth = 3.0;

    explicit TrackLayer(QObject* parent = nullptr);
    ~TrackLayer() override;

    // Shared, so that the markers' cursor and the flight's other views read the same
    // fixes. Null or empty: nothing is drawn.
    void setTrack(std::shared_ptr<const TrackPoints> track);
    const std::shared_ptr<const TrackPoints>& track() const { return m_track; }

    void setColoring(TrackColoring coloring);
    TrackColoring coloring() const { return m_colorScale.coloring(); }
    // The ramp of the current coloring over the current track, for a legend.
    const TrackColorScale& colorScale() const { return m_colorScale; }
    // The colour bucket of each fix, in the track's order.
    const std::vector<std::uint8_t>& buckets() const { return m_buckets; }

    // One colour for the whole line instead of the coloring's ramp (a flight among
    // others in a comparison); nothing goes back to the ramp.
    void setSingleColour(std::optional<QColor> colour);
    const std::optional<QColor>& singleColour() const { return m_singleColour; }

    void setLineWidth(double width);
    double lineWidth() const { return m_lineWidth; }

    void paint(QPainter& painter, const MapViewport& viewport) override;
    MapRect boundingMapRect() const override { return m_bounds; }

    // The fixes kept at the scale of the last paint, and how many polylines it drew,
    // for tests and the benchmark.
    const ThinnedTrack& thinnedTrack() const { return m_thinned; }
    std::size_t lastPolylineCount() const { return m_lastPolylineCount; }

private:
    void prepareScale(double scaleX, double scaleY);
    void assignBuckets();

    std::shared_ptr<const TrackPoints> m_track;
    std::vector<MapPoint> m_points;
    std::vector<std::uint8_t> m_buckets;
    MapRect m_bounds;
    TrackColorScale m_colorScale;
    double m_lineWidth { defaultLineWidth };
    std::optional<QColor> m_singleColour;

    // The thinning of the last scale drawn.
    double m_scaleX { 0 };
    double m_scaleY { 0 };
    bool m_thinnedValid { false };
    ThinnedTrack m_thinned;
    std::vector<QPointF> m_polyline;
    std::size_t m_lastPolylineCount { 0 };
};

} // namespace corvex
