#pragma once

#include "map/qt/MapLayer.h"

#include <QImage>
#include <QSize>
#include <QTimer>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>

namespace corvex {

namespace terrain {
class TerrainTiles;
}

// The ground's relief as light and shade (the terrain room's hillshade), drawn
// half-transparent over the base map and under the content. Nothing without terrain,
// and nothing where no tile covers.
//
// The shading of a view costs a lookup of the ground per pixel, far more than a frame
// may: it is computed on a thread of its own once the view has settled (no move for
// settleMilliseconds), for the view's box and size, and kept. Meanwhile every paint
// draws the image kept, moved and scaled to where its box now lies, so a pan or a zoom
// costs one image draw.
class ReliefLayer final : public MapLayer {
    Q_OBJECT
public:
    static constexpr double opacity = 0.5;
    static constexpr int settleMilliseconds = 120;
    // Farther out than this, the relief would be the whole Alps in a few pixels and ask
    // for every tile of the folder: none is drawn.
    static constexpr double maximumMetresPerPixel = 1000;

    explicit ReliefLayer(QObject* parent = nullptr);
    ~ReliefLayer() override;

    // Null: no relief. Drops the image kept.
    void setTerrain(std::shared_ptr<const terrain::TerrainTiles> tiles);
    bool hasTerrain() const { return m_tiles != nullptr; }

    void paint(QPainter& painter, const MapViewport& viewport) override;
    // The tiles' box: the painter then draws the relief only in the copy of the world
    // that holds it, never in two copies one after the other (each would take the
    // other's view for a move).
    MapRect boundingMapRect() const override { return m_covered.value_or(MapRect::null()); }

    // Computes the shading of the viewport on the calling thread and keeps it, as the
    // settled view's would be (the tests, the benchmark, the screenshots).
    void prepare(const MapViewport& viewport);
    // Whether the image kept is the viewport's own.
    bool isPreparedFor(const MapViewport& viewport) const;
    bool isComputing() const { return m_computing; }
    // How many shadings were computed, for the tests and the benchmark.
    std::size_t computeCount() const { return m_computeCount; }

    // The relief of a view as a premultiplied ARGB image of its size: grey at the
    // layer's opacity where a tile covers, clear elsewhere. Reads the tiles only: any thread.
    static QImage shade(const terrain::TerrainTiles& tiles, const MapViewport& viewport);

signals:
    // A shading computed beside the window's thread was kept.
    void reliefReady();

private:
    struct Request {
        MapRect visible;
        QSize size;
    };
    bool wanted(const MapViewport& viewport) const;
    void startComputing();

    std::shared_ptr<const terrain::TerrainTiles> m_tiles;
    std::optional<MapRect> m_covered; // the tiles' box on the plane
    QImage m_image;
    MapRect m_imageRect;
    std::optional<Request> m_request; // the settled view still to compute
    QTimer m_settle;
    bool m_computing { false };
    std::uint64_t m_generation { 0 };
    std::size_t m_computeCount { 0 };
    std::thread m_worker;
};

} // namespace corvex
