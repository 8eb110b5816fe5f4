#pragma once

#include "map/MapTrack.h"
#include "map/Replay.h"
#include "map/qt/MapLayer.h"

#include <QColor>
#include <QPointF>
#include <QString>

#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

namespace corvex {

// The gliders of a replay: each an arrow along its heading in its colour, over a trail
// of its last trailSeconds of track that thins and fades towards its tail, and its label
// beside it when several fly. Drawn on every frame of a replay, so it keeps each track's
// points on the plane and finds a glider's fix by a binary search; a live layer, drawn
// over the kept image of the layers under it.
class GliderLayer final : public MapLayer {
    Q_OBJECT
public:
    struct Glider {
        std::shared_ptr<const TrackPoints> track;
        QColor colour;
        QString label;       // shown beside the marker when several gliders fly
        double timeShift { 0 }; // added to the replay time for this glider (aligned by take-off)
    };

    static constexpr double trailSeconds = 120;

    explicit GliderLayer(QObject* parent = nullptr);
    ~GliderLayer() override;

    void setGliders(std::vector<Glider> gliders);
    std::size_t gliderCount() const { return m_gliders.size(); }

    void setTime(double time);          // replay time, as the tracks' clock
    double time() const { return m_time; }

    // The glider's map point at the current time, nothing when it is not flying then.
    std::optional<MapPoint> gliderMapPoint(std::size_t glider) const;
    // Its position, heading and figures at the current time, likewise.
    std::optional<GliderState> gliderState(std::size_t glider) const;

    void paint(QPainter& painter, const MapViewport& viewport) override;
    MapRect boundingMapRect() const override { return m_bounds; }
    bool isLive() const override { return true; }

private:
    struct Entry {
        Glider glider;
        std::vector<MapPoint> points;
    };
    std::optional<MapPoint> mapPointAt(const Entry& entry, const GliderState& state, double time) const;

    std::vector<Entry> m_gliders;
    MapRect m_bounds;
    double m_time { 0 };
    std::vector<QPointF> m_trail;
};

} // namespace corvex
