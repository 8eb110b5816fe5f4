#pragma once

#include "base/Result.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace corvex {

class OperationContext;

// Unpacking a downloaded update archive. The archive comes from the network, so it is
// read twice: every entry is listed and checked first, and the whole archive is
// refused, before anything is written, when one entry could land outside the target
// folder or could exhaust the disk.
struct ZipLimits {
    // The program folder is a few tens of megabytes. The working folder usually sits
    // in $XDG_RUNTIME_DIR, a tmpfs in memory limited to a slice of RAM, and a few
    // hundred bytes of deflate stream can claim gigabytes: the declared sizes are
    // added up and checked before unpacking, and each entry is cut off at its declared
    // size while it is written. The sum is also held against the space free in the
    // target folder before anything is written.
    std::uint64_t maximumTotalSize { std::uint64_t { 1 } << 30 };
    std::uint64_t maximumEntries { 100000 };
};

// What the kernel takes: a longer name cannot be made, and refusing it while listing
// keeps every check linear in the length of the names.
constexpr std::size_t maximumZipEntryPathLength = 4095;
constexpr std::size_t maximumZipEntryComponentLength = 255;

enum class ZipEntryKind {
    File,
    Folder,
    SymbolicLink,
};

// One entry as it will be written: its path relative to the target folder (no "." or
// empty components, no trailing slash), its kind, its permission bits and, for a link,
// where it points.
struct ZipEntry {
    std::string path;
    ZipEntryKind kind { ZipEntryKind::File };
    unsigned permissions { 0644 };
    std::uint64_t size { 0 };
    std::string linkTarget;
};

struct ZipListing {
    std::vector<ZipEntry> entries;
    std::uint64_t totalSize { 0 };
};

// Lists and checks every entry of the archive; the text says why it is refused.
Result<ZipListing, std::string> listZipArchive(const std::string& archivePath, const ZipLimits& limits = {});

// Lists and checks the archive, then unpacks it into an existing folder: folders are
// made, files keep their permission bits (an executable stays executable) without the
// set-id and sticky bits and without write rights for the group and others, links are
// made last. Nothing existing is overwritten. On failure the text says why, and
// whatever this call made in the folder is removed again.
//
// The context, when given, receives the share of the bytes written and is asked
// between blocks whether to stop; it is used from the calling thread only.
Result<ZipListing, std::string> extractZipArchive(const std::string& archivePath, const std::string& targetFolder,
    const ZipLimits& limits = {}, const OperationContext* context = nullptr);

} // namespace corvex
