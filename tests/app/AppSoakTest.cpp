// Plugs and unplugs the virtual instrument many times under one running program: every
// arrival must fill the main window and every removal empty it, and what the program
// holds (descriptors, inotify watches, threads, QObjects, memory) must stay level. CI
// runs a short form; scripts/soak the long one (CORVEX_SOAK_CYCLES sets the count).
#include "AppTestSupport.h"
#include "VirtualInstrumentProcess.h"
#include "app/LevelIndicator.h"
#include "platform/qt/SystemDiscovery.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScopeGuard>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <unistd.h>

// Qt calls the functions in these slots for every QObject made and destroyed (the hooks
// that object inspectors use); slot 3 is the addition, slot 4 the removal.
extern quintptr Q_CORE_EXPORT qtHookData[];

using namespace corvex;
using namespace corvex::testing;

namespace {

constexpr int warmUpCycles = 3;
// About 0.2 s a cycle in the normal build.
constexpr int defaultCycles = 30;
// Qt's and glibc's own caches may settle by a descriptor or so after the warm-up.
constexpr std::size_t descriptorSlack = 2;
constexpr long rssGrowthLimitKb = 5 * 1024;
// Qt's network caches let go of a few objects minutes later, and may come back.
constexpr long objectSlack = 10;
constexpr long threadSlack = 2;

int soakCycles()
{
    const char* text = std::getenv("CORVEX_SOAK_CYCLES");
    const int cycles = text ? std::atoi(text) : 0;
    return cycles > 0 ? cycles : defaultCycles;
}

// Descriptor number -> what it is (file, socket:[...], anon_inode:inotify, ...).
std::map<int, std::string> openDescriptors()
{
    std::map<int, std::string> descriptors;
    const std::string ownListing = "/proc/" + std::to_string(::getpid()) + "/fd";
    std::error_code error;
    for (std::filesystem::directory_iterator it("/proc/self/fd", error), end; !error && it != end; it.increment(error)) {
        std::error_code unreadable;
        const std::string target = std::filesystem::read_symlink(it->path(), unreadable).string();
        if (target != ownListing) // the listing's own descriptor
            descriptors[std::atoi(it->path().filename().c_str())] = unreadable ? "?" : target;
    }
    return descriptors;
}

// Watches of every inotify descriptor: a discovery that re-adds its folder piles them up.
std::size_t inotifyWatches(const std::map<int, std::string>& descriptors)
{
    std::size_t watches = 0;
    for (const auto& [fd, target] : descriptors) {
        std::ifstream info("/proc/self/fdinfo/" + std::to_string(fd));
        for (std::string line; std::getline(info, line);)
            watches += line.starts_with("inotify wd:") ? 1 : 0;
    }
    return watches;
}

// Live QObjects of the whole process, counted from the moment the counter is made
// (nothing else in the tests sets these hooks).
class LiveObjects {
public:
    LiveObjects()
    {
        qtHookData[addSlot] = reinterpret_cast<quintptr>(+[](QObject*) { ++s_count; });
        qtHookData[removeSlot] = reinterpret_cast<quintptr>(+[](QObject*) { --s_count; });
    }
    ~LiveObjects() { qtHookData[addSlot] = qtHookData[removeSlot] = 0; }
    LiveObjects(const LiveObjects&) = delete;
    LiveObjects& operator=(const LiveObjects&) = delete;
    long count() const { return s_count.load(); }

private:
    static constexpr int addSlot = 3;
    static constexpr int removeSlot = 4;
    static inline std::atomic<long> s_count { 0 };
};

// A number field of /proc/self/status (kB for the sizes).
long statusValue(const char* field)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with(field))
            return std::atol(line.c_str() + std::string_view(field).size());
    return -1;
}

std::string leakedDescriptors(const std::map<int, std::string>& before, const std::map<int, std::string>& after)
{
    std::ostringstream text;
    for (const auto& [fd, target] : after)
        if (auto old = before.find(fd); old == before.end() || old->second != target)
            text << " " << fd << " -> " << target << "\n";
    return text.str();
}

// The window of a connected instrument (or of none): what is wrong with it, or nothing.
std::string windowFaults(AppHarness& app, bool connected, int flights)
{
    Ui::MainWindow& ui = app.ui();
    const LevelIndicator* battery = ui.batteryVoltageIndicator;
    const struct {
        bool good;
        const char* what;
    } checks[] = {
        { ui.serialLabel->text()
                == (connected ? "Serial Number: C0FFEE\nDevice Firmware: 2405" : "Device is not connected"),
            "serial label" },
        { ui.logEntriesCombo->count() == (connected ? 1 + flights : 0), "flight list" },
        { ui.logEntriesCombo->isEnabled() == connected && ui.downloadLogbookButton->isEnabled() == connected
                && ui.logTypeMatrix->isEnabled() == connected,
            "flight controls" },
        { (battery->doubleValue() > 0) == connected && battery->isEnabled() == connected, "battery" },
        { ui.editPilotDataButton->isHidden() != connected, "pilot-data button" },
        { ui.manageAirspacesMenuItem->isEnabled() == connected && ui.eraseLogBookMenuItem->isEnabled() == connected,
            "instrument menus" },
        { app.window.backgroundName() == (connected ? "CloudsBackground.tiff" : "CloudsBackgroundGrayscale.tiff"),
            "background" },
        { app.alerts.alerts.empty(), "alert" },
    };
    std::string faults;
    for (const auto& check : checks)
        faults += check.good ? "" : std::string(check.what) + "; ";
    return faults;
}

// What the window, the alerts and the cycle's log say, for a cycle that went wrong.
std::string sessionState(AppHarness& app, const CapturingLogSink& discoveryLog)
{
    std::string text = "serial label: " + app.ui().serialLabel->text().toStdString()
        + "\nflight list: " + std::to_string(app.ui().logEntriesCombo->count()) + " entries\n";
    for (const Alert& alert : app.alerts.alerts)
        text += "alert: " + alert.message + " / " + alert.informativeText + "\n";
    for (const CapturingLogSink* log : std::initializer_list<const CapturingLogSink*> { &app.log, &discoveryLog })
        for (const std::string& line : log->lines)
            text += "log: " + line + "\n";
    return text;
}

// What the process holds at one moment.
struct Holdings {
    static Holdings now(const LiveObjects& objects)
    {
        return { openDescriptors(), statusValue("VmRSS:"), statusValue("Threads:"),
            static_cast<long>(QApplication::allWidgets().size()), objects.count() };
    }
    std::size_t watches() const { return inotifyWatches(descriptors); }

    std::map<int, std::string> descriptors;
    long rssKb { 0 };
    long threads { 0 };
    long widgets { 0 };
    long objects { 0 };
};

TEST(AppSoak, PlugAndUnplugKeepTheWindowRightAndTheResourcesLevel)
{
    const int cycles = std::max(soakCycles(), warmUpCycles + 1);
    LiveObjects objects;
    VirtualInstrumentProcess instrument;
    ASSERT_TRUE(instrument.isRunning());
    // The later tests get the test program's own instruments folder back.
    const char* previous = std::getenv("CORVEX_INSTRUMENT_DIR");
    const std::string mainInstruments = previous ? previous : "";
    const auto restore = qScopeGuard([&] { setenv("CORVEX_INSTRUMENT_DIR", mainInstruments.c_str(), 1); });
    setenv("CORVEX_INSTRUMENT_DIR", instrument.instrumentsDirectory().c_str(), 1);
    CapturingLogSink discoveryLog;
    PosixSerialPortOpener ports;
    std::unique_ptr<SerialDeviceDiscovery> discovery = makeSystemDiscovery(discoveryLog);
    AppHarness app(ports, discovery.get());
    app.launch();
    Ui::MainWindow& ui = app.ui();
    ASSERT_GT(ui.logEntriesCombo->count(), 1);
    const int flights = ui.logEntriesCombo->count() - 1;
    const std::size_t descriptorsAtStart = openDescriptors().size();

    Holdings warm;
    long peakRssKb = 0;
    QElapsedTimer clock;
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        ASSERT_TRUE(instrument.unplug()) << "cycle " << cycle;
        ASSERT_TRUE(waitUntil([&] { return ui.serialLabel->text() == "Device is not connected"; }))
            << "cycle " << cycle << "\n" << sessionState(app, discoveryLog);
        ASSERT_EQ(windowFaults(app, false, flights), "")
            << "unplug of cycle " << cycle << "\n" << sessionState(app, discoveryLog);
        ASSERT_TRUE(instrument.plug()) << "cycle " << cycle;
        ASSERT_TRUE(waitUntil([&] { return ui.logEntriesCombo->count() > 1; }))
            << "cycle " << cycle << "\n" << sessionState(app, discoveryLog);
        ASSERT_EQ(windowFaults(app, true, flights), "")
            << "plug of cycle " << cycle << "\n" << sessionState(app, discoveryLog);
        // The harness keeps every log line; the program itself keeps none.
        app.log.lines.clear();
        discoveryLog.lines.clear();
        peakRssKb = std::max(peakRssKb, statusValue("VmRSS:"));
        if (cycle == warmUpCycles) {
            warm = Holdings::now(objects);
            clock.start();
        }
    }
    const double seconds = static_cast<double>(clock.elapsed()) / 1000;
    const Holdings end = Holdings::now(objects);

    std::printf("soak: %d cycles, %.1f s after the warm-up of %d (%.2f s a cycle)\n", cycles, seconds, warmUpCycles,
        seconds / (cycles - warmUpCycles));
    std::printf("soak: fds %zu at the start, %zu after the warm-up, %zu at the end; inotify watches %zu, then %zu\n",
        descriptorsAtStart, warm.descriptors.size(), end.descriptors.size(), warm.watches(), end.watches());
    std::printf("soak: RSS %.1f MB after the warm-up, %.1f MB at the end, %.1f MB peak; threads %ld, then %ld\n",
        warm.rssKb / 1024.0, end.rssKb / 1024.0, peakRssKb / 1024.0, warm.threads, end.threads);
    std::printf("soak: live QObjects %ld after the warm-up, %ld at the end; widgets %ld, then %ld\n", warm.objects,
        end.objects, warm.widgets, end.widgets);

    EXPECT_LE(end.descriptors.size(), warm.descriptors.size() + descriptorSlack)
        << "descriptors opened since the warm-up:\n" << leakedDescriptors(warm.descriptors, end.descriptors);
    EXPECT_EQ(end.watches(), warm.watches());
    EXPECT_LE(end.threads, warm.threads + threadSlack);
    EXPECT_EQ(end.widgets, warm.widgets);
    EXPECT_LE(end.objects, warm.objects + objectSlack);
#ifdef CORVEX_SANITIZED_BUILD
    // The sanitizers' shadow memory and quarantine make the resident size say nothing.
    std::printf("soak: memory not judged under the sanitizers\n");
#else
    EXPECT_LT(end.rssKb - warm.rssKb, rssGrowthLimitKb) << "resident memory grew by " << end.rssKb - warm.rssKb << " kB";
#endif
}

} // namespace
