#pragma once

#include "map/MapGeometry.h"

#include <QImage>
#include <QRect>
#include <QPointF>
#include <QSize>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

class QPainter;

namespace corvex {

class MapBaseLayer;

// Draws one map scene onto any QPainter: the map view's widget, or a QImage offscreen
// (`corvex airspaces render`, the benchmark). No widgets, so the command line links it.
//
// Layers, bottom to top: the sea, the graticule and the offline geography (always), the
// base layer's tiles (when a base layer is given and holds tiles for the view), the
// overlays in order, the scale bar, and the base layer's attribution when a tile was
// drawn.
//
// The overlay layer is kept as an image between calls and reused while the view, the
// size and the overlay list (its storage and length) are the same; after a move of the
// view by whole pixels at the same scale (a drag) only the uncovered strips are drawn.
// Call invalidateOverlays() when overlays or their styles change in any other way.
// With more than a thousand overlays in view, lines are drawn at most one pixel wide.
class MapPainter {
public:
    using StyleAt = std::function<MapOverlayStyle(std::size_t index)>;

    // How an overlay without a stroke colour or a line width is drawn.
    static constexpr MapColor defaultStrokeColor { 0.15, 0.15, 0.15, 1.0 };
    static constexpr double defaultLineWidth = 1.0;

    // visible is the part of the Web Mercator plane shown in a painting area of the given
    // size (the painter's device coordinates, origin at the top left). styleAt is asked
    // for the style of each overlay that meets the view, by its index in overlays.
    // baseLayer may be null: the offline geography alone. The base layer may ask for
    // missing tiles while it paints; its tileArrived() then calls for another paint.
    void paint(QPainter& painter, QSize size, const MapRect& visible, const MapOverlays& overlays,
        const StyleAt& styleAt, MapBaseLayer* baseLayer);

    void invalidateOverlays();

    // How many overlays the last paint drew (those meeting the view, or the strips a
    // move uncovered; none when the kept image served), for tests and the benchmark's
    // report.
    std::size_t lastDrawnOverlayCount() const { return m_lastDrawnOverlayCount; }

private:
    struct CacheKey {
        MapRect visible;
        QSize size;
        const void* overlayStorage { nullptr };
        std::size_t overlayCount { 0 };
        qreal devicePixelRatio { 1 };
        std::uint64_t generation { 0 };
        bool operator==(const CacheKey& other) const
        {
            return visible.x == other.visible.x && visible.y == other.visible.y
                && visible.width == other.visible.width && visible.height == other.visible.height
                && size == other.size && overlayStorage == other.overlayStorage
                && overlayCount == other.overlayCount && devicePixelRatio == other.devicePixelRatio
                && generation == other.generation;
        }
    };

    // Beyond this many overlays in view, lines are drawn at most a pixel wide.
    static constexpr std::size_t manyOverlays = 1000;
    // A full redraw paints runs of overlays in parallel, at most this many, each of at
    // least minimumOverlaysPerRun overlays (fewer are not worth a thread and an image).
    static constexpr std::size_t maximumRuns = 4;
    static constexpr std::size_t minimumOverlaysPerRun = 32;

    void renderOverlays(const CacheKey& key, const MapOverlays& overlays, const StyleAt& styleAt);
    // Reuses the overlay image after a move by whole pixels, drawing only the strips the
    // move uncovered. False when the change is not such a move.
    bool scrollOverlays(const CacheKey& key, const MapOverlays& overlays, const StyleAt& styleAt);
    // The part of the plane whose overlays may show in area (pixels of the painting
    // area), with a margin for the strokes.
    static MapRect cullingRect(QSize size, const MapRect& visible, const QRect& area);
    std::vector<std::size_t> cullOverlays(QSize size, const MapRect& visible, const MapOverlays& overlays,
        const QRect& area) const;
    // Draws the overlays meeting area (pixels of the painting area), clipped to it; how
    // many.
    std::size_t paintOverlays(QPainter& painter, QSize size, const MapRect& visible, const MapOverlays& overlays,
        const StyleAt& styleAt, const QRect& area) const;
    // Draws those of candidates (indices into overlays, styles[i] for candidates[i]) that
    // meet area, clipped to it. Touches nothing of this painter but reads, so several
    // images may be painted at once on several threads.
    void paintOverlays(QPainter& painter, QSize size, const MapRect& visible, const MapOverlays& overlays,
        const std::vector<std::size_t>& candidates, const std::vector<MapOverlayStyle>& styles,
        const QRect& area) const;

    QImage m_overlayImage;
    QImage m_spareImage;
    CacheKey m_overlayKey;
    bool m_overlayImageValid { false };
    bool m_thinLines { false };
    std::uint64_t m_generation { 0 };
    std::size_t m_lastDrawnOverlayCount { 0 };
};

// The points in the painting area's pixels, without those closer than half a pixel to
// the last one kept: at low zoom most of a detailed outline falls within one pixel. The
// last point is always kept, so that a line still ends where it should.
void mapPointsToPixels(const std::vector<MapPoint>& points, QSize size, const MapRect& visible, std::vector<QPointF>& out);

// The scale bar's length: the longest of 1, 2 or 5 times a power of ten metres that
// fits in maximumPixels, for metresPerPixel. Its length in pixels is the result divided
// by metresPerPixel.
double scaleBarMetres(double metresPerPixel, double maximumPixels);

// The graticule's spacing in degrees for a view that shows degreesPerPixel: 1, 5, 10
// or 30, the finest that keeps the lines at least minimumPixels apart.
double graticuleStep(double degreesPerPixel, double minimumPixels);

} // namespace corvex
