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

// Every path below `folder`, relative to it, sorted.
inline std::vector<std::string> filesBelow(const std::string& folder)
{
    std::vector<std::string> paths;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, error); !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error))
        paths.push_back(std::filesystem::relative(it->path(), folder).string());
    std::sort(paths.begin(), paths.end());
    return paths;
}

} // namespace corvex::testing
