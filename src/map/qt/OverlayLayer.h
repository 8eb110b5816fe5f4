#pragma once

#include "map/MapGeometry.h"
#include "map/qt/MapLayer.h"

#include <QImage>
#include <QRect>
#include <QSize>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <unordered_map>
#include <vector>

namespace corvex {

// Polylines and polygons in order, each drawn in the style its owner gives: the map's
// generic overlays (the airspaces window fills it with a set's outlines, and says how
// each is drawn; the airspaces know the map, the map knows nothing of them).
//
// The drawn overlays are kept as an image between paints and reused while the view, the
// size and the overlays are the same; after a move of the view by whole pixels at the
// same scale (a drag) only the uncovered strips are drawn. With more than a thousand
// overlays in view, lines are drawn at most one pixel wide. Lines over one and up to two
// device pixels wide are antialiased by StrokeCoverage rather than the painter's
// general stroker, which gives the same pixels but for antialiasing at several times
// the cost.
class OverlayLayer final : public MapLayer {
    Q_OBJECT
public:
    using StyleAt = std::function<MapOverlayStyle(std::size_t index)>;

    // How an overlay without a stroke colour or a line width is drawn.
    static constexpr MapColor defaultStrokeColor { 0.15, 0.15, 0.15, 1.0 };
    static constexpr double defaultLineWidth = 1.0;

    explicit OverlayLayer(QObject* parent = nullptr);
    ~OverlayLayer() override;

    // The overlays in drawing order; added overlays are appended in list order.
    const MapOverlays& overlays() const { return m_overlays; }
    std::optional<std::size_t> indexOfOverlay(const MapOverlay& overlay) const;
    void addOverlays(const MapOverlays& overlays);
    void removeOverlays(const MapOverlays& overlays);
    void removeAllOverlays();

    // Says how the overlay at an index is drawn. Asked on the painting thread when an
    // overlay is first drawn after it was added or after restyle(), not on every paint,
    // and only for overlays that meet the view. Without one, overlays take the defaults.
    void setStyleAt(StyleAt styleAt);
    // Forgets the styles and draws again.
    void restyle();

    // Who strokes the lines StrokeCoverage can draw. The painter's stroker is kept for
    // the pixel comparison and the benchmark, which set it; the program never does.
    enum class WideLineStroking { Coverage, Painter };
    void setWideLineStroking(WideLineStroking stroking);

    void paint(QPainter& painter, const MapViewport& viewport) override;
    // The union of the overlays' rectangles (overlays without points left out).
    MapRect boundingMapRect() const override;

    // How many overlays the last paint drew (those meeting the view, or the strips a
    // move uncovered; none when the kept image served), for tests and the benchmark.
    std::size_t lastDrawnOverlayCount() const { return m_lastDrawnOverlayCount; }

private:
    struct CacheKey {
        MapRect visible;
        QSize size;
        qreal devicePixelRatio { 1 };
        std::uint64_t generation { 0 };
        bool operator==(const CacheKey& other) const
        {
            return visible.x == other.visible.x && visible.y == other.visible.y
                && visible.width == other.visible.width && visible.height == other.visible.height
                && size == other.size && devicePixelRatio == other.devicePixelRatio && generation == other.generation;
        }
    };

    // Beyond this many overlays in view, lines are drawn at most a pixel wide.
    static constexpr std::size_t manyOverlays = 1000;
    // A full redraw paints runs of overlays in parallel, at most this many, each of at
    // least minimumOverlaysPerRun overlays (fewer are not worth a thread and an image).
    static constexpr std::size_t maximumRuns = 4;
    static constexpr std::size_t minimumOverlaysPerRun = 32;

    void contentChanged();
    const MapOverlayStyle& styleOf(std::size_t index);
    void renderOverlays(const CacheKey& key);
    // Reuses the overlay image after a move by whole pixels, drawing only the strips the
    // move uncovered. False when the change is not such a move.
    bool scrollOverlays(const CacheKey& key);
    // The part of the plane whose overlays may show in area (pixels of the painting
    // area), with a margin for the strokes.
    static MapRect cullingRect(QSize size, const MapRect& visible, const QRect& area);
    std::vector<std::size_t> cullOverlays(QSize size, const MapRect& visible, const QRect& area) const;
    // Draws the overlays meeting area (pixels of the painting area), clipped to it; how
    // many.
    std::size_t paintOverlays(QImage& image, QPainter& painter, QSize size, const MapRect& visible, const QRect& area);
    // Draws those of candidates (indices into the overlays, styles[i] for candidates[i])
    // that meet area, clipped to it, onto image, on which painter is active. Touches
    // nothing of this layer but reads, so several images may be painted at once on
    // several threads.
    void paintOverlays(QImage& image, QPainter& painter, QSize size, const MapRect& visible,
        const std::vector<std::size_t>& candidates, const std::vector<MapOverlayStyle>& styles, const QRect& area) const;
    // Whether StrokeCoverage draws a line of this width (in the painter's pixels).
    bool coverageStrokes(double lineWidth, qreal devicePixelRatio) const;

    MapOverlays m_overlays;
    std::unordered_map<const MapOverlay*, std::size_t> m_indexByOverlay;
    // Parallel to the overlays: the style function's answer, asked once.
    std::vector<std::optional<MapOverlayStyle>> m_styles;
    StyleAt m_styleAt;

    QImage m_overlayImage;
    QImage m_spareImage;
    CacheKey m_overlayKey;
    bool m_overlayImageValid { false };
    bool m_thinLines { false };
    WideLineStroking m_wideLineStroking { WideLineStroking::Coverage };
    std::uint64_t m_generation { 0 };
    std::size_t m_lastDrawnOverlayCount { 0 };
};

} // namespace corvex
