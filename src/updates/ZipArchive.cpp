#include "updates/ZipArchive.h"

#include "base/Format.h"

#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace corvex {

namespace {

// A link's target is a path; one longer than PATH_MAX cannot be made anyway.
constexpr std::uint64_t maximumLinkTargetLength = 4096;

struct ArchiveCloser {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
using ArchiveHandle = std::unique_ptr<zip_t, ArchiveCloser>;

struct EntryCloser {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};
using EntryHandle = std::unique_ptr<zip_file_t, EntryCloser>;

std::vector<std::string> splitComponents(const std::string& path)
{
    std::vector<std::string> components;
    std::string current;
    for (char c : path) {
        // Archives made on Windows may separate with backslashes, and some unpackers
        // follow them: a "..\" is as dangerous as a "../".
        if (c == '/' || c == '\\') {
            components.push_back(current);
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    components.push_back(current);
    return components;
}

std::string joined(const std::vector<std::string>& components, std::size_t count)
{
    std::string path;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0)
            path.push_back('/');
        path += components[i];
    }
    return path;
}

std::string quoted(const std::string& name)
{
    return "\"" + name + "\"";
}

// The entry's name as a relative path of plain components, or why it is refused.
Result<std::vector<std::string>, std::string> normalisedName(const std::string& name)
{
    if (name.empty() || name.front() == '/' || name.front() == '\\')
        return Failure<std::string> { "the entry " + quoted(name) + " has an absolute path" };
    std::vector<std::string> components;
    for (std::string& component : splitComponents(name)) {
        if (component == "..")
            return Failure<std::string> { "the entry " + quoted(name) + " leaves the target folder" };
        if (!component.empty() && component != ".")
            components.push_back(std::move(component));
    }
    if (components.empty())
        return Failure<std::string> { "the entry " + quoted(name) + " names no file" };
    return components;
}

Result<std::string, std::string> readLinkTarget(zip_t* archive, zip_uint64_t index, std::uint64_t size, const std::string& name)
{
    if (size == 0 || size > maximumLinkTargetLength)
        return Failure<std::string> { "the link " + quoted(name) + " has an unusable target" };
    EntryHandle file(zip_fopen_index(archive, index, 0));
    if (!file)
        return Failure<std::string> { "the link " + quoted(name) + " cannot be read" };
    std::string target(size, '\0');
    if (zip_fread(file.get(), target.data(), size) != static_cast<zip_int64_t>(size))
        return Failure<std::string> { "the link " + quoted(name) + " cannot be read" };
    if (target.find('\0') != std::string::npos)
        return Failure<std::string> { "the link " + quoted(name) + " has an unusable target" };
    return target;
}

// Whether a link placed at `linkPath` and pointing at `target` stays inside the target
// folder. The walk is textual, which is exact only while no step passes through another
// link of the archive, so such a step is refused too.
bool linkStaysInside(const std::string& linkPath, const std::string& target, const std::set<std::string>& links)
{
    if (target.empty() || target.front() == '/' || target.front() == '\\')
        return false;
    std::vector<std::string> position = splitComponents(linkPath);
    position.pop_back();
    const std::vector<std::string> steps = splitComponents(target);
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const std::string& step = steps[i];
        if (step.empty() || step == ".")
            continue;
        if (step == "..") {
            if (position.empty())
                return false;
            position.pop_back();
            continue;
        }
        position.push_back(step);
        const bool lastStep = i + 1 == steps.size();
        if (!lastStep && links.contains(joined(position, position.size())))
            return false;
    }
    return true;
}

std::string libzipError(zip_t* archive)
{
    return zip_strerror(archive);
}

Result<ZipListing, std::string> listOpenArchive(zip_t* archive, const ZipLimits& limits)
{
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    if (count < 0)
        return Failure<std::string> { "the archive cannot be read" };
    if (static_cast<std::uint64_t>(count) > limits.maximumEntries)
        return Failure<std::string> { formatString("the archive holds %lld entries, more than %llu",
            static_cast<long long>(count), static_cast<unsigned long long>(limits.maximumEntries)) };

    ZipListing listing;
    // Every path and the kind it was given, to find duplicates and entries below a
    // file or a link.
    std::map<std::string, ZipEntryKind> kinds;
    std::set<std::string> links;
    for (zip_uint64_t index = 0; index < static_cast<zip_uint64_t>(count); ++index) {
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (zip_stat_index(archive, index, 0, &stat) != 0 || !(stat.valid & ZIP_STAT_NAME) || !(stat.valid & ZIP_STAT_SIZE))
            return Failure<std::string> { "an entry cannot be read: " + libzipError(archive) };
        const std::string name = stat.name;
        if ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE)
            return Failure<std::string> { "the entry " + quoted(name) + " is encrypted" };

        auto components = normalisedName(name);
        if (!components)
            return Failure<std::string> { components.error() };

        ZipEntry entry;
        entry.path = joined(*components, components->size());
        entry.size = stat.size;
        const bool nameIsFolder = name.back() == '/' || name.back() == '\\';
        entry.kind = nameIsFolder ? ZipEntryKind::Folder : ZipEntryKind::File;
        entry.permissions = nameIsFolder ? 0755 : 0644;

        zip_uint8_t system = 0;
        zip_uint32_t attributes = 0;
        if (zip_file_get_external_attributes(archive, index, 0, &system, &attributes) == 0 && system == ZIP_OPSYS_UNIX) {
            const auto mode = static_cast<mode_t>(attributes >> 16);
            switch (mode & S_IFMT) {
            case 0: // only the permission bits were recorded
            case S_IFREG:
                break;
            case S_IFDIR:
                entry.kind = ZipEntryKind::Folder;
                break;
            case S_IFLNK:
                if (nameIsFolder)
                    return Failure<std::string> { "the entry " + quoted(name) + " is both a folder and a link" };
                entry.kind = ZipEntryKind::SymbolicLink;
                break;
            default:
                return Failure<std::string> { "the entry " + quoted(name) + " is neither a file, a folder nor a link" };
            }
            if (mode & 0777)
                entry.permissions = mode & 0777;
        }
        // The owner can always read, replace and remove what an update put there, so a
        // later update can move the folder aside and delete it.
        entry.permissions |= entry.kind == ZipEntryKind::File ? 0600u : 0700u;
        if (entry.kind == ZipEntryKind::Folder)
            entry.size = 0;

        if (entry.kind == ZipEntryKind::SymbolicLink) {
            auto target = readLinkTarget(archive, index, stat.size, name);
            if (!target)
                return Failure<std::string> { target.error() };
            entry.linkTarget = *target;
            links.insert(entry.path);
        }

        if (!kinds.emplace(entry.path, entry.kind).second)
            return Failure<std::string> { "the archive holds " + quoted(entry.path) + " twice" };

        listing.totalSize += entry.size;
        if (listing.totalSize > limits.maximumTotalSize)
            return Failure<std::string> { formatString("the archive unpacks to more than %llu bytes",
                static_cast<unsigned long long>(limits.maximumTotalSize)) };
        listing.entries.push_back(std::move(entry));
    }

    // Only now is every link known: no entry may lie below a link (writing it would
    // follow the link) or below a file, and no link may point out.
    for (const ZipEntry& entry : listing.entries) {
        const std::vector<std::string> components = splitComponents(entry.path);
        for (std::size_t length = 1; length < components.size(); ++length) {
            const auto parent = kinds.find(joined(components, length));
            if (parent == kinds.end() || parent->second == ZipEntryKind::Folder)
                continue;
            return Failure<std::string> { "the entry " + quoted(entry.path)
                + (parent->second == ZipEntryKind::SymbolicLink ? " lies behind a link" : " lies below a file") };
        }
        if (entry.kind == ZipEntryKind::SymbolicLink && !linkStaysInside(entry.path, entry.linkTarget, links))
            return Failure<std::string> { "the link " + quoted(entry.path) + " points outside the target folder" };
    }
    return listing;
}

std::string systemError(const std::string& what, const std::string& path)
{
    return what + " " + quoted(path) + ": " + std::strerror(errno);
}

// Makes every missing folder of `path` (relative to `root`); an existing one must be a
// real folder, never a link.
Result<void, std::string> makeFolders(const std::string& root, const std::vector<std::string>& components, std::size_t count)
{
    for (std::size_t length = 1; length <= count; ++length) {
        const std::string path = root + "/" + joined(components, length);
        struct stat existing;
        if (::lstat(path.c_str(), &existing) == 0) {
            if (!S_ISDIR(existing.st_mode))
                return Failure<std::string> { "cannot make the folder " + quoted(path) + ": something else is there" };
            continue;
        }
        if (::mkdir(path.c_str(), 0700) != 0)
            return Failure<std::string> { systemError("cannot make the folder", path) };
    }
    return {};
}

Result<void, std::string> writeFile(zip_t* archive, zip_uint64_t index, const ZipEntry& entry, const std::string& path)
{
    EntryHandle source(zip_fopen_index(archive, index, 0));
    if (!source)
        return Failure<std::string> { "cannot read the entry " + quoted(entry.path) + ": " + libzipError(archive) };
    // O_EXCL and O_NOFOLLOW: never write through something that is already there.
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (descriptor < 0)
        return Failure<std::string> { systemError("cannot create", path) };
    Result<void, std::string> outcome;
    std::uint64_t written = 0;
    char buffer[65536];
    for (;;) {
        const zip_int64_t got = zip_fread(source.get(), buffer, sizeof buffer);
        if (got < 0) {
            outcome = Failure<std::string> { "cannot unpack the entry " + quoted(entry.path) + ": " + zip_file_strerror(source.get()) };
            break;
        }
        if (got == 0)
            break;
        written += static_cast<std::uint64_t>(got);
        if (written > entry.size) {
            outcome = Failure<std::string> { "the entry " + quoted(entry.path) + " is larger than the archive says" };
            break;
        }
        for (zip_int64_t offset = 0; offset < got;) {
            const ssize_t done = ::write(descriptor, buffer + offset, static_cast<std::size_t>(got - offset));
            if (done < 0 && errno == EINTR)
                continue;
            if (done <= 0) {
                outcome = Failure<std::string> { systemError("cannot write", path) };
                break;
            }
            offset += done;
        }
        if (!outcome)
            break;
    }
    if (outcome && written != entry.size)
        outcome = Failure<std::string> { "the entry " + quoted(entry.path) + " is shorter than the archive says" };
    if (outcome && ::fchmod(descriptor, entry.permissions) != 0)
        outcome = Failure<std::string> { systemError("cannot set the permissions of", path) };
    if (::close(descriptor) != 0 && outcome)
        outcome = Failure<std::string> { systemError("cannot write", path) };
    return outcome;
}

} // namespace

Result<ZipListing, std::string> listZipArchive(const std::string& archivePath, const ZipLimits& limits)
{
    int error = 0;
    ArchiveHandle archive(zip_open(archivePath.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error));
    if (!archive) {
        // libzip itself refuses a central directory that names one entry twice.
        if (error == ZIP_ER_EXISTS)
            return Failure<std::string> { "the archive holds one name twice" };
        zip_error_t details;
        zip_error_init_with_code(&details, error);
        std::string reason = "the archive cannot be opened: ";
        reason += zip_error_strerror(&details);
        zip_error_fini(&details);
        return Failure<std::string> { reason };
    }
    return listOpenArchive(archive.get(), limits);
}

Result<ZipListing, std::string> extractZipArchive(const std::string& archivePath, const std::string& targetFolder, const ZipLimits& limits)
{
    int error = 0;
    ArchiveHandle archive(zip_open(archivePath.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error));
    if (!archive)
        return listZipArchive(archivePath, limits);
    auto listing = listOpenArchive(archive.get(), limits);
    if (!listing)
        return listing;

    struct stat target;
    if (::stat(targetFolder.c_str(), &target) != 0 || !S_ISDIR(target.st_mode))
        return Failure<std::string> { "the target folder " + quoted(targetFolder) + " does not exist" };

    // Folders stay writable for the owner while their contents are written; their own
    // permissions are set at the end, deepest first.
    std::vector<const ZipEntry*> folders;
    for (zip_uint64_t index = 0; index < listing->entries.size(); ++index) {
        const ZipEntry& entry = listing->entries[index];
        const std::vector<std::string> components = splitComponents(entry.path);
        const std::string path = targetFolder + "/" + entry.path;
        switch (entry.kind) {
        case ZipEntryKind::Folder:
            if (auto made = makeFolders(targetFolder, components, components.size()); !made)
                return Failure<std::string> { made.error() };
            folders.push_back(&entry);
            break;
        case ZipEntryKind::File: {
            if (auto made = makeFolders(targetFolder, components, components.size() - 1); !made)
                return Failure<std::string> { made.error() };
            if (auto written = writeFile(archive.get(), index, entry, path); !written)
                return Failure<std::string> { written.error() };
            break;
        }
        case ZipEntryKind::SymbolicLink:
            if (auto made = makeFolders(targetFolder, components, components.size() - 1); !made)
                return Failure<std::string> { made.error() };
            break;
        }
    }
    for (const ZipEntry& entry : listing->entries) {
        if (entry.kind != ZipEntryKind::SymbolicLink)
            continue;
        const std::string path = targetFolder + "/" + entry.path;
        if (::symlink(entry.linkTarget.c_str(), path.c_str()) != 0)
            return Failure<std::string> { systemError("cannot make the link", path) };
    }
    std::sort(folders.begin(), folders.end(), [](const ZipEntry* a, const ZipEntry* b) { return a->path > b->path; });
    for (const ZipEntry* folder : folders) {
        const std::string path = targetFolder + "/" + folder->path;
        if (::chmod(path.c_str(), folder->permissions) != 0)
            return Failure<std::string> { systemError("cannot set the permissions of", path) };
    }
    return listing;
}

} // namespace corvex
