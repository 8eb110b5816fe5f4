#pragma once

#include "platform/Discovery.h"

#include <cstdint>
#include <map>
#include <memory>
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
    // An entry put back under the same name between two scans (an instrument unplugged
    // and plugged in again while the event loop did not turn) is another file. Inode
    // numbers are reused at once, so a symlink is also told by its change time, which
    // nothing alters while it stays in place.
    struct EntryIdentity {
        std::uint64_t device { 0 };
        std::uint64_t inode { 0 };
        std::int64_t changedNanoseconds { 0 };
        bool operator==(const EntryIdentity&) const = default;
    };
    std::map<std::string, EntryIdentity> currentEntries() const;
    void watchDirectory();

    std::string m_directory;
    LogSink* m_log;
    std::unique_ptr<QFileSystemWatcher> m_watcher;
    Matched m_matched;
    Terminated m_terminated;
    std::map<std::string, EntryIdentity> m_reportedEntries;
    bool m_scanning { false };
    bool m_rescanRequested { false };
};

} // namespace corvex
