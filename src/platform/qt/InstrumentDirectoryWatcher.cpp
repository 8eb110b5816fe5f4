#include "platform/qt/InstrumentDirectoryWatcher.h"

#include "platform/InstrumentDirectory.h"
#include "platform/LogSink.h"

#include <QFileSystemWatcher>
#include <QString>

#include <filesystem>
#include <system_error>
#include <vector>

#include <sys/stat.h>

namespace corvex {

InstrumentDirectoryWatcher::InstrumentDirectoryWatcher(std::string directory, LogSink* log)
    : m_directory(std::move(directory))
    , m_log(log)
{
    while (m_directory.size() > 1 && m_directory.ends_with('/'))
        m_directory.pop_back();
}

InstrumentDirectoryWatcher::~InstrumentDirectoryWatcher() = default;

void InstrumentDirectoryWatcher::start(Matched matched, Terminated terminated)
{
    m_matched = std::move(matched);
    m_terminated = std::move(terminated);
    m_watcher = std::make_unique<QFileSystemWatcher>();
    QObject::connect(m_watcher.get(), &QFileSystemWatcher::directoryChanged, [this] { directoryChanged(); });
    watchDirectory();
    rescan();
}

void InstrumentDirectoryWatcher::watchDirectory()
{
    if (!ensurePrivateDirectory(m_directory)) {
        if (m_log)
            logLine(*m_log, "Cannot create the instruments folder %s", m_directory.c_str());
        return;
    }
    QString path = QString::fromStdString(m_directory);
    if (!m_watcher->directories().contains(path) && !m_watcher->addPath(path) && m_log)
        logLine(*m_log, "Cannot watch the instruments folder %s", m_directory.c_str());
}

void InstrumentDirectoryWatcher::directoryChanged()
{
    // The watch ends when the folder itself is removed (a cleaned runtime folder, say);
    // put it back so that later instruments are still seen.
    if (!m_watcher->directories().contains(QString::fromStdString(m_directory)))
        watchDirectory();
    rescan();
}

std::map<std::string, InstrumentDirectoryWatcher::EntryIdentity> InstrumentDirectoryWatcher::currentEntries() const
{
    std::map<std::string, EntryIdentity> entries;
    std::error_code error;
    for (std::filesystem::directory_iterator it(m_directory, error), end; !error && it != end; it.increment(error)) {
        std::string name = it->path().filename().string();
        if (name.starts_with('.'))
            continue;
        // The entry itself, not what a symlink points to: a new link to a reused pty
        // is still a new entry.
        struct stat status {};
        EntryIdentity identity;
        if (::lstat(it->path().c_str(), &status) == 0) {
            identity.device = static_cast<std::uint64_t>(status.st_dev);
            identity.inode = static_cast<std::uint64_t>(status.st_ino);
            // A tty node's times move with its traffic; a symlink's stay.
            if (S_ISLNK(status.st_mode))
                identity.changedNanoseconds = static_cast<std::int64_t>(status.st_ctim.tv_sec) * 1000000000 + status.st_ctim.tv_nsec;
        }
        entries.emplace(std::move(name), identity);
    }
    return entries;
}

void InstrumentDirectoryWatcher::rescan()
{
    // A callback may turn the event loop and bring another change here while the
    // previous one is being reported; that change is taken up afterwards, in order,
    // so a removal is never reported before the arrival it undoes.
    if (m_scanning) {
        m_rescanRequested = true;
        return;
    }
    m_scanning = true;
    do {
        m_rescanRequested = false;
        std::map<std::string, EntryIdentity> now = currentEntries();
        std::vector<std::string> gone;
        std::vector<std::string> arrived;
        for (const auto& [name, identity] : m_reportedEntries) {
            const auto current = now.find(name);
            if (current == now.end() || current->second != identity)
                gone.push_back(name);
        }
        for (const auto& [name, identity] : now) {
            const auto reported = m_reportedEntries.find(name);
            if (reported == m_reportedEntries.end() || reported->second != identity)
                arrived.push_back(name);
        }
        m_reportedEntries = std::move(now);
        // Removals first: an instrument replaced under a new name, or put back under
        // its old one, is closed before the new one is opened.
        for (const std::string& name : gone)
            m_terminated(m_directory + "/" + name);
        for (const std::string& name : arrived) {
            std::string path = m_directory + "/" + name;
            m_matched(path, registryHandleForPath(path));
        }
    } while (m_rescanRequested);
    m_scanning = false;
}

} // namespace corvex
