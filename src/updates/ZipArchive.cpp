#include "updates/ZipArchive.h"

#include "base/Format.h"

#include <zip.h>

#include "platform/OperationContext.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>
#include <utility>

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


std::string inQuotes(const std::string& name)
{
    return "\"" + name + "\"";
}

// The entry's name as a relative path of plain components, or why it is refused.
Result<std::vector<std::string>, std::string> normalisedName(const std::string& name)
{
    if (name.empty() || name.front() == '/' || name.front() == '\\')
        return Failure<std::string> { "the entry " + inQuotes(name) + " has an absolute path" };
    if (name.size() > maximumZipEntryPathLength)
        return Failure<std::string> { formatString("the entry %s... has a path longer than %zu bytes",
            inQuotes(name.substr(0, 64)).c_str(), maximumZipEntryPathLength) };
    std::vector<std::string> components;
    for (std::string& component : splitComponents(name)) {
        if (component == "..")
            return Failure<std::string> { "the entry " + inQuotes(name) + " leaves the target folder" };
        if (component.size() > maximumZipEntryComponentLength)
            return Failure<std::string> { formatString("the entry %s has a name longer than %zu bytes",
                inQuotes(name.substr(0, 64)).c_str(), maximumZipEntryComponentLength) };
        if (!component.empty() && component != ".")
            components.push_back(std::move(component));
    }
    if (components.empty())
        return Failure<std::string> { "the entry " + inQuotes(name) + " names no file" };
    return components;
}

Result<std::string, std::string> readLinkTarget(zip_t* archive, zip_uint64_t index, std::uint64_t size, const std::string& name)
{
    if (size == 0 || size > maximumLinkTargetLength)
        return Failure<std::string> { "the link " + inQuotes(name) + " has an unusable target" };
    EntryHandle file(zip_fopen_index(archive, index, 0));
    if (!file)
        return Failure<std::string> { "the link " + inQuotes(name) + " cannot be read" };
    std::string target(size, '\0');
    if (zip_fread(file.get(), target.data(), size) != static_cast<zip_int64_t>(size))
        return Failure<std::string> { "the link " + inQuotes(name) + " cannot be read" };
    if (target.find('\0') != std::string::npos)
        return Failure<std::string> { "the link " + inQuotes(name) + " has an unusable target" };
    return target;
}

// Every path of the archive as a tree of components, so that each name is looked at
// once: finding a folder's child hashes one component, never the whole path above it.
// Folders that no entry lists (made on the way) are nodes without an entry.
class PathTree {
public:
    static constexpr std::uint32_t root = 0;
    static constexpr std::uint32_t none = UINT32_MAX;

    struct Node {
        std::uint32_t parent { none };
        std::string name;
        std::optional<ZipEntryKind> kind; // none: a folder no entry lists
        bool hasChildren { false };
        bool made { false }; // the folder exists in the target
    };

    PathTree() { m_nodes.push_back(Node { none, {}, ZipEntryKind::Folder, false, true }); }

    const Node& node(std::uint32_t index) const { return m_nodes[index]; }
    Node& node(std::uint32_t index) { return m_nodes[index]; }

    std::uint32_t child(std::uint32_t parent, const std::string& name) const
    {
        const auto found = m_children.find(key(parent, name));
        return found == m_children.end() ? none : found->second;
    }

    std::uint32_t addChild(std::uint32_t parent, const std::string& name)
    {
        const auto index = static_cast<std::uint32_t>(m_nodes.size());
        m_nodes.push_back(Node { parent, name, std::nullopt, false, false });
        m_nodes[parent].hasChildren = true;
        m_children.emplace(key(parent, name), index);
        return index;
    }

    // The node's path below the root, built by walking up once.
    std::string path(std::uint32_t index) const
    {
        std::vector<const std::string*> names;
        for (; index != root; index = m_nodes[index].parent)
            names.push_back(&m_nodes[index].name);
        std::string path;
        for (auto name = names.rbegin(); name != names.rend(); ++name) {
            if (!path.empty())
                path.push_back('/');
            path += **name;
        }
        return path;
    }

private:
    static std::string key(std::uint32_t parent, const std::string& name)
    {
        std::string key(reinterpret_cast<const char*>(&parent), sizeof parent);
        return key += name;
    }

    std::vector<Node> m_nodes;
    std::unordered_map<std::string, std::uint32_t> m_children;
};

// Whether a link placed at `link` and pointing at `target` stays inside the target
// folder. The walk is textual, which is exact only while no step passes through another
// link of the archive, so such a step is refused too. Steps to names the archive does
// not hold lead to folders it does not hold either.
bool linkStaysInside(const PathTree& tree, std::uint32_t link, const std::string& target)
{
    if (target.empty() || target.front() == '/' || target.front() == '\\')
        return false;
    std::vector<std::uint32_t> position;
    for (std::uint32_t at = tree.node(link).parent; at != PathTree::root; at = tree.node(at).parent)
        position.push_back(at);
    std::reverse(position.begin(), position.end());
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
        const std::uint32_t here = position.empty() ? PathTree::root : position.back();
        const std::uint32_t next = here == PathTree::none ? PathTree::none : tree.child(here, step);
        const bool lastStep = i + 1 == steps.size();
        if (!lastStep && next != PathTree::none && tree.node(next).kind == ZipEntryKind::SymbolicLink)
            return false;
        position.push_back(next);
    }
    return true;
}

std::string libzipError(zip_t* archive)
{
    return zip_strerror(archive);
}

struct CheckedArchive {
    ZipListing listing;
    PathTree tree;
    std::vector<std::uint32_t> nodes; // of each entry
};

Result<CheckedArchive, std::string> listOpenArchive(zip_t* archive, const ZipLimits& limits)
{
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    if (count < 0)
        return Failure<std::string> { "the archive cannot be read" };
    if (static_cast<std::uint64_t>(count) > limits.maximumEntries)
        return Failure<std::string> { formatString("the archive holds %lld entries, more than %llu",
            static_cast<long long>(count), static_cast<unsigned long long>(limits.maximumEntries)) };

    CheckedArchive checked;
    ZipListing& listing = checked.listing;
    PathTree& tree = checked.tree;
    std::uint64_t folders = 0; // nodes of the tree: entries and folders made on the way
    for (zip_uint64_t index = 0; index < static_cast<zip_uint64_t>(count); ++index) {
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (zip_stat_index(archive, index, 0, &stat) != 0 || !(stat.valid & ZIP_STAT_NAME) || !(stat.valid & ZIP_STAT_SIZE))
            return Failure<std::string> { "an entry cannot be read: " + libzipError(archive) };
        const std::string name = stat.name;
        if ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE)
            return Failure<std::string> { "the entry " + inQuotes(name) + " is encrypted" };

        auto components = normalisedName(name);
        if (!components)
            return Failure<std::string> { components.error() };

        ZipEntry entry;
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
                    return Failure<std::string> { "the entry " + inQuotes(name) + " is both a folder and a link" };
                entry.kind = ZipEntryKind::SymbolicLink;
                break;
            default:
                return Failure<std::string> { "the entry " + inQuotes(name) + " is neither a file, a folder nor a link" };
            }
            if (mode & 0777)
                entry.permissions = mode & 0777;
        }
        // Nobody else may change the program (a world-writable bin/corvex-vario would
        // let any user of the computer run code as the next one to start it), and set-id
        // bits never come from a download. The owner can always read, replace and remove
        // what an update put there, so a later update can move the folder aside.
        entry.permissions &= ~static_cast<unsigned>(S_IWGRP | S_IWOTH);
        entry.permissions |= entry.kind == ZipEntryKind::File ? 0600u : 0700u;
        if (entry.kind == ZipEntryKind::Folder)
            entry.size = 0;

        // The entry's place in the tree: every folder above it must be a folder.
        std::uint32_t node = PathTree::root;
        for (std::size_t i = 0; i < components->size(); ++i) {
            const bool last = i + 1 == components->size();
            const std::string& component = (*components)[i];
            const std::uint32_t existing = tree.child(node, component);
            if (existing == PathTree::none) {
                // Folders made on the way cost the disk as much as listed entries.
                if (++folders > limits.maximumEntries)
                    return Failure<std::string> { formatString("the archive makes more than %llu files and folders",
                        static_cast<unsigned long long>(limits.maximumEntries)) };
                node = tree.addChild(node, component);
                continue;
            }
            node = existing;
            const auto kind = tree.node(node).kind;
            if (!last && kind && *kind != ZipEntryKind::Folder)
                return Failure<std::string> { "the entry " + inQuotes(name)
                    + (*kind == ZipEntryKind::SymbolicLink ? " lies behind a link" : " lies below a file") };
        }
        PathTree::Node& placed = tree.node(node);
        entry.path = tree.path(node);
        if (placed.kind)
            return Failure<std::string> { "the archive holds " + inQuotes(entry.path) + " twice" };
        // A folder made on the way for earlier entries may be listed later; anything
        // else there would hold those entries.
        if (placed.hasChildren && entry.kind != ZipEntryKind::Folder)
            return Failure<std::string> { "the archive holds entries "
                + std::string(entry.kind == ZipEntryKind::SymbolicLink ? "behind a link " : "below a file ") + inQuotes(entry.path) };
        placed.kind = entry.kind;

        if (entry.kind == ZipEntryKind::SymbolicLink) {
            auto target = readLinkTarget(archive, index, stat.size, name);
            if (!target)
                return Failure<std::string> { target.error() };
            entry.linkTarget = *target;
        }

        // Added without wrapping round: a zip64 entry may declare nearly 2^64 bytes.
        if (entry.size > limits.maximumTotalSize - listing.totalSize)
            return Failure<std::string> { formatString("the archive unpacks to more than %llu bytes",
                static_cast<unsigned long long>(limits.maximumTotalSize)) };
        listing.totalSize += entry.size;
        listing.entries.push_back(std::move(entry));
        checked.nodes.push_back(node);
    }

    // Only now is every link known: no link may point out.
    for (std::size_t i = 0; i < listing.entries.size(); ++i) {
        const ZipEntry& entry = listing.entries[i];
        if (entry.kind == ZipEntryKind::SymbolicLink && !linkStaysInside(tree, checked.nodes[i], entry.linkTarget))
            return Failure<std::string> { "the link " + inQuotes(entry.path) + " points outside the target folder" };
    }
    return checked;
}

std::string systemError(const std::string& what, const std::string& path)
{
    return what + " " + inQuotes(path) + ": " + std::strerror(errno);
}

class Descriptor {
public:
    explicit Descriptor(int descriptor = -1)
        : m_descriptor(descriptor)
    {
    }
    Descriptor(Descriptor&& other) noexcept
        : m_descriptor(std::exchange(other.m_descriptor, -1))
    {
    }
    Descriptor& operator=(Descriptor&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_descriptor = std::exchange(other.m_descriptor, -1);
        }
        return *this;
    }
    ~Descriptor() { reset(); }
    int get() const { return m_descriptor; }
    int release() { return std::exchange(m_descriptor, -1); }
    bool valid() const { return m_descriptor >= 0; }
    void reset()
    {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
        m_descriptor = -1;
    }

private:
    int m_descriptor;
};

constexpr int folderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Writes the checked archive below one open folder. Folders are made once each
// (the tree remembers which exist) and always relative to their parent's descriptor,
// so neither the checks nor the kernel walk a path again for each level.
class Unpacker {
public:
    Unpacker(zip_t* archive, CheckedArchive& checked, int root, const std::string& rootPath, const OperationContext* context)
        : m_archive(archive)
        , m_checked(checked)
        , m_root(root)
        , m_rootPath(rootPath)
        , m_context(context)
    {
    }

    Result<void, std::string> run()
    {
        const auto& entries = m_checked.listing.entries;
        std::vector<std::size_t> folders;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const ZipEntry& entry = entries[i];
            const std::uint32_t node = m_checked.nodes[i];
            if (entry.kind == ZipEntryKind::Folder) {
                if (auto made = folder(node); !made)
                    return Failure<std::string> { made.error() };
                folders.push_back(i);
            } else if (entry.kind == ZipEntryKind::File) {
                auto parent = folder(m_checked.tree.node(node).parent);
                if (!parent)
                    return Failure<std::string> { parent.error() };
                if (auto written = writeFile(i, *parent); !written)
                    return written;
            }
        }
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const ZipEntry& entry = entries[i];
            if (entry.kind != ZipEntryKind::SymbolicLink)
                continue;
            const std::uint32_t node = m_checked.nodes[i];
            auto parent = folder(m_checked.tree.node(node).parent);
            if (!parent)
                return Failure<std::string> { parent.error() };
            if (::symlinkat(entry.linkTarget.c_str(), *parent, m_checked.tree.node(node).name.c_str()) != 0)
                return Failure<std::string> { systemError("cannot make the link", fullPath(entry.path)) };
            noteMade(m_checked.tree.node(node).parent, node);
        }
        // Listed folders stay writable for the owner while their contents are written;
        // their own permissions are set at the end, deepest first.
        m_current.reset();
        std::sort(folders.begin(), folders.end(), [&](std::size_t a, std::size_t b) { return entries[a].path > entries[b].path; });
        for (const std::size_t i : folders) {
            if (::fchmodat(m_root, entries[i].path.c_str(), entries[i].permissions, 0) != 0)
                return Failure<std::string> { systemError("cannot set the permissions of", fullPath(entries[i].path)) };
        }
        return {};
    }

    // Removes what this unpacking made, newest first.
    void removeMade()
    {
        m_current.reset();
        for (auto made = m_made.rbegin(); made != m_made.rend(); ++made) {
            std::error_code error;
            std::filesystem::remove_all(fullPath(*made), error);
        }
    }

private:
    std::string fullPath(const std::string& path) const { return m_rootPath + "/" + path; }

    // The first node made below a folder that was there before is all a clean-up needs.
    void noteMade(std::uint32_t parent, std::uint32_t node)
    {
        if (!m_madeHere.contains(parent))
            m_made.push_back(m_checked.tree.path(node));
        m_madeHere.insert(node);
    }

    // The open folder of a node, made with every folder above it when missing; the
    // descriptor stays open for the next entry of the same folder.
    Result<int, std::string> folder(std::uint32_t node)
    {
        if (m_current.valid() && m_currentNode == node)
            return m_current.get();
        PathTree& tree = m_checked.tree;
        std::vector<std::uint32_t> missing;
        std::uint32_t existing = node;
        for (; !tree.node(existing).made; existing = tree.node(existing).parent)
            missing.push_back(existing);
        // Going deeper from the folder open last needs no walk from the top.
        Descriptor open;
        if (m_current.valid() && m_currentNode == existing)
            open = std::move(m_current);
        else if (existing == PathTree::root)
            open = Descriptor(::fcntl(m_root, F_DUPFD_CLOEXEC, 0));
        else
            open = Descriptor(::openat(m_root, tree.path(existing).c_str(), folderFlags));
        m_current.reset();
        if (!open.valid())
            return Failure<std::string> { systemError("cannot open the folder", fullPath(tree.path(existing))) };
        for (auto next = missing.rbegin(); next != missing.rend(); ++next) {
            const std::string& name = tree.node(*next).name;
            // A folder the archive does not list gets what unzip gives it: 0755 under
            // the user's umask. Listed folders get their own permissions at the end.
            const bool made = ::mkdirat(open.get(), name.c_str(), 0755) == 0;
            if (!made && errno != EEXIST)
                return Failure<std::string> { systemError("cannot make the folder", fullPath(tree.path(*next))) };
            // An existing one must be a real folder, never a link.
            Descriptor child(::openat(open.get(), name.c_str(), folderFlags));
            if (!child.valid())
                return Failure<std::string> { "cannot make the folder " + inQuotes(fullPath(tree.path(*next))) + ": something else is there" };
            if (made)
                noteMade(tree.node(*next).parent, *next);
            tree.node(*next).made = true;
            open = std::move(child);
        }
        m_current = std::move(open);
        m_currentNode = node;
        return m_current.get();
    }

    Result<void, std::string> writeFile(std::size_t index, int parent)
    {
        const ZipEntry& entry = m_checked.listing.entries[index];
        const std::uint32_t node = m_checked.nodes[index];
        const std::string path = fullPath(entry.path);
        EntryHandle source(zip_fopen_index(m_archive, index, 0));
        if (!source)
            return Failure<std::string> { "cannot read the entry " + inQuotes(entry.path) + ": " + libzipError(m_archive) };
        // O_EXCL and O_NOFOLLOW: never write through something that is already there.
        const int created = ::openat(parent, m_checked.tree.node(node).name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (created < 0)
            return Failure<std::string> { systemError("cannot create", path) };
        Descriptor descriptor(created);
        noteMade(m_checked.tree.node(node).parent, node);
        std::uint64_t written = 0;
        char buffer[65536];
        for (;;) {
            if (m_context && m_context->isCancelled())
                return Failure<std::string> { "the unpacking was cancelled" };
            const zip_int64_t got = zip_fread(source.get(), buffer, sizeof buffer);
            if (got < 0)
                return Failure<std::string> { "cannot unpack the entry " + inQuotes(entry.path) + ": " + zip_file_strerror(source.get()) };
            if (got == 0)
                break;
            // Never more than the entry declared: the declared sizes are what was
            // checked against the limits and the free space.
            if (static_cast<std::uint64_t>(got) > entry.size - written)
                return Failure<std::string> { "the entry " + inQuotes(entry.path) + " is larger than the archive says" };
            written += static_cast<std::uint64_t>(got);
            for (zip_int64_t offset = 0; offset < got;) {
                const ssize_t done = ::write(descriptor.get(), buffer + offset, static_cast<std::size_t>(got - offset));
                if (done < 0 && errno == EINTR)
                    continue;
                if (done <= 0)
                    return Failure<std::string> { systemError("cannot write", path) };
                offset += done;
            }
            reportProgress(static_cast<std::uint64_t>(got));
        }
        if (written != entry.size)
            return Failure<std::string> { "the entry " + inQuotes(entry.path) + " is shorter than the archive says" };
        if (::fchmod(descriptor.get(), entry.permissions) != 0)
            return Failure<std::string> { systemError("cannot set the permissions of", path) };
        if (::close(descriptor.release()) != 0)
            return Failure<std::string> { systemError("cannot write", path) };
        return {};
    }

    void reportProgress(std::uint64_t bytes)
    {
        m_written += bytes;
        const std::uint64_t total = m_checked.listing.totalSize;
        // About every megabyte: often enough for a bar, rarely enough to cost nothing.
        if (!m_context || total == 0 || (m_written - m_reported < (1u << 20) && m_written != total))
            return;
        m_reported = m_written;
        m_context->progress(static_cast<double>(m_written) / static_cast<double>(total));
    }

    zip_t* m_archive;
    CheckedArchive& m_checked;
    int m_root;
    const std::string& m_rootPath;
    const OperationContext* m_context;
    Descriptor m_current;
    std::uint32_t m_currentNode { PathTree::none };
    std::vector<std::string> m_made;
    std::unordered_set<std::uint32_t> m_madeHere;
    std::uint64_t m_written { 0 };
    std::uint64_t m_reported { 0 };
};

// Refuses an archive that would not fit: its bytes (each file may round up to a whole
// block) and its entries against what the file system has free for the user.
Result<void, std::string> checkFreeSpace(int folder, const std::string& path, const ZipListing& listing)
{
    struct statvfs space;
    if (::fstatvfs(folder, &space) != 0)
        return Failure<std::string> { systemError("cannot tell the free space of", path) };
    const std::uint64_t block = space.f_frsize ? space.f_frsize : space.f_bsize;
    const std::uint64_t entries = listing.entries.size();
    const std::uint64_t available = static_cast<std::uint64_t>(space.f_bavail) * block;
    const std::uint64_t needed = listing.totalSize + entries * block;
    if (needed > available)
        return Failure<std::string> { formatString("the archive unpacks to %llu bytes, more than the %llu bytes free in %s",
            static_cast<unsigned long long>(needed), static_cast<unsigned long long>(available), inQuotes(path).c_str()) };
    // A file system without a count of files (f_files 0) has no limit on them.
    if (space.f_files != 0 && entries > space.f_favail)
        return Failure<std::string> { formatString("the archive holds %llu entries, more than the %llu files %s can still take",
            static_cast<unsigned long long>(entries), static_cast<unsigned long long>(space.f_favail), inQuotes(path).c_str()) };
    return {};
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
    auto checked = listOpenArchive(archive.get(), limits);
    if (!checked)
        return Failure<std::string> { checked.error() };
    return std::move(checked->listing);
}

Result<ZipListing, std::string> extractZipArchive(
    const std::string& archivePath, const std::string& targetFolder, const ZipLimits& limits, const OperationContext* context)
{
    int error = 0;
    ArchiveHandle archive(zip_open(archivePath.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error));
    if (!archive)
        return listZipArchive(archivePath, limits);
    auto checked = listOpenArchive(archive.get(), limits);
    if (!checked)
        return Failure<std::string> { checked.error() };

    Descriptor root(::open(targetFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!root.valid())
        return Failure<std::string> { "the target folder " + inQuotes(targetFolder) + " does not exist" };
    if (auto fits = checkFreeSpace(root.get(), targetFolder, checked->listing); !fits)
        return Failure<std::string> { fits.error() };

    Unpacker unpacker(archive.get(), *checked, root.get(), targetFolder, context);
    if (auto unpacked = unpacker.run(); !unpacked) {
        unpacker.removeMade();
        return Failure<std::string> { unpacked.error() };
    }
    if (context)
        context->progress(1.0);
    return std::move(checked->listing);
}

} // namespace corvex
