#include "StateStore.h"

#include "base/FileRead.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace corvex::virtualinstrument {

StateStore::StateStore(std::string folder)
    : m_folder(std::move(folder))
{
    if (!m_folder.empty()) {
        std::error_code error;
        std::filesystem::create_directories(m_folder, error);
    }
}

std::optional<Bytes> StateStore::item(const std::string& name) const
{
    if (m_folder.empty()) {
        auto it = m_memory.find(name);
        if (it == m_memory.end())
            return std::nullopt;
        return it->second;
    }
    const auto contents = readFileWhole(m_folder + "/" + name, FileKind::InstrumentState);
    if (!contents)
        return std::nullopt;
    return Bytes(contents->begin(), contents->end());
}

bool StateStore::setItem(const std::string& name, ByteView contents)
{
    if (m_folder.empty()) {
        m_memory[name] = Bytes(contents.begin(), contents.end());
        return true;
    }
    std::string path = m_folder + "/" + name;
    std::string temporary = path + ".new";
    {
        std::ofstream stream(temporary, std::ios::binary | std::ios::trunc);
        if (!stream)
            return false;
        stream.write(reinterpret_cast<const char*>(contents.data()), static_cast<std::streamsize>(contents.size()));
        stream.flush();
        if (!stream)
            return false;
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

bool StateStore::removeItem(const std::string& name)
{
    if (m_folder.empty())
        return m_memory.erase(name) > 0;
    std::error_code error;
    return std::filesystem::remove(m_folder + "/" + name, error);
}

} // namespace corvex::virtualinstrument
