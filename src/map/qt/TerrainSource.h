#pragma once

#include <QObject>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace corvex {

namespace terrain {
class TerrainTiles;
}

// The program's one set of terrain tiles, shared by its windows: a folder's scan (every
// tile's header read through GDAL) is made on a thread of its own, and the windows are
// told when the tiles are at hand or when another folder replaced them. The tiles'
// posts are read on their first lookup, wherever that is.
class TerrainSource final : public QObject {
    Q_OBJECT
public:
    explicit TerrainSource(QObject* parent = nullptr);
    ~TerrainSource() override;

    // Scans the folder beside the calling thread; nothing (or an empty folder name)
    // drops the terrain at once. The folder already chosen does nothing.
    void setFolder(std::optional<std::string> folder);
    const std::optional<std::string>& folder() const { return m_folder; }
    // Null without a folder and until its scan has ended.
    std::shared_ptr<const terrain::TerrainTiles> tiles() const { return m_tiles; }
    bool isLoading() const { return m_loading; }

    // The source the windows use, which the program makes at its start; null in a
    // program (or a test) without one.
    static TerrainSource* program();
    static void setProgram(TerrainSource* source);

signals:
    // The tiles came, or went.
    void tilesChanged();

private:
    std::optional<std::string> m_folder;
    std::shared_ptr<const terrain::TerrainTiles> m_tiles;
    bool m_loading { false };
    std::uint64_t m_generation { 0 };
    std::thread m_scan;
};

} // namespace corvex
