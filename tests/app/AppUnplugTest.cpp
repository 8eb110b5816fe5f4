// The cable pulled in the middle of each long instrument operation of the program, at
// twenty points spread over the operation's own bytes (the virtual instrument counts
// them and unplugs after the chosen one). Whatever the point: nothing crashes or
// hangs, a file under its final name is whole, nothing is said to be stored that the
// instrument does not hold, only failure alerts come, the window goes back to its
// disconnected state, and the next plug-in fills it again.
#include "AppTestSupport.h"
#include "UpdateProducts.h"
#include "airspaces/AirspacesTransferService.h"
#include "airspaces/OpenAirConversion.h"
#include "airspaces/ui/AirspacesWindow.h"
#include "app/LevelIndicator.h"
#include "app/PilotDataWindowController.h"
#include "base/Format.h"
#include "support/TestFiles.h"
#include "ui_AirspacesWindow.h"
#include "ui_PilotDataWindowController.h"
#include "updates/ui/UpdateWindow.h"

#include <QDir>
#include <QPushButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

using namespace corvex;
using namespace corvex::testing;
namespace fs = std::filesystem;

namespace {

constexpr int pointsPerOperation = 20;

// The program on one virtual instrument with two short flights, the panels answered
// by the test and the airspaces cache in a folder of its own.
struct Session {
    Session(VirtualInstrumentProcess::Options options, bool instantLoop)
        : instrument(withShortFlights(std::move(options), flights))
        , pty(instrument, nullptr, instantLoop ? &loop : nullptr)
    {
        qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
        app().controller->setFilePanelPresenter(&panels);
        app().launch();
    }

    static VirtualInstrumentProcess::Options withShortFlights(VirtualInstrumentProcess::Options options, const QTemporaryDir& folder)
    {
        for (const char* name : { "20241007TZN.igc", "lad_lod_extensions.igc" })
            fs::create_symlink(std::string(CORVEX_TESTDATA_DIR "/igc/") + name, folder.filePath(name).toStdString());
        options.igcDirectory = folder.path().toStdString();
        return options;
    }

    AppHarness& app() { return *pty.app; }
    AirspacesWindow& airspaces() { return *app().controller->airspacesWindowController(); }
    std::optional<std::string> stateItem(const std::string& name) const
    {
        const std::string path = instrument.stateDirectory() + "/" + name;
        return fs::exists(path) ? std::optional(readFile(path)) : std::nullopt;
    }
    std::uint64_t traffic()
    {
        std::istringstream reply(instrument.controlReply("traffic"));
        std::string ok;
        std::uint64_t in = 0, out = 0;
        reply >> ok >> in >> out;
        return ok == "ok" ? in + out : 0;
    }

    QTemporaryDir flights;
    QTemporaryDir dataHome;
    QTemporaryDir folder; // where the files of an operation go
    VirtualInstrumentProcess instrument;
    InstantEventLoop loop;
    PtyApp pty;
    AnsweringPanels panels;
    // What each operation keeps between its runs.
    std::map<std::string, std::string> reference;
    Bytes set;
    std::string expected;
    QString reported;
    int run { 0 };
};

// The checks of a plain unplug.
bool disconnectedState(AppHarness& app)
{
    Ui::MainWindow& ui = app.ui();
    return ui.serialLabel->text() == "Device is not connected" && ui.logEntriesCombo->count() == 0
        && !ui.logEntriesCombo->isEnabled() && !ui.downloadLogbookButton->isEnabled() && !ui.logTypeMatrix->isEnabled()
        && ui.editPilotDataButton->isHidden() && ui.batteryVoltageIndicator->doubleValue() == 0
        && !ui.eraseLogBookMenuItem->isEnabled() && !ui.manageAirspacesMenuItem->isEnabled()
        && app.window.backgroundName() == "CloudsBackgroundGrayscale.tiff" && !app.controller->instrumentSession()->isBusy();
}

bool filled(AppHarness& app)
{
    return app.ui().logEntriesCombo->count() == 3 && app.ui().serialLabel->text().startsWith("Serial Number: ")
        && app.ui().logEntriesCombo->isEnabled() && !app.controller->instrumentSession()->isBusy();
}

// The files of the folder (and below it), by name relative to it; the line with the
// time of the download is left out of the comparison.
std::map<std::string, std::string> filesIn(const QString& folder)
{
    std::map<std::string, std::string> files;
    if (!fs::exists(folder.toStdString()))
        return files;
    for (const auto& entry : fs::recursive_directory_iterator(folder.toStdString())) {
        if (!entry.is_regular_file())
            continue;
        std::string text = readFile(entry.path().string());
        if (const auto at = text.find("LXCV Downloaded "); at != std::string::npos)
            text.erase(at, text.find('\n', at) - at);
        files[fs::relative(entry.path(), folder.toStdString()).string()] = text;
    }
    return files;
}

void emptyFolder(const QString& folder)
{
    for (const auto& entry : fs::directory_iterator(folder.toStdString()))
        fs::remove_all(entry.path());
}

// Every file that is there is one of the unharmed run's, whole; no temporary is left.
void expectOnlyWholeFiles(Session& s)
{
    for (const auto& [name, text] : filesIn(s.folder.path())) {
        const auto known = s.reference.find(name);
        ASSERT_NE(known, s.reference.end()) << "unexpected file " << name;
        EXPECT_TRUE(text == known->second) << name << " differs from the unharmed download:\n" << text;
    }
}

// The instrument holds the sweep's set (again: a point may have erased it), a small
// one made from the shared OpenAir sample.
void restoreSet(Session& s)
{
    if (s.set.empty()) {
        openair::SetHeader header { "openair.txt", "Unplug sweep", std::chrono::sys_seconds(std::chrono::seconds(1714478400)) };
        s.set = std::get<Bytes>(openair::convertToInternalFormat(readTestFile("openair/openair.txt"), header));
    }
    if (s.stateItem("airspaces") != std::string(s.set.begin(), s.set.end())) {
        ASSERT_TRUE(AirspacesTransferService(s.app().device()).upload(std::make_shared<const Bytes>(s.set)));
    }
}

bool logged(Session& s, const std::string& prefix) { return s.app().log.containsPrefix(prefix); }

// The question before an erase comes before any byte and is answered yes; only the
// alerts after it are the operation's.
void forgetQuestions(Session& s)
{
    std::erase_if(s.app().alerts.alerts, [](const Alert& alert) { return alert.buttons.size() == 2 && alert.buttons[1] == "No"; });
}

struct Operation {
    const char* name;
    VirtualInstrumentProcess::Options options;
    bool instantLoop; // the airspaces erase waits 21 s on a real loop
    std::set<std::string> failureAlerts;
    std::function<void(Session&)> prepare; // before each run, with the cable in
    std::function<void(Session&)> run;
    // After each run; `cut` is the byte after which the cable went, none for the
    // unharmed run (which records what the others are held to).
    std::function<void(Session&, std::optional<std::uint64_t> cut, std::uint64_t total)> check;
};

// A Wren on firmware 2.405 unless told otherwise; a Lark on 1.350 has the program
// read the track logs and write the IGC itself.
VirtualInstrumentProcess::Options instrument(std::vector<std::string> arguments, std::string model = "wren", std::uint16_t firmware = 2405)
{
    VirtualInstrumentProcess::Options options;
    options.model = std::move(model);
    options.firmwareVersion = firmware;
    options.extraArguments = std::move(arguments);
    return options;
}

void saveAllFlights(Session& s)
{
    s.app().window.setLogTypeColumn(MainWindow::IgcColumn);
    s.panels.answer = s.folder.filePath("All");
    s.app().controller->performLauncherAction(QStringLiteral("save-all-flights"));
}

void checkFiles(Session& s, std::optional<std::uint64_t> cut, std::uint64_t)
{
    if (cut)
        return expectOnlyWholeFiles(s);
    s.reference = filesIn(s.folder.path());
    ASSERT_FALSE(s.reference.empty());
}

const std::vector<Operation>& operations()
{
    static const std::vector<Operation> table {
        { "all flights, padded IGC blocks", instrument({}), false, { "Something went wrong" }, [](Session& s) { emptyFolder(s.folder.path()); },
            saveAllFlights, checkFiles },
        { "all flights, unpadded IGC blocks", instrument({ "--unpadded-igc" }), false, { "Something went wrong" },
            [](Session& s) { emptyFolder(s.folder.path()); }, saveAllFlights, checkFiles },
        { "all flights, from the track logs", instrument({}, "lark", 1350), false, { "Something went wrong", "Error dowloading track log" },
            [](Session& s) { emptyFolder(s.folder.path()); }, saveAllFlights, checkFiles },
        { "log book as CSV", {}, false, { "Error dowloading logbook" }, [](Session& s) { emptyFolder(s.folder.path()); },
            [](Session& s) {
                s.panels.answer = s.folder.filePath("book.csv");
                s.app().ui().downloadLogbookButton->click();
            },
            checkFiles },
        { "airspaces upload", {}, true, { "Error uploading Airspaces data to the device", "Error clearing Airspaces on the device" },
            [](Session& s) {
                const bool first = s.set.empty();
                restoreSet(s);
                if (first) {
                    s.airspaces().presentAirspacesWindow();
                    s.airspaces().ui().devDownloadAirspacesButton->click(); // the set to upload
                }
                s.airspaces().presentAirspacesWindow();
                ASSERT_TRUE(s.airspaces().deviceHasAirspaces());
            },
            [](Session& s) {
                s.app().log.lines.clear();
                s.airspaces().ui().uploadAirspacesButton->click();
                forgetQuestions(s);
            },
            [](Session& s, std::optional<std::uint64_t>, std::uint64_t) {
                const bool stored = s.stateItem("airspaces") == std::string(s.set.begin(), s.set.end());
                if (logged(s, "Totally uploaded to the device ")) {
                    EXPECT_TRUE(s.app().alerts.alerts.empty());
                    EXPECT_TRUE(stored) << "the upload was reported, the instrument does not hold the set";
                }
            } },
        { "airspaces whole read", {}, true, { "Error downloading airspaces from the device" },
            [](Session& s) {
                restoreSet(s);
                QDir(s.dataHome.filePath("Corvex")).removeRecursively();
                s.airspaces().presentAirspacesWindow();
            },
            [](Session& s) {
                s.app().log.lines.clear();
                s.airspaces().ui().downloadAirspacesFromTheDeviceButton->click();
            },
            [](Session& s, std::optional<std::uint64_t> cut, std::uint64_t) {
                const std::string whole(s.set.begin(), s.set.end());
                const auto cached = filesIn(s.dataHome.filePath("Corvex"));
                if (!cut) {
                    ASSERT_EQ(cached.size(), 1u);
                }
                for (const auto& [name, bytes] : cached)
                    EXPECT_TRUE(bytes == whole) << "cached " << name << " is not the instrument's set";
                for (const std::string& line : s.app().log.lines) {
                    if (line.starts_with("Totally read from the device: ")) {
                        EXPECT_EQ(line, formatString("Totally read from the device: %zu bytes", s.set.size()));
                    }
                }
            } },
        { "airspaces clear", {}, true, { "Error clearing Airspaces on the device" },
            [](Session& s) {
                restoreSet(s);
                s.airspaces().presentAirspacesWindow();
            },
            [](Session& s) {
                s.app().ui().clearAirspacesMenuItem->trigger();
                forgetQuestions(s);
            },
            [](Session& s, std::optional<std::uint64_t>, std::uint64_t) {
                if (s.app().alerts.alerts.empty() || !s.airspaces().deviceHasAirspaces()) {
                    EXPECT_FALSE(s.stateItem("airspaces").value_or("").size()) << "cleared was reported, the set is still there";
                }
            } },
        { "pilot data write", instrument({ "--pilot", "First Pilot" }), false, { "Unable to save the pilot data" },
            [](Session& s) {
                s.expected = formatString("Pilot %02d", ++s.run);
                s.app().ui().editPilotDataButton->click();
                Ui::PilotDataWindowController& form = s.app().controller->pilotDataWC()->ui();
                form.pilotEdit->setText(QString::fromStdString(s.expected));
            },
            [](Session& s) {
                s.app().controller->pilotDataWC()->ui().okButton->click();
                s.reported = s.app().ui().pilotNameLabel->text();
            },
            [](Session& s, std::optional<std::uint64_t> cut, std::uint64_t) {
                const bool stored = s.stateItem("pilot-data").value_or("").find(s.expected) != std::string::npos;
                if (!cut) {
                    ASSERT_TRUE(stored);
                }
                if (s.reported == QString::fromStdString("Pilot: " + s.expected)) {
                    EXPECT_TRUE(stored) << "the label shows pilot data the instrument does not hold";
                }
            } },
        { "firmware installation", {}, false, { "Oops!" },
            [](Session& s) {
                UpdateWindow& window = *s.app().controller->updateWindowController();
                const int version = 2410 + s.run++;
                s.expected = std::to_string(version);
                const QString path = s.folder.filePath("firmware.s19");
                std::ofstream(path.toStdString(), std::ios::binary | std::ios::trunc)
                    << UpdateProducts::firmwareText(formatString("2.%03d", version - 2000), 30);
                window.setIsBetaVersionUpdateWindow(true);
                window.setPanels({ [path] { return std::optional<QString>(path); }, {} });
            },
            [](Session& s) { s.app().controller->updateWindowController()->updateFirmwareFromAFile(); },
            [](Session& s, std::optional<std::uint64_t> cut, std::uint64_t total) {
                const bool installed = s.stateItem("firmware-version") == s.expected;
                if (!cut) {
                    ASSERT_TRUE(installed);
                    ASSERT_TRUE(waitUntil([&] { return s.app().ui().serialLabel->text().endsWith(QString::fromStdString(s.expected)); }));
                    return;
                }
                // The restart line gets no answer: a cut inside it cannot be told from
                // a restart, and the next plug-in shows the firmware that stayed.
                const std::string text = readFile(s.folder.filePath("firmware.s19").toStdString());
                const std::size_t lastLine = text.rfind('\n', text.size() - 2) + 1;
                const std::uint64_t restartLine = 3 + (text.size() - 1 - lastLine) + 1;
                if (s.app().alerts.alerts.empty() && *cut < total - restartLine) {
                    EXPECT_TRUE(installed) << "no failure was reported, the firmware did not go in";
                }
            } },
    };
    return table;
}

class AppUnplug : public ::testing::TestWithParam<std::size_t> { };

TEST_P(AppUnplug, EveryPointFailsCleanlyAndTheNextPlugInFillsTheWindow)
{
    const Operation& op = operations()[GetParam()];
    Session s(op.options, op.instantLoop);
    ASSERT_TRUE(waitUntil([&] { return filled(s.app()); }));

    op.prepare(s);
    const std::uint64_t before = s.traffic();
    op.run(s);
    const std::uint64_t total = s.traffic() - before;
    ASSERT_GT(total, 1u);
    ASSERT_TRUE(s.app().alerts.alerts.empty());
    op.check(s, std::nullopt, total);
    ASSERT_TRUE(waitUntil([&] { return filled(s.app()); }));

    // Evenly spread, and the last byte: a transfer that lacks only its end is the one
    // most easily taken for a whole one.
    std::set<std::uint64_t> cuts { total - 1 };
    for (int i = 1; i < pointsPerOperation; ++i)
        cuts.insert(std::max<std::uint64_t>(1, total * i / pointsPerOperation));
    for (const std::uint64_t cut : cuts) {
        SCOPED_TRACE(formatString("%s, cable pulled after byte %lu of %lu", op.name, static_cast<unsigned long>(cut),
            static_cast<unsigned long>(total)));
        op.prepare(s);
        s.app().alerts.alerts.clear();
        ASSERT_TRUE(s.instrument.control("unplug-after " + std::to_string(cut)));
        op.run(s);
        ASSERT_TRUE(waitUntil([&] { return disconnectedState(s.app()); }, 5000)) << "not back in the disconnected state";
        for (const Alert& alert : s.app().alerts.alerts)
            EXPECT_TRUE(op.failureAlerts.contains(alert.message)) << "alert: " << alert.message;
        op.check(s, cut, total);
        ASSERT_TRUE(s.instrument.plug());
        ASSERT_TRUE(waitUntil([&] { return filled(s.app()); })) << "the next plug-in did not fill the window";
    }
}

INSTANTIATE_TEST_SUITE_P(Operations, AppUnplug, ::testing::Range<std::size_t>(0, operations().size()),
    [](const ::testing::TestParamInfo<std::size_t>& param) {
        std::string name;
        for (const char c : std::string(operations()[param.param].name))
            name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return name;
    });

} // namespace
