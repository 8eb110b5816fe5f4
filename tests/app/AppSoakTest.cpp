// Plugs and unplugs the virtual instrument many times under one running program: every
// arrival must fill the main window and every removal empty it, and what the program
// holds (descriptors, inotify watches, widgets, memory) must stay level. CI runs a short
// form; scripts/soak runs the long one (CORVEX_SOAK_CYCLES sets the count).
#include "AppTestSupport.h"
#include "VirtualInstrumentProcess.h"
#include "app/LevelIndicator.h"
#include "platform/qt/SystemDiscovery.h"

#include <QApplication>
#include <QElapsedTimer>

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

// Qt calls the functions in these slots for every QObject made and destroyed (the hooks
// that object inspectors use); slot 3 is the addition, slot 4 the removal.
extern quintptr Q_CORE_EXPORT qtHookData[];

using namespace corvex;
using namespace corvex::testing;

namespace {

constexpr int warmUpCycles = 3;
// About 0.3 s a cycle in the normal build.
constexpr int defaultCycles = 30;
// Qt's and glibc's own caches may settle by a descriptor or so after the warm-up.
constexpr std::size_t descriptorSlack = 2;
constexpr long rssGrowthLimitKb = 5 * 1024;
// Qt's network caches let go of a few objects minutes later, and may come back.
constexpr long objectSlack = 10;

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
    std::error_code error;
    for (std::filesystem::directory_iterator it("/proc/self/fd", error), end; !error && it != end; it.increment(error)) {
        std::error_code unreadable;
        const std::string target = std::filesystem::read_symlink(it->path(), unreadable).string();
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

// Live QObjects of the whole process, counted from the moment the counter is made.
class LiveObjects {
public:
    LiveObjects()
    {
        s_previousAdd = reinterpret_cast<Hook>(qtHookData[addSlot]);
        s_previousRemove = reinterpret_cast<Hook>(qtHookData[removeSlot]);
        qtHookData[addSlot] = reinterpret_cast<quintptr>(&added);
        qtHookData[removeSlot] = reinterpret_cast<quintptr>(&removed);
    }
    ~LiveObjects()
    {
        qtHookData[addSlot] = reinterpret_cast<quintptr>(s_previousAdd);
        qtHookData[removeSlot] = reinterpret_cast<quintptr>(s_previousRemove);
    }
    LiveObjects(const LiveObjects&) = delete;
    LiveObjects& operator=(const LiveObjects&) = delete;
    long count() const { return s_count.load(); }

private:
    using Hook = void (*)(QObject*);
    static constexpr int addSlot = 3;
    static constexpr int removeSlot = 4;
    static void added(QObject* object)
    {
        ++s_count;
        if (s_previousAdd)
            s_previousAdd(object);
    }
    static void removed(QObject* object)
    {
        --s_count;
        if (s_previousRemove)
            s_previousRemove(object);
    }
    static inline std::atomic<long> s_count { 0 };
    static inline Hook s_previousAdd = nullptr;
    static inline Hook s_previousRemove = nullptr;
};

long statusKb(const char* field)
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

// What is wrong with the window of a connected instrument, or nothing.
std::string connectedFaults(AppHarness& app, int flights)
{
    Ui::MainWindow& ui = app.ui();
    std::string faults;
    auto check = [&](bool good, const char* what) { faults += good ? "" : std::string(what) + "; "; };
    check(ui.serialLabel->text() == "Serial Number: C0FFEE\nDevice Firmware: 2405", "serial label");
    check(ui.logEntriesCombo->count() == 1 + flights, "flight list");
    check(ui.logEntriesCombo->isEnabled() && ui.downloadLogbookButton->isEnabled(), "flight controls disabled");
    check(ui.batteryVoltageIndicator->doubleValue() > 0 && ui.batteryVoltageIndicator->isEnabled(), "battery");
    check(!ui.editPilotDataButton->isHidden(), "pilot-data button hidden");
    check(ui.manageAirspacesMenuItem->isEnabled(), "airspaces menu disabled");
    check(app.window.backgroundName() == "CloudsBackground.tiff", "grey background");
    check(app.alerts.alerts.empty(), "alert");
    return faults;
}

std::string disconnectedFaults(AppHarness& app)
{
    Ui::MainWindow& ui = app.ui();
    std::string faults;
    auto check = [&](bool good, const char* what) { faults += good ? "" : std::string(what) + "; "; };
    check(ui.serialLabel->text() == "Device is not connected", "serial label");
    check(ui.logEntriesCombo->count() == 0 && !ui.logEntriesCombo->isEnabled(), "flight list");
    check(!ui.downloadLogbookButton->isEnabled() && !ui.logTypeMatrix->isEnabled(), "flight controls enabled");
    check(ui.batteryVoltageIndicator->doubleValue() == 0 && !ui.batteryVoltageIndicator->isEnabled(), "battery");
    check(ui.editPilotDataButton->isHidden(), "pilot-data button shown");
    check(!ui.manageAirspacesMenuItem->isEnabled() && !ui.eraseLogBookMenuItem->isEnabled(), "instrument menus enabled");
    check(app.window.backgroundName() == "CloudsBackgroundGrayscale.tiff", "colour background");
    check(app.alerts.alerts.empty(), "alert");
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

TEST(AppSoak, PlugAndUnplugKeepTheWindowRightAndTheResourcesLevel)
{
    const int cycles = std::max(soakCycles(), warmUpCycles + 1);
    LiveObjects objects;
    VirtualInstrumentProcess instrument;
    ASSERT_TRUE(instrument.isRunning());
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

    std::map<int, std::string> warmDescriptors;
    long warmRssKb = 0;
    long peakRssKb = 0;
    int warmWidgets = 0;
    long warmObjects = 0;
    QElapsedTimer clock;
    clock.start();
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        ASSERT_TRUE(instrument.unplug()) << "cycle " << cycle;
        ASSERT_TRUE(waitUntil([&] { return ui.serialLabel->text() == "Device is not connected"; }))
            << "cycle " << cycle << "\n" << sessionState(app, discoveryLog);
        ASSERT_EQ(disconnectedFaults(app), "") << "unplug of cycle " << cycle;
        ASSERT_TRUE(instrument.plug()) << "cycle " << cycle;
        ASSERT_TRUE(waitUntil([&] { return ui.logEntriesCombo->count() > 1; }))
            << "cycle " << cycle << "\n" << sessionState(app, discoveryLog);
        ASSERT_EQ(connectedFaults(app, flights), "") << "plug of cycle " << cycle;
        // The harness keeps every log line; the program itself keeps none.
        app.log.lines.clear();
        discoveryLog.lines.clear();
        peakRssKb = std::max(peakRssKb, statusKb("VmRSS:"));
        if (cycle == warmUpCycles) {
            warmDescriptors = openDescriptors();
            warmRssKb = statusKb("VmRSS:");
            warmWidgets = static_cast<int>(QApplication::allWidgets().size());
            warmObjects = objects.count();
            clock.restart();
        }
    }
    const double seconds = static_cast<double>(clock.elapsed()) / 1000;
    const std::map<int, std::string> endDescriptors = openDescriptors();
    const long endRssKb = statusKb("VmRSS:");
    const int endWidgets = static_cast<int>(QApplication::allWidgets().size());
    const long endObjects = objects.count();

    std::printf("soak: %d cycles, %.1f s after the warm-up of %d (%.2f s a cycle)\n", cycles, seconds, warmUpCycles,
        seconds / (cycles - warmUpCycles));
    std::printf("soak: fds %zu at the start, %zu after the warm-up, %zu at the end; inotify watches %zu, then %zu\n",
        descriptorsAtStart, warmDescriptors.size(), endDescriptors.size(), inotifyWatches(warmDescriptors),
        inotifyWatches(endDescriptors));
    std::printf("soak: RSS %.1f MB after the warm-up, %.1f MB at the end, %.1f MB peak\n", warmRssKb / 1024.0,
        endRssKb / 1024.0, peakRssKb / 1024.0);
    std::printf("soak: QObjects made since the start and alive: %ld after the warm-up, %ld at the end; widgets %d, "
                "then %d\n",
        warmObjects, endObjects, warmWidgets, endWidgets);

    EXPECT_LE(endDescriptors.size(), warmDescriptors.size() + descriptorSlack)
        << "descriptors opened since the warm-up:\n" << leakedDescriptors(warmDescriptors, endDescriptors);
    EXPECT_EQ(inotifyWatches(endDescriptors), inotifyWatches(warmDescriptors));
    EXPECT_EQ(endWidgets, warmWidgets);
    EXPECT_LE(endObjects, warmObjects + objectSlack);
#ifdef CORVEX_SANITIZED_BUILD
    // The sanitizers' shadow memory and quarantine make the resident size say nothing.
    std::printf("soak: memory not judged under the sanitizers\n");
#else
    EXPECT_LT(endRssKb - warmRssKb, rssGrowthLimitKb) << "resident memory grew by " << endRssKb - warmRssKb << " kB";
#endif
}

} // namespace
