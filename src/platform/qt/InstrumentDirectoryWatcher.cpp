#include "platform/qt/InstrumentDirectoryWatcher.h"

#include "platform/InstrumentDirectory.h"
#include "platform/LogSink.h"

#include <QFileSystemWatcher>
#include <QString>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <system_error>
#include <vector>

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

std::set<std::string> InstrumentDirectoryWatcher::currentEntries() const
{
    std::set<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator it(m_directory, error), end; !error && it != end; it.increment(error)) {
        std::string name = it->path().filename().string();
        if (!name.starts_with('.'))
            names.insert(std::move(name));
    }
    return names;
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
        std::set<std::string> now = currentEntries();
        std::vector<std::string> gone;
        std::vector<std::string> arrived;
        std::set_difference(m_reportedNames.begin(), m_reportedNames.end(), now.begin(), now.end(), std::back_inserter(gone));
        std::set_difference(now.begin(), now.end(), m_reportedNames.begin(), m_reportedNames.end(), std::back_inserter(arrived));
        m_reportedNames = std::move(now);
        // Removals first: an instrument replaced under a new name is closed before the
        // new one is opened.
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
