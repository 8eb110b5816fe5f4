#include "map/qt/TerrainSource.h"

#include "terrain/TerrainTiles.h"

#include <QMetaObject>

namespace corvex {

namespace {
TerrainSource* programSource = nullptr;
}

TerrainSource::TerrainSource(QObject* parent)
    : QObject(parent)
{
}

TerrainSource::~TerrainSource()
{
    if (programSource == this)
        programSource = nullptr;
    // A scan reads headers only: waiting for it is short, and nothing posts to a
    // source that is gone.
    if (m_scan.joinable())
        m_scan.join();
}

TerrainSource* TerrainSource::program() { return programSource; }
void TerrainSource::setProgram(TerrainSource* source) { programSource = source; }

void TerrainSource::setFolder(std::optional<std::string> folder)
{
    if (folder && folder->empty())
        folder.reset();
    if (folder == m_folder)
        return;
    m_folder = folder;
    const std::uint64_t generation = ++m_generation;
    const bool hadTiles = m_tiles != nullptr;
    m_tiles.reset();
    m_loading = folder.has_value();
    if (m_scan.joinable())
        m_scan.join();
    if (!folder) {
        if (hadTiles)
            emit tilesChanged();
        return;
    }
    if (hadTiles)
        emit tilesChanged();
    m_scan = std::thread([this, generation, path = *folder] {
        auto tiles = std::make_shared<const terrain::TerrainTiles>(path);
        QMetaObject::invokeMethod(
            this,
            [this, generation, tiles = std::move(tiles)]() mutable {
                // A later folder replaced this one while it was scanned.
                if (generation != m_generation)
                    return;
                m_loading = false;
                m_tiles = tiles->summary().tiles > 0 ? std::move(tiles) : nullptr;
                emit tilesChanged();
            },
            Qt::QueuedConnection);
    });
}

} // namespace corvex
