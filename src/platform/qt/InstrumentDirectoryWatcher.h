#pragma once

#include "platform/Discovery.h"

#include <memory>
#include <set>
#include <string>

class QFileSystemWatcher;

namespace corvex {

class LogSink;

// Virtual instruments: every entry of one folder (a tty node, or a symlink to one) is
// a plugged-in instrument, and its disappearance is its removal. The entry's own path
// is the callout path, not the symlink's target, so that the removal names the same
// path as the arrival. A symlink whose target has gone is still reported: opening it
// then fails and the user gets the usual alert, which says more than silence would.
// Names starting with a dot are left alone, so a publisher can prepare an entry
// under a hidden name and rename it into place.
class InstrumentDirectoryWatcher final : public SerialDeviceDiscovery {
public:
    // log may be null; it receives a line when the folder cannot be created or watched.
    explicit InstrumentDirectoryWatcher(std::string directory, LogSink* log = nullptr);
    ~InstrumentDirectoryWatcher() override;
    InstrumentDirectoryWatcher(const InstrumentDirectoryWatcher&) = delete;
    InstrumentDirectoryWatcher& operator=(const InstrumentDirectoryWatcher&) = delete;

    // Creates the folder (mode 0700) when it is missing, so that it can be watched.
    void start(Matched matched, Terminated terminated) override;

    const std::string& directory() const { return m_directory; }

private:
    void directoryChanged();
    void rescan();
    std::set<std::string> currentEntries() const;
    void watchDirectory();

    std::string m_directory;
    LogSink* m_log;
    std::unique_ptr<QFileSystemWatcher> m_watcher;
    Matched m_matched;
    Terminated m_terminated;
    std::set<std::string> m_reportedNames;
    bool m_scanning { false };
    bool m_rescanRequested { false };
};

} // namespace corvex
