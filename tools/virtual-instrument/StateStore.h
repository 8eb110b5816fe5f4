#pragma once

#include "base/Bytes.h"

#include <map>
#include <optional>
#include <string>

namespace corvex::virtualinstrument {

// What the instrument keeps across power cycles: one small file per item in the state
// folder, written atomically (a new file renamed over the old one) so a killed
// instrument never leaves half an item. Without a folder everything stays in memory.
class StateStore {
public:
    explicit StateStore(std::string folder = {});

    const std::string& folder() const { return m_folder; }

    std::optional<Bytes> item(const std::string& name) const;
    bool setItem(const std::string& name, ByteView contents);
    bool removeItem(const std::string& name);

private:
    std::string m_folder;
    std::map<std::string, Bytes> m_memory; // used when there is no folder
};

} // namespace corvex::virtualinstrument
