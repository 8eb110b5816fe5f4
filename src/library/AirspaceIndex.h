#pragma once

#include "library/LibraryError.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace corvex::library {

class FlightIndex;
class IndexDatabase;

// An OpenAir file the library keeps a copy of, once per content.
struct AirspaceFileRecord {
    std::int64_t id { 0 };
    std::string name; // the file's name when the user gave it
    std::string sha256;
    std::string file; // relative to the library folder
    std::int64_t kept { 0 }; // when it first came, UTC seconds
};

// Why the library kept it, each time: "converted" (setSha256: the set made from it),
// "checked" (a flight was checked against it), "uploaded" (the set made from it went
// onto the instrument with this serial at this time).
struct AirspaceUseRecord {
    std::int64_t fileId { 0 }; // 0: an upload of a set no kept file was made into
    std::string reason;
    std::int64_t time { 0 };
    std::string serial;
    std::string setSha256;
};

// The airspace archive's tables in the library's index (airspace_files, airspace_uses),
// over the connection of the flights' index: one file, one schema version.
class AirspaceIndex {
public:
    explicit AirspaceIndex(const FlightIndex& sharingWith);
    ~AirspaceIndex();

    LibraryResult<std::int64_t> insertFile(const AirspaceFileRecord& record);
    LibraryResult<void> insertUse(const AirspaceUseRecord& use);
    // NotFound when there is no such file.
    LibraryResult<AirspaceFileRecord> file(std::int64_t id) const;
    LibraryResult<AirspaceFileRecord> fileWithDigest(const std::string& sha256) const;
    // The file last converted into the set with this digest.
    LibraryResult<AirspaceFileRecord> fileConvertedInto(const std::string& setSha256) const;
    // The file whose set was last uploaded to this instrument at or before the time;
    // nothing when the last upload was of a set no kept file was made into.
    LibraryResult<std::optional<AirspaceFileRecord>> fileUploadedBy(const std::string& serial, std::int64_t time) const;
    LibraryResult<std::vector<AirspaceFileRecord>> files() const;
    // Oldest first.
    LibraryResult<std::vector<AirspaceUseRecord>> uses(std::int64_t fileId) const;

private:
    std::shared_ptr<IndexDatabase> m_database;
};

} // namespace corvex::library
