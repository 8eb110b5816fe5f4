#pragma once

#include <zip.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace corvex::testing {

// One entry of a test archive: its raw name, its contents (a link's target for a
// link) and its unix mode, type bits included.
struct ZipTestEntry {
    std::string name;
    std::string contents;
    unsigned mode { S_IFREG | 0644 };
};

inline ZipTestEntry zipFolder(std::string name, unsigned permissions = 0755)
{
    return { std::move(name), {}, S_IFDIR | permissions };
}

inline ZipTestEntry zipLink(std::string name, std::string target)
{
    return { std::move(name), std::move(target), S_IFLNK | 0777 };
}

// Writes a zip archive with libzip. libzip itself refuses two entries of one name, so
// `renames` patches names in the finished bytes afterwards (same length only), which
// is how a hostile archive gets its duplicates.
inline bool writeZip(const std::string& path, const std::vector<ZipTestEntry>& entries,
    const std::vector<std::pair<std::string, std::string>>& renames = {})
{
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive)
        return false;
    for (const ZipTestEntry& entry : entries) {
        zip_int64_t index = -1;
        if ((entry.mode & S_IFMT) == S_IFDIR) {
            index = zip_dir_add(archive, entry.name.c_str(), ZIP_FL_ENC_UTF_8);
        } else {
            zip_source_t* source = zip_source_buffer(archive, entry.contents.data(), entry.contents.size(), 0);
            index = source ? zip_file_add(archive, entry.name.c_str(), source, ZIP_FL_ENC_UTF_8) : -1;
            if (index < 0 && source)
                zip_source_free(source);
        }
        if (index < 0 || zip_file_set_external_attributes(archive, static_cast<zip_uint64_t>(index), 0, ZIP_OPSYS_UNIX, entry.mode << 16) != 0) {
            zip_discard(archive);
            return false;
        }
    }
    if (zip_close(archive) != 0) {
        zip_discard(archive);
        return false;
    }
    if (renames.empty())
        return true;
    std::string bytes;
    {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    for (const auto& [from, to] : renames) {
        if (from.size() != to.size())
            return false;
        for (auto at = bytes.find(from); at != std::string::npos; at = bytes.find(from, at + to.size()))
            bytes.replace(at, from.size(), to);
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    return true;
}

// One stored entry of an archive written byte by byte, for sizes libzip will not write:
// `declaredSize` is the size the headers announce, whatever `contents` holds, and
// `zip64` records the sizes in the zip64 extra field (as an archive over 4 GiB must).
struct RawZipEntry {
    std::string name;
    std::string contents;
    std::uint64_t declaredSize;
    bool zip64 { false };
    unsigned mode { S_IFREG | 0644 };
};

inline bool writeRawZip(const std::string& path, const std::vector<RawZipEntry>& entries)
{
    const auto crc32 = [](const std::string& data) {
        std::uint32_t crc = 0xFFFFFFFFu;
        for (const unsigned char byte : data) {
            crc ^= byte;
            for (int bit = 0; bit < 8; ++bit)
                crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
        return ~crc;
    };
    const auto put = [](std::string& out, std::uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    };
    std::string archive;
    std::string directory;
    for (const RawZipEntry& entry : entries) {
        const std::uint64_t offset = archive.size();
        const std::uint32_t crc = crc32(entry.contents);
        const std::uint32_t size32 = entry.zip64 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(entry.declaredSize);
        const std::uint32_t stored32 = entry.zip64 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(entry.contents.size());
        std::string extra;
        if (entry.zip64) {
            put(extra, 0x0001 | (16 << 16), 4); // the zip64 field's id and length
            put(extra, entry.declaredSize, 8);
            put(extra, entry.contents.size(), 8);
        }
        // The fields both headers share: version 4.5, no flags, stored, 1980-01-01, the
        // CRC, the sizes and the lengths of the name and the extra field.
        const auto shared = [&](std::string& out) {
            for (const auto& [value, bytes] : { std::pair<std::uint64_t, int> { 45, 2 }, { 0, 2 }, { 0, 2 }, { 0, 2 }, { 0x21, 2 },
                     { crc, 4 }, { stored32, 4 }, { size32, 4 }, { entry.name.size(), 2 }, { extra.size(), 2 } })
                put(out, value, bytes);
        };
        put(archive, 0x04034b50, 4);
        shared(archive);
        archive += entry.name + extra + entry.contents;
        // The central header adds: made by unix, no comment, disk 0, the mode, the offset.
        put(directory, 0x02014b50, 4);
        put(directory, (3 << 8) | 45, 2);
        shared(directory);
        put(directory, 0, 6);
        put(directory, std::uint64_t { entry.mode } << 16, 4);
        put(directory, offset, 4);
        directory += entry.name + extra;
    }
    const std::uint64_t directoryOffset = archive.size();
    archive += directory;
    put(archive, 0x06054b50, 4);
    put(archive, 0, 4); // disks
    put(archive, entries.size(), 2);
    put(archive, entries.size(), 2);
    put(archive, directory.size(), 4);
    put(archive, directoryOffset, 4);
    put(archive, 0, 2);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << archive;
    return static_cast<bool>(out);
}

// Every path below `folder`, relative to it, sorted.
inline std::vector<std::string> filesBelow(const std::string& folder)
{
    std::vector<std::string> paths;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, error); !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error))
        paths.push_back(it->path().lexically_relative(folder).string());
    std::sort(paths.begin(), paths.end());
    return paths;
}

} // namespace corvex::testing
