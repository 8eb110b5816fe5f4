// The flight library on a real folder and a real SQLite file.
#include "base/Sha256.h"
#include "library/FlightLibrary.h"
#include "library/IndexDatabase.h"
#include "library/LibraryFolder.h"
#include "library/LibraryTable.h"

#include "CapturingLogSink.h"
#include "TemporaryFolder.h"
#include "TestFiles.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <atomic>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <cstdint>
#include <chrono>
#include <ctime>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace corvex::library;
using corvex::testing::CapturingLogSink;
using corvex::testing::TemporaryFolder;

namespace {

// The value of a call that must succeed, by value: a range-for over the value inside a
// temporary result would read it after its end.
template<typename T>
T valueOf(corvex::library::LibraryResult<T> result)
{
    EXPECT_TRUE(result) << result.error().message;
    return result ? std::move(*result) : T {};
}

template<typename T>
std::optional<LibraryError> errorOf(const LibraryResult<T>& result)
{
    if (result)
        return std::nullopt;
    return result.error();
}

// What version 5 of the index added, taken away again: a file the program before the
// debrief left.
constexpr const char* versionFiveUndone[] = { "DROP TRIGGER flights_debriefs_go", "DROP TABLE debriefs",
    "PRAGMA user_version=4" };

// What versions 4 and 5 of the index added, taken away again: the first step of making
// a file an older program left.
constexpr const char* versionsFourAndFiveUndone[] = { "DROP TRIGGER flights_debriefs_go", "DROP TABLE debriefs",
    "DROP INDEX flights_file_part", "DROP INDEX flights_recording",
    "ALTER TABLE flights DROP COLUMN altitude_source", "ALTER TABLE flights DROP COLUMN part",
    "ALTER TABLE flights DROP COLUMN recording_of", "ALTER TABLE flights DROP COLUMN removed",
    "ALTER TABLE flights DROP COLUMN glider_edit", "ALTER TABLE flights DROP COLUMN pilot_edit",
    "ALTER TABLE flights DROP COLUMN site", "ALTER TABLE flights DROP COLUMN comment",
    "ALTER TABLE flights DROP COLUMN scored_track" };

std::string testFile(const char* name) { return std::string(CORVEX_TESTDATA_DIR "/igc/") + name; }

std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), {} };
}

void writeAll(const std::string& path, const std::string& text)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::string withoutCarriageReturns(std::string text)
{
    std::erase(text, '\r');
    return text;
}

FlightFilter ofYear(int year)
{
    FlightFilter filter;
    filter.year = year;
    return filter;
}

FlightFilter withText(std::string text)
{
    FlightFilter filter;
    filter.text = std::move(text);
    return filter;
}

std::unique_ptr<FlightLibrary> openLibrary(const std::string& folder, corvex::LogSink* log = nullptr)
{
    auto opened = FlightLibrary::open(folder, log);
    EXPECT_TRUE(opened) << (opened ? "" : opened.error().message);
    return opened ? std::move(*opened) : nullptr;
}

// The file with only its first `fixes` B records: what a download cut short leaves.
std::string cutShort(const std::string& text, std::size_t fixes)
{
    std::istringstream in(text);
    std::string line, kept;
    std::size_t seen = 0;
    while (std::getline(in, line) && !(line.starts_with("B") && ++seen > fixes))
        kept += line + "\n";
    return kept;
}

// The file without its first `fixes` B records.
std::string withoutFirstFixes(const std::string& text, std::size_t fixes)
{
    std::istringstream in(text);
    std::string line, kept;
    std::size_t seen = 0;
    while (std::getline(in, line))
        if (!line.starts_with("B") || ++seen > fixes)
            kept += line + "\n";
    return kept;
}

// Another logger's recording of the same flight: its own A record, no pressure sensor
// and no G record, every other fix, each position moved north by `northMetres` and a
// few metres more or less.
std::string secondLogger(const std::string& text, const std::string& logger, double northMetres)
{
    std::istringstream in(text);
    std::string line, out;
    std::size_t fix = 0;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.starts_with("A")) {
            line = "A" + logger;
        } else if (line.starts_with("G")) {
            continue;
        } else if (line.starts_with("B") && line.size() >= 35) {
            if (fix++ % 2)
                continue;
            // DDMMmmm: thousandths of a minute (1.852 m) from the pole's side of the equator.
            const int thousandths = std::stoi(line.substr(7, 2)) * 60000 + std::stoi(line.substr(9, 5));
            const int moved = thousandths + (line[14] == 'N' ? 1 : -1) * static_cast<int>(northMetres / 1.852)
                + static_cast<int>(fix % 7) * 5 - 15;
            char digits[16];
            std::snprintf(digits, sizeof digits, "%02d%05d", moved / 60000, moved % 60000);
            line.replace(7, 7, digits);
            line.replace(25, 5, "00000");
        }
        out += line + "\n";
    }
    return out;
}

std::int64_t shownCount(const FlightLibrary& library)
{
    std::int64_t flights = 0;
    for (const FlightTotals& year : valueOf(library.index().totalsByYear()))
        flights += year.flights;
    EXPECT_EQ(flights, valueOf(library.index().count())) << "the totals count what the list shows";
    return flights;
}

} // namespace

// What becomes of each file offered, in order, to one library: new flights come in under
// their take-off name, the same flight again (same bytes, or the same logger and
// take-off in other bytes) is skipped, and what is not IGC is refused with its reason.
TEST(FlightLibrary, ImportKeepsEachFlightOnceUnderItsTakeoffName)
{
    TemporaryFolder scratch;
    const std::string lfOnly = scratch.path() + "/lf-only.igc";
    writeAll(lfOnly, withoutCarriageReturns(readAll(testFile("20241007TZN.igc"))));
    const std::string notIgc = scratch.path() + "/notes.igc";
    writeAll(notIgc, "Shopping list\nbread\n");
    const std::string empty = scratch.path() + "/empty.igc";
    writeAll(empty, "");
    // Line 5 is damaged: reported by file and line, skipped, the rest kept.
    std::string damagedText = readAll(testFile("lad_lod_extensions.igc"));
    std::size_t fifthLine = 0;
    for (int line = 1; line < 5; ++line)
        fifthLine = damagedText.find('\n', fifthLine) + 1;
    damagedText.insert(fifthLine, "B12\n");
    const std::string damaged = scratch.path() + "/damaged.igc";
    writeAll(damaged, damagedText);

    struct Case {
        std::string path;
        ImportOutcome::Kind kind;
        std::string file; // the name under the library, for a new flight
        std::string message; // a part of the message otherwise
    };
    const Case cases[] = {
        { testFile("20241007TZN.igc"), ImportOutcome::Kind::Imported, "2024/2024-10-07_0627_XSX004-SKYTRAXX.igc", "" },
        { testFile("20241007TZN.igc"), ImportOutcome::Kind::AlreadyInLibrary, "", "the same file is already in the library" },
        { lfOnly, ImportOutcome::Kind::AlreadyInLibrary, "", "the same flight (logger XSX004 SKYTRAXX, take-off 2024-10-07 06:27 UTC)" },
        { testFile("2016-11-08-xcs-aaa-02.igc"), ImportOutcome::Kind::Imported, "2016/2016-11-08_2247_XCSAAA.igc", "" },
        { damaged, ImportOutcome::Kind::Imported, "", "" },
        { notIgc, ImportOutcome::Kind::Refused, "", "" },
        { empty, ImportOutcome::Kind::Refused, "", "" },
        { scratch.path() + "/missing.igc", ImportOutcome::Kind::Refused, "", "cannot read it" },
    };
    auto library = openLibrary(scratch.path() + "/Flights");
    ASSERT_TRUE(library);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const ImportOutcome outcome = library->importFile(c.path);
        EXPECT_EQ(outcome.kind, c.kind) << outcome.message;
        if (!c.file.empty()) {
            ASSERT_TRUE(outcome.flight);
            EXPECT_EQ(outcome.flight->file, c.file);
            EXPECT_EQ(readAll(library->pathOf(*outcome.flight)), readAll(c.path)) << "the file is kept byte for byte";
        }
        EXPECT_NE(outcome.message.find(c.message), std::string::npos) << outcome.message;
        if (c.kind == ImportOutcome::Kind::Refused) {
            EXPECT_FALSE(outcome.message.empty());
        }
        if (c.path == damaged) {
            ASSERT_EQ(outcome.skippedLines.size(), 1u);
            EXPECT_TRUE(outcome.skippedLines.front().starts_with(damaged + ":5: ")) << outcome.skippedLines.front();
        } else {
            EXPECT_TRUE(outcome.skippedLines.empty());
        }
    }
    EXPECT_EQ(library->index().count(), 3);

    // The flight over midnight keeps its landing on the next day.
    const auto overMidnight = *library->index().flights(ofYear(2016));
    ASSERT_EQ(overMidnight.size(), 1u);
    EXPECT_GT(overMidnight.front().landing - overMidnight.front().takeoff, 5 * 3600);
    EXPECT_EQ(overMidnight.front().durationSeconds, overMidnight.front().landing - overMidnight.front().takeoff);
}

// A copy cut short that came first no longer blocks the whole file: the copy that holds
// more takes its name and id (its scores go, to be made again), the short one waits
// in Replaced/; whichever comes later and holds no more is the same flight again, and
// a rebuild does not take the short copy for a flight.
TEST(FlightLibrary, ACopyThatHoldsMoreReplacesTheShorterOne)
{
    struct Case {
        const char* what;
        bool shortFirst;
        bool synced; // the whole copy comes from the instrument
    };
    const Case cases[] = {
        { "the short copy first, then the whole file", true, false },
        { "the short copy first, then the instrument's download", true, true },
        { "the whole file first, then the short copy", false, false },
    };
    constexpr std::int64_t logBookMinute = 958000000 / 60;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TemporaryFolder scratch;
        const std::string whole = readAll(testFile("20180427.igc"));
        const std::string stub = cutShort(whole, 200);
        writeAll(scratch.path() + "/in/stub.igc", stub);
        auto library = openLibrary(scratch.path() + "/Flights");
        const auto importWhole = [&] {
            return c.synced ? library->addInstrumentFlight(whole, "C0FFEE", logBookMinute, "flight 3")
                            : library->importFile(testFile("20180427.igc"));
        };
        const ImportOutcome first = c.shortFirst ? library->importFile(scratch.path() + "/in/stub.igc") : importWhole();
        ASSERT_EQ(first.kind, ImportOutcome::Kind::Imported) << first.message;
        ASSERT_TRUE(library->index().setScore(first.flight->id, "xcontest", StoredScore { 12.5, "free_flight", 10000.0, figuresVersion }));
        ASSERT_TRUE(library->index().setDebrief(first.flight->id, StoredDebrief {}, debriefVersion));

        const ImportOutcome second = c.shortFirst ? importWhole() : library->importFile(scratch.path() + "/in/stub.igc");
        const std::string kept = scratch.path() + "/Flights/" + first.flight->file;
        const std::string aside = scratch.path() + "/Flights/Replaced/" + first.flight->file;
        if (c.shortFirst) {
            ASSERT_EQ(second.kind, ImportOutcome::Kind::Imported) << second.message;
            EXPECT_EQ(second.message, "replaced the shorter copy " + first.flight->file + ", kept as Replaced/" + first.flight->file);
            EXPECT_EQ(second.flight->id, first.flight->id);
            EXPECT_EQ(second.flight->file, first.flight->file);
            EXPECT_EQ(readAll(kept), whole);
            EXPECT_EQ(readAll(aside), stub) << "the short copy is moved, never deleted";
            const LibraryFlight row = valueOf(library->index().flight(first.flight->id));
            EXPECT_EQ(row.fixes, 1831);
            EXPECT_GT(row.landing, first.flight->landing);
            EXPECT_EQ(row.size, static_cast<std::int64_t>(whole.size()));
            EXPECT_TRUE(valueOf(library->index().scores(row.id)).empty()) << "scored again from the whole file";
            EXPECT_FALSE(row.debriefMadeBy) << "and analysed again";
            EXPECT_EQ(library->instrumentFlight("C0FFEE", logBookMinute).hasValue(), c.synced);
            // The short copy again is no longer the same bytes as a flight, but still
            // the same flight; so is the whole file.
            EXPECT_EQ(library->importFile(scratch.path() + "/in/stub.igc").kind, ImportOutcome::Kind::AlreadyInLibrary);
            EXPECT_EQ(importWhole().kind, ImportOutcome::Kind::AlreadyInLibrary);
        } else {
            EXPECT_EQ(second.kind, ImportOutcome::Kind::AlreadyInLibrary);
            EXPECT_NE(second.message.find("the same flight (logger XGD000, take-off "), std::string::npos) << second.message;
            EXPECT_EQ(readAll(kept), whole);
            EXPECT_FALSE(fs::exists(scratch.path() + "/Flights/Replaced"));
        }
        EXPECT_EQ(library->index().count(), 1);
        const auto rebuilt = valueOf(library->rebuild());
        EXPECT_EQ(rebuilt.flights, 1u);
        EXPECT_TRUE(rebuilt.refused.empty()) << "nothing in Replaced/ is read";
        EXPECT_EQ(valueOf(library->index().flights()).front().fixes, 1831);
        EXPECT_EQ(library->reconcile(), 0u);
    }

    // The same logger's next file, which begins with the last seconds of the one before:
    // a flight of its own, not a copy. The whole file then replaces both halves.
    TemporaryFolder scratch;
    const std::string whole = readAll(testFile("20180427.igc"));
    writeAll(scratch.path() + "/in/first.igc", cutShort(whole, 1000));
    writeAll(scratch.path() + "/in/next.igc", withoutFirstFixes(whole, 990));
    auto library = openLibrary(scratch.path() + "/Flights");
    for (const char* name : { "first.igc", "next.igc" })
        EXPECT_EQ(library->importFile(scratch.path() + "/in/" + name).kind, ImportOutcome::Kind::Imported) << name;
    EXPECT_EQ(library->index().count(), 2);
    const ImportOutcome joined = library->importFile(testFile("20180427.igc"));
    ASSERT_EQ(joined.kind, ImportOutcome::Kind::Imported) << joined.message;
    EXPECT_EQ(std::count(joined.message.begin(), joined.message.end(), ';'), 1) << joined.message;
    EXPECT_EQ(library->index().count(), 1);
    EXPECT_EQ(std::distance(fs::directory_iterator(scratch.path() + "/Flights/Replaced/2018"), fs::directory_iterator()), 2);
}

// A vario and a phone on one flight: one flight in the list and the totals, shown as
// the vario's recording (pressure altitude, more fixes) whichever came first, the
// phone's kept as its second recording; a rebuild pairs them again. Another flight of
// the same pilot at the same time but kilometres off is a flight of its own.
TEST(FlightLibrary, TwoLoggersOfOneFlightAreOneFlight)
{
    TemporaryFolder scratch;
    const std::string vario = testFile("0asljd01.igc");
    const std::string phone = scratch.path() + "/in/phone.igc";
    writeAll(phone, secondLogger(readAll(vario), "APH001", 60));
    // A third, which finds the flight through the vario's recording whichever it meets.
    const std::string phone2 = scratch.path() + "/in/phone2.igc";
    writeAll(phone2, secondLogger(readAll(vario), "XPH002", -40));
    const std::string elsewhere = scratch.path() + "/in/elsewhere.igc";
    writeAll(elsewhere, secondLogger(readAll(vario), "XEL002", 5000));
    const std::string varioLogger = "LXNJD0FLIGHT:1";

    for (const bool phoneFirst : { false, true }) {
        SCOPED_TRACE(phoneFirst ? "the phone first" : "the vario first");
        TemporaryFolder folder;
        auto library = openLibrary(folder.path());
        const ImportOutcome first = library->importFile(phoneFirst ? phone : vario);
        const ImportOutcome second = library->importFile(phoneFirst ? vario : phone);
        ASSERT_EQ(first.kind, ImportOutcome::Kind::Imported) << first.message;
        ASSERT_EQ(second.kind, ImportOutcome::Kind::Imported) << second.message;
        EXPECT_EQ(second.message,
            "also recorded by " + first.flight->logger + " (" + first.flight->file + ")");
        const ImportOutcome& ofVario = phoneFirst ? second : first;
        const ImportOutcome& ofPhone = phoneFirst ? first : second;
        EXPECT_FALSE(ofVario.flight->recordingOf);
        EXPECT_EQ(shownCount(*library), 1);
        const auto shown = valueOf(library->index().flights());
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown.front().id, ofVario.flight->id);
        const auto recordings = valueOf(library->index().recordingsOf(ofVario.flight->id));
        ASSERT_EQ(recordings.size(), 1u);
        EXPECT_EQ(recordings.front().id, ofPhone.flight->id);
        EXPECT_TRUE(fs::is_regular_file(library->pathOf(recordings.front()))) << "both files are kept";

        const ImportOutcome third = library->importFile(phone2);
        ASSERT_EQ(third.kind, ImportOutcome::Kind::Imported);
        EXPECT_EQ(third.message, "also recorded by " + varioLogger + " (" + ofVario.flight->file + ")");
        EXPECT_EQ(third.flight->recordingOf, ofVario.flight->id);
        EXPECT_EQ(valueOf(library->index().recordingsOf(ofVario.flight->id)).size(), 2u);
        EXPECT_EQ(shownCount(*library), 1);

        const ImportOutcome apart = library->importFile(elsewhere);
        ASSERT_EQ(apart.kind, ImportOutcome::Kind::Imported);
        EXPECT_EQ(apart.message, "");
        EXPECT_EQ(shownCount(*library), 2);

        ASSERT_EQ(valueOf(library->rebuild()).flights, 4u);
        EXPECT_EQ(shownCount(*library), 2);
        for (const LibraryFlight& flight : valueOf(library->index().flights())) {
            const auto again = valueOf(library->index().recordingsOf(flight.id));
            if (flight.logger == varioLogger) {
                ASSERT_EQ(again.size(), 2u);
                EXPECT_TRUE(again.front().file == ofPhone.flight->file || again.back().file == ofPhone.flight->file);
            } else {
                EXPECT_EQ(flight.logger, "XEL002");
                EXPECT_TRUE(again.empty());
            }
        }
    }
}

// Two flights of one minute never replace each other, and the names read back.
TEST(FlightLibrary, NamesSortByTimeAndNeverCollide)
{
    EXPECT_EQ(libraryBaseName(1728282407, "XSX004 SKYTRAXX"), "2024-10-07_0626_XSX004-SKYTRAXX");
    EXPECT_EQ(libraryBaseName(1728282407, "../../etc"), "2024-10-07_0626_------etc") << "a name cannot leave its folder";
    EXPECT_EQ(libraryBaseName(1728282407, ""), "2024-10-07_0626_unknown");
    // What FAT and NTFS refuse, from an A record, so the library copies onto a USB stick.
    EXPECT_EQ(libraryBaseName(1728282407, "XCT:00,4*?\"<>|."), "2024-10-07_0626_XCT-00-4-------");
    // A name written before that still reads back with its id as written.
    EXPECT_EQ(parseLibraryName("2024-10-07_0626_XCT:00,4_2.igc")->id, "XCT:00,4");
    const auto name = parseLibraryName("2024-10-07_0626_C0FFEE_2.igc");
    ASSERT_TRUE(name);
    EXPECT_EQ(name->id, "C0FFEE");
    EXPECT_EQ(unixTimeOfMinuteSince2000(name->minuteSince2000), 1728282360);
    for (const char* wrong : { "2024-10-07_0626_.igc", "2024-13-07_0626_A.igc", "flight.igc", "2024-10-07_0626_A.kml" })
        EXPECT_FALSE(parseLibraryName(wrong)) << wrong;

    TemporaryFolder scratch;
    auto library = openLibrary(scratch.path());
    const std::string text = readAll(testFile("20241007TZN.igc"));
    // The same log-book minute of one instrument twice with different flights (a second
    // instrument's text under the same serial stands in for that).
    const auto first = library->addInstrumentFlight(text, "C0FFEE", 13005386, "flight 1");
    const auto second = library->addInstrumentFlight(readAll(testFile("lad_lod_extensions.igc")), "C0FFEE", 13005386, "flight 2");
    ASSERT_EQ(first.kind, ImportOutcome::Kind::Imported);
    ASSERT_EQ(second.kind, ImportOutcome::Kind::Imported);
    EXPECT_EQ(first.flight->file, "2024/2024-09-22_1226_C0FFEE.igc");
    EXPECT_EQ(second.flight->file, "2024/2024-09-22_1226_C0FFEE_2.igc");
}

// A process killed between the file and its index row, a file removed by hand, a
// half-written file left behind: the next reconcile puts the index right, and the
// instrument's flight is still known by its serial and log-book minute.
TEST(FlightLibrary, ReconcileFinishesWhatAKilledSyncLeft)
{
    TemporaryFolder scratch;
    CapturingLogSink log;
    auto library = openLibrary(scratch.path(), &log);
    const auto kept = library->importFile(testFile("20180427.igc"));
    ASSERT_EQ(kept.kind, ImportOutcome::Kind::Imported);

    // Whole, in place, not indexed: what a sync killed after its rename leaves.
    writeAll(scratch.path() + "/2020/2020-01-02_0304_C0FFEE.igc", readAll(testFile("0asljd01.igc")));
    const std::string halfWritten = scratch.path() + "/2020/.2020-01-02_0305_C0FFEE.igc.Ab12Cd";
    writeAll(halfWritten, "AXXX");
    fs::last_write_time(halfWritten, fs::file_time_type::clock::now() - std::chrono::hours(2));
    fs::remove(library->pathOf(*kept.flight));

    EXPECT_EQ(library->reconcile(), 1u);
    EXPECT_FALSE(fs::exists(halfWritten));
    EXPECT_FALSE(library->index().flight(kept.flight->id)) << "a flight whose file is gone is no longer listed";
    const auto found = library->instrumentFlight("C0FFEE", (1577934240 - 946684800) / 60);
    ASSERT_TRUE(found) << "the name says which log-book entry it was";
    EXPECT_EQ(found->file, "2020/2020-01-02_0304_C0FFEE.igc");
    EXPECT_EQ(library->reconcile(), 0u);
}

// The index is a cache: damaged, or written by a newer program, it is set aside (with a
// log line) and made again from the files, the instrument's entries included.
TEST(FlightLibrary, DamagedIndexIsSetAsideAndRebuilt)
{
    struct Case {
        const char* what;
        std::function<void(const std::string& index)> damage;
    };
    const Case cases[] = {
        { "not a database", [](const std::string& index) { writeAll(index, std::string(8192, 'x')); } },
        { "cut short", [](const std::string& index) { fs::resize_file(index, 1000); } },
        { "from a newer program", [](const std::string& index) {
             sqlite3* database = nullptr;
             sqlite3_open(index.c_str(), &database);
             sqlite3_exec(database, "PRAGMA user_version=99", nullptr, nullptr, nullptr);
             sqlite3_close(database);
         } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TemporaryFolder scratch;
        const std::string index = scratch.path() + "/library.sqlite";
        {
            auto library = openLibrary(scratch.path());
            ASSERT_EQ(library->addInstrumentFlight(readAll(testFile("654G6NG1.IGC")), "C0FFEE", 8600000, "flight 1").kind,
                ImportOutcome::Kind::Imported);
            ASSERT_EQ(library->importFile(testFile("20241007TZN.igc")).kind, ImportOutcome::Kind::Imported);
            ASSERT_TRUE(library->airspaces().keep("AC D\nAN ALPS\n", "alps.txt", AirspaceUse::Converted, 100, "set-alps"));
            ASSERT_TRUE(*library->airspaces().recordUpload("set-alps", "C0FFEE", 200));
            EXPECT_FALSE(*library->airspaces().recordUpload("set-approved", "C0FFEE", 400)) << "no kept file for it";
        }
        // Closed: the write-ahead log is folded into the file.
        ASSERT_FALSE(fs::exists(index + "-wal"));
        c.damage(index);

        // Indexes set aside before, in this second and the next: never overwritten.
        const std::int64_t second = std::time(nullptr);
        for (const std::int64_t at : { second, second + 1 })
            writeAll(index + ".damaged-" + std::to_string(at), "set aside before");

        CapturingLogSink log;
        auto library = openLibrary(scratch.path(), &log);
        ASSERT_TRUE(library);
        EXPECT_TRUE(log.containsPrefix("The flight index " + index + " is damaged"));
        for (const std::int64_t at : { second, second + 1 })
            EXPECT_EQ(readAll(index + ".damaged-" + std::to_string(at)), "set aside before");
        EXPECT_EQ(library->index().count(), 2);
        EXPECT_TRUE(library->instrumentFlight("C0FFEE", 8600000));
        const auto imported = *library->index().flights(withText("SKYTRAXX"));
        ASSERT_EQ(imported.size(), 1u);
        EXPECT_TRUE(imported.front().serial.empty()) << "an imported flight's name carries its logger, not a serial";
        const auto held = *library->airspaces().heldBy("C0FFEE", 300);
        ASSERT_TRUE(held) << "the uses of airspace files are read back";
        EXPECT_EQ(held->name, "alps.txt");
        EXPECT_EQ(library->airspaces().index().uses(held->id)->size(), 2u);
        EXPECT_FALSE(*library->airspaces().heldBy("C0FFEE", 500)) << "the upload of a set from elsewhere is read back too";
        std::size_t setAside = 0;
        for (const auto& entry : fs::directory_iterator(scratch.path()))
            setAside += entry.path().filename().string().starts_with("library.sqlite.damaged-");
        EXPECT_EQ(setAside, 3u);
    }
}

// Where the flights live: the most specific choice wins, and without any the user's
// data folder as the desktop defines it.
TEST(FlightLibrary, TheFolderIsTheMostSpecificChoice)
{
    struct Case {
        std::optional<std::string> commandLine, variable, preference, dataHome;
        std::string folder;
    };
    const Case cases[] = {
        { "/cli", "/variable", "/preference", "/data", "/cli" },
        { std::nullopt, "/variable", "/preference", "/data", "/variable" },
        { std::nullopt, "", "/preference", "/data", "/preference" },
        { std::nullopt, std::nullopt, "", "/data", "/data/Corvex/Flights" },
        { std::nullopt, std::nullopt, std::nullopt, "relative/data", "/home/ann/.local/share/Corvex/Flights" },
    };
    for (const Case& c : cases) {
        LibraryFolderChoice choice;
        choice.commandLine = c.commandLine;
        choice.preference = c.preference;
        choice.environment = [&](const char* name) -> std::optional<std::string> {
            const std::string variable = name;
            if (variable == "CORVEX_LIBRARY")
                return c.variable;
            if (variable == "XDG_DATA_HOME")
                return c.dataHome;
            if (variable == "HOME")
                return std::string("/home/ann");
            return std::nullopt;
        };
        EXPECT_EQ(libraryFolder(choice), c.folder);
    }
}

// What the table's narrowing and the totals count.
TEST(FlightLibrary, FiltersAndTotals)
{
    TemporaryFolder scratch;
    auto library = openLibrary(scratch.path());
    const auto outcomes = library->importPaths({ CORVEX_TESTDATA_DIR "/igc" });
    EXPECT_EQ(outcomes.size(), 6u) << "the folder's *.igc files, .IGC included";
    ASSERT_EQ(library->index().count(), 6);
    const auto byYear = *library->index().totalsByYear();
    std::int64_t flights = 0;
    for (const FlightTotals& year : byYear)
        flights += year.flights;
    EXPECT_EQ(flights, 6);
    EXPECT_EQ(byYear.front().key, "2024");
    EXPECT_EQ(library->index().flights(ofYear(2010))->size(), 1u);
    EXPECT_EQ(library->index().flights(withText("guettler"))->size(), 1u) << "case does not matter";
    const auto all = *library->index().flights();
    EXPECT_TRUE(std::is_sorted(all.begin(), all.end(), [](const auto& a, const auto& b) { return a.takeoff > b.takeoff; }));

    // Case does not matter beyond ASCII either ("süd" finds "SÜD"), and a glider is
    // the whole name in any case, as in the window's filter.
    std::string text = readAll(testFile("20180427.igc"));
    for (const auto& [header, value] : { std::pair<std::string, std::string> { "HFPLTPILOT:", "Team S\xc3\x9c" "D" }, { "HFGTYGLIDERTYPE:", "Ozone Zeno" } }) {
        const std::size_t at = text.find(header) + header.size();
        text.replace(at, text.find_first_of("\r\n", at) - at, value);
    }
    text.replace(0, 7, "AXGD001"); // another logger's flight
    writeAll(scratch.path() + "/in/sud.igc", text);
    ASSERT_EQ(library->importPaths({ scratch.path() + "/in/sud.igc" }).front().kind, ImportOutcome::Kind::Imported);
    const auto ofGlider = [](std::string glider) {
        FlightFilter filter;
        filter.glider = std::move(glider);
        return filter;
    };
    const std::pair<FlightFilter, std::size_t> cases[] = {
        { withText("s\xc3\xbc" "d"), 1 },
        { withText("S\xc3\x9c" "D"), 1 },
        { withText("team s\xc3\xbc" "d"), 1 },
        { withText("sud"), 0 },
        { ofGlider("OZONE zeno"), 1 },
        { ofGlider("Ozone"), 0 },
    };
    for (const auto& [filter, count] : cases)
        EXPECT_EQ(library->index().flights(filter)->size(), count) << filter.text << filter.glider.value_or("");
}

// The table's cells: in the CSV a name that would start a formula stays text (a quote
// before it, inside the quotes) while the figures, a sink below zero among them, stay
// numbers; in the text table a name is one line, cut to its column with an ellipsis.
TEST(FlightLibrary, TableCellsStayTextAndInTheirColumn)
{
    LibraryFlight flight;
    flight.glider = "=cmd|' /C calc'!A0";
    flight.pilot = "-2+3";
    flight.serial = "@SUM(A1)";
    flight.file = "\t=1,\"x\"";
    flight.bestSink = -2.5;
    const std::string csv = libraryCsv({ flight });
    EXPECT_NE(csv.find(",0.0,-2.5,\"'=cmd|' /C calc'!A0\",\"'-2+3\",\"'@SUM(A1)\",\"'\t=1,\"\"x\"\"\"\r\n"), std::string::npos) << csv;

    const std::pair<std::string, std::string> cells[] = { // at a width of 4
        { "Ush", "Ush " }, { "Rush", "Rush" }, { "Rush 6", "Rus\xe2\x80\xa6" }, { "S\xc3\xbc" "dw", "S\xc3\xbc" "dw" },
        { "\xe6\x9d\xb1\xe6\x9d\xb1\xe6\x9d\xb1\xe6\x9d\xb1\xe6\x9d\xb1", "\xe6\x9d\xb1\xe6\x9d\xb1\xe6\x9d\xb1\xe2\x80\xa6" },
        { "a\nb", "a\\x\xe2\x80\xa6" }, { "", "    " },
    };
    for (const auto& [text, cell] : cells)
        EXPECT_EQ(tableCell(text, 4), cell) << text;
    EXPECT_EQ(tableCell(std::string(500, 'x'), 32, CellPadding::None), std::string(31, 'x') + "\xe2\x80\xa6");
}

// An index of the version before the score: its rows stay, their scores are empty
// (never 0) until a pass fills them; the scores survive a reopen, a rebuild empties
// and the next pass refills them, and a score of an older solver counts as missing.
TEST(FlightLibrary, ScoresAreAddedByMigrationAndFilledAfterwards)
{
    TemporaryFolder scratch;
    const std::string index = scratch.path() + "/library.sqlite";
    {
        auto library = openLibrary(scratch.path());
        library->importPaths({ CORVEX_TESTDATA_DIR "/igc" });
        ASSERT_EQ(library->index().count(), 6);
    }
    {
        // What the first program left: no scores, no figures' version, no airspaces tables.
        sqlite3* database = nullptr;
        ASSERT_EQ(sqlite3_open(index.c_str(), &database), SQLITE_OK);
        for (const char* sql : versionsFourAndFiveUndone)
            EXPECT_EQ(sqlite3_exec(database, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sql;
        for (const char* sql : { "DROP TRIGGER flights_scores_go", "DROP TABLE scores",
                 "ALTER TABLE flights DROP COLUMN figures_version", "DROP TABLE airspace_uses", "DROP TABLE airspace_files",
                 "PRAGMA user_version=1" })
            EXPECT_EQ(sqlite3_exec(database, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sql;
        sqlite3_close(database);
    }
    auto library = openLibrary(scratch.path());
    ASSERT_TRUE(library);
    ASSERT_EQ(library->index().count(), 6) << "the migration keeps the rows";
    for (const LibraryFlight& flight : valueOf(library->index().flights())) {
        EXPECT_FALSE(flight.scorePoints) << flight.file;
        EXPECT_FALSE(flight.scorerVersion) << flight.file;
        EXPECT_EQ(flight.figuresMadeBy, 1) << "the first program's figures are version 1's";
    }
    EXPECT_EQ(library->index().totalsByYear()->front().scored, 0);

    std::size_t lastDone = 0, lastTotal = 0;
    ScoreFillOptions options;
    options.threads = 2;
    options.progress = [&](std::size_t done, std::size_t total) {
        EXPECT_EQ(done, lastDone + 1) << "one call per flight, in order";
        lastDone = done;
        lastTotal = total;
    };
    const auto filled = *library->fillScores(options);
    EXPECT_EQ(filled.total, 6u);
    EXPECT_EQ(filled.refigured, 6u) << "version 1's figures are computed again";
    EXPECT_EQ(filled.scored, 6u);
    EXPECT_FALSE(filled.cancelled);
    EXPECT_EQ(lastDone, 6u);
    EXPECT_EQ(lastTotal, 6u);

    const auto scoresOf = [](const FlightLibrary& flights) {
        std::map<std::string, std::optional<double>> scores;
        for (const LibraryFlight& flight : valueOf(flights.index().flights()))
            scores[flight.file] = flight.scorePoints;
        return scores;
    };
    const auto scored = scoresOf(*library);
    double points = 0;
    for (const LibraryFlight& flight : valueOf(library->index().flights())) {
        SCOPED_TRACE(flight.file);
        EXPECT_EQ(flight.scorerVersion, figuresVersion);
        ASSERT_TRUE(flight.scorePoints);
        EXPECT_GT(*flight.scorePoints, 0);
        EXPECT_FALSE(flight.scoreType.empty());
        ASSERT_TRUE(flight.scoreDistanceMetres);
        // Points are kilometres times a multiplier of 1 to 1.6.
        EXPECT_GE(*flight.scorePoints, *flight.scoreDistanceMetres / 1000 - 1e-6);
        EXPECT_LE(*flight.scorePoints, *flight.scoreDistanceMetres / 1000 * 1.6 + 1e-6);
        points += *flight.scorePoints;
    }
    double totalPoints = 0;
    std::int64_t totalScored = 0;
    for (const FlightTotals& year : valueOf(library->index().totalsByYear())) {
        totalPoints += year.points;
        totalScored += year.scored;
    }
    EXPECT_NEAR(totalPoints, points, 1e-6);
    EXPECT_EQ(totalScored, 6);
    EXPECT_EQ(library->fillScores()->total, 0u) << "nothing left to score";

    library.reset();
    library = openLibrary(scratch.path());
    EXPECT_EQ(scoresOf(*library), scored) << "kept across a reopen";

    ASSERT_TRUE(library->rebuild());
    for (const auto& [file, score] : scoresOf(*library))
        EXPECT_FALSE(score) << file << ": a rebuilt index has no score until the pass";
    corvex::CancelToken cancel;
    cancel.cancel();
    ScoreFillOptions cancelled;
    cancelled.threads = 1;
    const auto stopped = *library->fillScores(cancelled, cancel);
    EXPECT_TRUE(stopped.cancelled);
    EXPECT_LT(stopped.scored, 6u);
    EXPECT_EQ(library->fillScores()->scored, 6u - stopped.scored) << "a cancelled pass leaves the rest for the next";
    EXPECT_EQ(scoresOf(*library), scored) << "the rebuild refills the same scores";

    // A cancel while a flight's search runs stops it within moments and writes nothing of
    // that flight, not even "no score": the next pass scores it whole.
    {
        corvex::CancelToken midway;
        ScoreFillOptions olc;
        olc.threads = 1;
        olc.ruleSets = { "olc" };
        std::thread canceller([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            midway.cancel();
        });
        const auto started = std::chrono::steady_clock::now();
        const auto halted = *library->fillScores(olc, midway);
        canceller.join();
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
        const auto rest = *library->fillScores(olc);
        EXPECT_EQ(halted.scored + rest.scored, 6u) << "every flight scored once, none left scoreless by the cancel";
        for (const LibraryFlight& flight : valueOf(library->index().flights())) {
            for (const RuleSetScore& each : valueOf(library->index().scores(flight.id))) {
                if (each.ruleSet == "olc") {
                    EXPECT_TRUE(each.score.points) << flight.file;
                }
            }
        }
    }

    // A flight scored by an older solver is scored again.
    const LibraryFlight first = library->index().flights()->front();
    ASSERT_TRUE(library->index().setScore(first.id, "xcontest", { 1.0, "free_flight", 1000.0, figuresVersion - 1 }));
    EXPECT_EQ(library->fillScores()->scored, 1u);
    EXPECT_EQ(library->index().flight(first.id)->scorePoints, first.scorePoints);

    // A file that does not read now is left for later, not recorded as scoreless.
    fs::remove(library->pathOf(first));
    ASSERT_TRUE(library->index().setScore(first.id, "xcontest", { std::nullopt, {}, std::nullopt, 0 }));
    const auto missing = *library->fillScores();
    EXPECT_EQ(missing.unreadable, 1u);
    EXPECT_EQ(library->index().flight(first.id)->scorerVersion, 0);

    // A recorder on the ground for three hours (carried about at a walker's pace) has no
    // flight: kept and listed as the recording it is, scored at once without points.
    TemporaryFolder elsewhere;
    writeAll(elsewhere.path() + "/ground.igc", corvex::testing::wanderingFlightIgc(3, "XGR001", 1, 1.0));
    const ImportOutcome ground = library->importFile(elsewhere.path() + "/ground.igc");
    ASSERT_TRUE(ground.flight) << ground.message;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(library->fillScores()->scored, 1u);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1)) << "no search ran";
    EXPECT_EQ(valueOf(library->index().flight(ground.flight->id)).scorerVersion, figuresVersion);
    EXPECT_FALSE(valueOf(library->index().flight(ground.flight->id)).scorePoints);
}

// An index made before the debrief: the migration keeps its rows and scores, and the
// pass analyses every flight without scoring any again; a file the analysis cannot take
// is "analysed, nothing" and not tried again, an older analysis and new figures are
// made again, and a rebuild keeps no debrief of the files it read before.
TEST(FlightLibrary, DebriefsAreFilledByThePassAfterAnOlderIndex)
{
    TemporaryFolder scratch;
    const std::string index = scratch.path() + "/library.sqlite";
    const auto runSql = [&](const std::vector<std::string>& statements) {
        sqlite3* database = nullptr;
        ASSERT_EQ(sqlite3_open(index.c_str(), &database), SQLITE_OK);
        for (const std::string& sql : statements)
            EXPECT_EQ(sqlite3_exec(database, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
        sqlite3_close(database);
    };
    {
        auto library = openLibrary(scratch.path());
        library->importPaths({ CORVEX_TESTDATA_DIR "/igc" });
        ASSERT_EQ(valueOf(library->fillScores()).scored, 6u);
    }
    runSql({ std::begin(versionFiveUndone), std::end(versionFiveUndone) });
    auto library = openLibrary(scratch.path());
    ASSERT_TRUE(library);
    EXPECT_EQ(valueOf(library->fillScores()).total, 0u) << "scores kept; a pass without the analysis leaves debriefs alone";

    // Thermals made up from the fix count, so that each row is known; the file with the
    // fewest fixes cannot be analysed.
    std::size_t fewest = SIZE_MAX;
    for (const LibraryFlight& flight : valueOf(library->index().flights())) {
        EXPECT_FALSE(flight.debriefMadeBy || flight.debrief) << flight.file;
        fewest = std::min(fewest, static_cast<std::size_t>(flight.fixes));
    }
    std::atomic<int> calls { 0 };
    ScoreFillOptions options;
    options.threads = 2;
    options.debrief = [&](const corvex::flights::IgcFlight& flight, const corvex::flights::FlightFigures&) {
        ++calls;
        if (flight.fixes.size() == fewest)
            throw std::runtime_error("no airborne stretch");
        StoredDebrief debrief;
        debrief.thermals = static_cast<int>(flight.fixes.size() % 17) + 1;
        return std::optional(debrief);
    };
    const auto thermalsOf = [&] {
        std::map<std::string, std::optional<int>> thermals;
        for (const LibraryFlight& flight : valueOf(library->index().flights())) {
            EXPECT_EQ(flight.debriefMadeBy, debriefVersion) << flight.file;
            thermals[flight.file] = flight.debrief ? std::optional(flight.debrief->thermals) : std::nullopt;
            const int expected = static_cast<int>(flight.fixes % 17) + 1;
            EXPECT_EQ(thermals[flight.file], flight.fixes == std::int64_t(fewest) ? std::nullopt : std::optional(expected));
        }
        return thermals;
    };
    const auto filled = valueOf(library->fillScores(options));
    EXPECT_EQ(filled.total, 6u);
    EXPECT_EQ(filled.debriefed, 6u);
    EXPECT_EQ(filled.refigured, 0u);
    const auto analysed = thermalsOf();
    EXPECT_EQ(analysed.size(), 6u);
    EXPECT_EQ(valueOf(library->fillScores(options)).total, 0u) << "nothing left, the file without one included";
    EXPECT_EQ(calls.load(), 6);

    // An older analysis, and a flight whose figures are computed again, are analysed again.
    const std::int64_t newest = valueOf(library->index().flights()).front().id;
    ASSERT_TRUE(library->index().setDebrief(newest, std::nullopt, debriefVersion - 1));
    runSql({ "UPDATE flights SET figures_version = 0 WHERE id = (SELECT min(id) FROM flights WHERE id <> "
        + std::to_string(newest) + ")" });
    const auto again = valueOf(library->fillScores(options));
    EXPECT_EQ(again.debriefed, 2u);
    EXPECT_EQ(again.refigured, 1u);
    EXPECT_EQ(thermalsOf(), analysed);

    ASSERT_TRUE(library->rebuild());
    for (const LibraryFlight& flight : valueOf(library->index().flights()))
        EXPECT_FALSE(flight.debriefMadeBy || flight.debrief) << flight.file << ": nothing stale after a rebuild";
    EXPECT_EQ(valueOf(library->fillScores(options)).debriefed, 6u);
    EXPECT_EQ(thermalsOf(), analysed);
}

// An OpenAir file is kept once per content, whatever its name, with every use; a copy
// deleted by hand comes back on the next use.
TEST(FlightLibrary, AirspaceFilesAreKeptOncePerContent)
{
    TemporaryFolder scratch;
    auto library = openLibrary(scratch.path());
    AirspaceArchive& archive = library->airspaces();
    const std::string alps = "AC D\nAN ALPS\nAL GND\nAH 3000 MSL\nDP 46:00:00 N 007:00:00 E\n";
    const std::string jura = "AC C\nAN JURA\nAL GND\nAH FL100\nDP 47:00:00 N 006:00:00 E\n";

    const auto first = archive.keep(alps, "/home/ann/alps.txt", AirspaceUse::Converted, 100, "set-a");
    ASSERT_TRUE(first) << first.error().message;
    const auto again = archive.keep(alps, "alps-copy.txt", AirspaceUse::Checked, 200);
    ASSERT_TRUE(again);
    const auto other = archive.keep(jura, "alps.txt", AirspaceUse::Checked, 300);
    ASSERT_TRUE(other);
    // A library's *.igc files are its flights: a kept copy never passes for one.
    const auto igcNamed = archive.keep(jura + "\n", "jura.IGC", AirspaceUse::Checked, 300);
    ASSERT_TRUE(igcNamed);
    EXPECT_TRUE(igcNamed->file.ends_with("_jura.IGC.txt")) << igcNamed->file;

    EXPECT_EQ(again->id, first->id);
    EXPECT_EQ(again->name, "alps.txt") << "the name it first came with";
    EXPECT_NE(other->id, first->id) << "the same name, other bytes";
    EXPECT_NE(other->file, first->file);
    EXPECT_EQ(archive.index().files()->size(), 3u);
    std::size_t copies = 0;
    for (const auto& entry : fs::directory_iterator(archive.folder()))
        copies += entry.is_regular_file() && entry.path().filename() != "uses.tsv";
    EXPECT_EQ(copies, 3u) << "no temporary file left beside them";
    EXPECT_EQ(readAll(archive.pathOf(*first)), alps);
    const auto uses = *archive.index().uses(first->id);
    ASSERT_EQ(uses.size(), 2u);
    EXPECT_EQ(uses[0].reason, "converted");
    EXPECT_EQ(uses[0].setSha256, "set-a");
    EXPECT_EQ(uses[1].reason, "checked");

    fs::remove(archive.pathOf(*first));
    const auto restored = archive.keep(alps, "alps.txt", AirspaceUse::Checked, 400);
    ASSERT_TRUE(restored);
    EXPECT_EQ(restored->id, first->id);
    EXPECT_EQ(readAll(archive.pathOf(*restored)), alps);

    const auto unreadable = archive.keepFile(scratch.path() + "/nothing.txt", AirspaceUse::Checked, 500);
    EXPECT_FALSE(unreadable);
}

// The set an instrument held at a moment: the last upload to that instrument at or
// before it, whatever other instruments got; a set converted before the library kept
// files is not known.
TEST(FlightLibrary, TheSetOfTheDayIsTheLastUploadBeforeTakeoff)
{
    TemporaryFolder scratch;
    auto library = openLibrary(scratch.path());
    AirspaceArchive& archive = library->airspaces();
    ASSERT_TRUE(archive.keep("AC D\nAN SPRING\n", "spring.txt", AirspaceUse::Converted, 10, "set-spring"));
    ASSERT_TRUE(archive.keep("AC D\nAN SUMMER\n", "summer.txt", AirspaceUse::Converted, 20, "set-summer"));
    ASSERT_TRUE(archive.keep("AC D\nAN AUTUMN\n", "autumn.txt", AirspaceUse::Converted, 30, "set-autumn"));

    struct Upload {
        const char* set;
        const char* serial;
        std::int64_t time;
        bool known;
    };
    const Upload uploads[] = {
        { "set-spring", "A1", 1000, true },
        { "set-summer", "A1", 2000, true },
        { "set-spring", "B2", 2500, true },
        { "set-autumn", "A1", 3000, true },
        { "set-summer", "A1", 3000, true }, // the same second: recorded last, held
        { "set-approved", "A1", 4000, false }, // from the approved list: no OpenAir file
        { "set-spring", "A1", 6000, true },
    };
    for (const Upload& upload : uploads)
        EXPECT_EQ(archive.recordUpload(upload.set, upload.serial, upload.time)->has_value(), upload.known) << upload.set;

    struct Case {
        const char* serial;
        std::int64_t takeoff;
        const char* expected; // nullptr: no set known
    };
    const Case cases[] = {
        { "A1", 999, nullptr },
        { "A1", 1000, "spring.txt" },
        { "A1", 1999, "spring.txt" },
        { "A1", 2000, "summer.txt" },
        { "A1", 2600, "summer.txt" },
        { "A1", 3000, "summer.txt" },
        { "A1", 3999, "summer.txt" },
        { "A1", 5000, nullptr }, // the approved set replaced the kept ones
        { "A1", 6000, "spring.txt" },
        { "B2", 2000, nullptr },
        { "B2", 9000, "spring.txt" },
        { "C3", 9000, nullptr },
        { "", 9000, nullptr },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.serial) + " at " + std::to_string(c.takeoff));
        LibraryFlight flight;
        flight.serial = c.serial;
        flight.logger = "XCT123";
        flight.takeoff = c.takeoff;
        const auto path = library->airspaceFileFor(flight);
        if (!c.expected) {
            EXPECT_FALSE(path);
            continue;
        }
        ASSERT_TRUE(path);
        EXPECT_TRUE(path->ends_with(std::string("_") + c.expected)) << *path;
        EXPECT_TRUE(fs::is_regular_file(*path));
    }
}

// Every field of the record goes into its column and comes back from it: the one
// table of columns binds, reads and updates them all alike.
TEST(FlightLibrary, EveryFieldOfAFlightRoundTripsThroughTheIndex)
{
    TemporaryFolder scratch;
    auto opened = FlightIndex::open(scratch.path() + "/index.sqlite");
    ASSERT_TRUE(opened) << opened.error().message;
    FlightIndex& index = **opened;
    LibraryFlight flight;
    flight.file = "2024/a.igc";
    flight.sha256 = "digest";
    flight.size = 11;
    flight.logger = "XCT123";
    flight.serial = "C0FFEE";
    flight.logBookMinute = 13;
    flight.takeoff = 1728282407;
    flight.landing = 1728282407 + 17;
    flight.durationSeconds = 19;
    flight.takeoffLatitude = 46.1;
    flight.takeoffLongitude = 7.2;
    flight.landingLatitude = 46.3;
    flight.landingLongitude = 7.4;
    flight.maxPressureAltitude = 2300;
    flight.minPressureAltitude = std::nullopt;
    flight.maxGnssAltitude = 2400;
    flight.minGnssAltitude = 500;
    flight.bestClimb = 4.5;
    flight.bestSink = -3.5;
    flight.trackMetres = 23000;
    flight.distanceMetres = 29000;
    flight.pilot = "Ann";
    flight.glider = "Alpha 6";
    flight.fixes = 31;
    flight.added = 37;
    flight.figuresMadeBy = figuresVersion;
    const auto id = index.insert(flight);
    ASSERT_TRUE(id) << id.error().message;
    flight.id = *id;
    const auto same = [](const LibraryFlight& a, const LibraryFlight& b) {
        return std::tie(a.id, a.file, a.sha256, a.size, a.logger, a.serial, a.logBookMinute, a.takeoff, a.landing,
                   a.durationSeconds, a.takeoffLatitude, a.takeoffLongitude, a.landingLatitude, a.landingLongitude,
                   a.maxPressureAltitude, a.minPressureAltitude, a.maxGnssAltitude, a.minGnssAltitude, a.bestClimb,
                   a.bestSink, a.trackMetres, a.distanceMetres, a.pilot, a.glider, a.fixes, a.added, a.figuresMadeBy)
            == std::tie(b.id, b.file, b.sha256, b.size, b.logger, b.serial, b.logBookMinute, b.takeoff, b.landing,
                b.durationSeconds, b.takeoffLatitude, b.takeoffLongitude, b.landingLatitude, b.landingLongitude,
                b.maxPressureAltitude, b.minPressureAltitude, b.maxGnssAltitude, b.minGnssAltitude, b.bestClimb,
                b.bestSink, b.trackMetres, b.distanceMetres, b.pilot, b.glider, b.fixes, b.added, b.figuresMadeBy);
    };
    EXPECT_TRUE(same(valueOf(index.flight(flight.id)), flight));

    // New figures replace the old; what is not a figure (where the file is, the
    // instrument's entry, when it came) stays.
    LibraryFlight figures = flight;
    figures.file = "elsewhere.igc";
    figures.serial = "";
    figures.added = 0;
    figures.takeoff += 3600 * 24 * 366; // another year
    figures.minPressureAltitude = 400;
    figures.glider = "Bravo 3";
    ASSERT_TRUE(index.setFigures(figures));
    LibraryFlight expected = figures;
    expected.file = flight.file;
    expected.serial = flight.serial;
    expected.added = flight.added;
    EXPECT_TRUE(same(valueOf(index.flight(flight.id)), expected));
    EXPECT_EQ(valueOf(index.flights(ofYear(2025))).size(), 1u) << "the year follows the take-off";
}

// A call that fails says so, with a kind, and never passes for "no rows": an index
// that lost its tables under the program fails every read, and the reconcile does not
// take it for an empty index (which would index every file again).
TEST(FlightLibrary, FailuresAreReportedNotTakenForNoRows)
{
    TemporaryFolder scratch;
    auto library = openLibrary(scratch.path());
    ASSERT_EQ(library->importFile(testFile("20180427.igc")).kind, ImportOutcome::Kind::Imported);
    ASSERT_TRUE(library->airspaces().keep("AC D\nAN ALPS\n", "alps.txt", AirspaceUse::Checked, 100));

    const auto missing = library->index().flight(999);
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().kind, LibraryErrorKind::NotFound) << "a flight not there is not found, not a failure";
    EXPECT_EQ(library->index().count(), 1);

    // Scores not written because another program held the write lock past the wait are
    // counted as such, not passed over as a pass that is done.
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open((scratch.path() + "/library.sqlite").c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_EQ(library->fillScores()->unwritten, 1u);
    sqlite3_close(holder);
    EXPECT_EQ(library->fillScores()->scored, 1u) << "the next pass writes it";

    {
        sqlite3* database = nullptr;
        ASSERT_EQ(sqlite3_open((scratch.path() + "/library.sqlite").c_str(), &database), SQLITE_OK);
        for (const char* sql : { "DROP TABLE flights", "DROP TABLE airspace_uses", "DROP TABLE airspace_files" })
            EXPECT_EQ(sqlite3_exec(database, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sql;
        sqlite3_close(database);
    }
    const FlightIndex& index = library->index();
    const std::map<std::string, std::function<std::optional<LibraryError>()>> calls = {
        { "files", [&] { return errorOf(index.files()); } },
        { "count", [&] { return errorOf(index.count()); } },
        { "flights", [&] { return errorOf(index.flights()); } },
        { "flight", [&] { return errorOf(index.flight(1)); } },
        { "totals by year", [&] { return errorOf(index.totalsByYear()); } },
        { "totals by glider", [&] { return errorOf(index.totalsByGlider()); } },
        { "to score", [&] { return errorOf(index.flightsToScore({ "xcontest" }, figuresVersion)); } },
        { "reconcile", [&] { return errorOf(library->reconcile()); } },
        { "rebuild", [&] { return errorOf(library->rebuild()); } },
        { "fill scores", [&] { return errorOf(library->fillScores()); } },
        { "instrument flight", [&] { return errorOf(library->instrumentFlight("C0FFEE", 1)); } },
        { "airspace files", [&] { return errorOf(library->airspaces().index().files()); } },
        { "held by", [&] { return errorOf(library->airspaces().heldBy("C0FFEE", 100)); } },
        { "record upload", [&] { return errorOf(library->airspaces().recordUpload("set", "C0FFEE", 100)); } },
        { "keep", [&] { return errorOf(library->airspaces().keep("AC D\n", "d.txt", AirspaceUse::Checked, 100)); } },
    };
    for (const auto& [what, call] : calls) {
        SCOPED_TRACE(what);
        const auto error = call();
        ASSERT_TRUE(error) << "a failure, not an empty answer";
        EXPECT_EQ(error->kind, LibraryErrorKind::Unusable) << libraryErrorKindName(error->kind);
        EXPECT_NE(error->message.find("no such table"), std::string::npos) << error->message;
    }
    const ImportOutcome refused = library->importFile(testFile("0asljd01.igc"));
    EXPECT_EQ(refused.kind, ImportOutcome::Kind::Refused) << "a lookup that fails lets nothing in";
    EXPECT_NE(refused.message.find("cannot look it up in the index"), std::string::npos) << refused.message;
}

// Where the index cannot be: the kind says whether to set it aside and rebuild.
TEST(FlightLibrary, OpeningFailuresHaveTheirKind)
{
    TemporaryFolder scratch;
    writeAll(scratch.path() + "/not-a-database", std::string(8192, 'x'));
    writeAll(scratch.path() + "/a-file", "x");
    struct Case {
        std::string path;
        LibraryErrorKind kind;
    };
    const Case cases[] = {
        { scratch.path() + "/not-a-database", LibraryErrorKind::Damaged },
        { scratch.path() + "/a-file/index.sqlite", LibraryErrorKind::Unusable },
        { scratch.path(), LibraryErrorKind::Unusable }, // a folder
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const auto opened = FlightIndex::open(c.path);
        ASSERT_FALSE(opened);
        EXPECT_EQ(opened.error().kind, c.kind) << libraryErrorKindName(opened.error().kind) << ": " << opened.error().message;
    }
    const auto library = FlightLibrary::open(scratch.path() + "/a-file");
    ASSERT_FALSE(library);
    EXPECT_EQ(library.error().kind, LibraryErrorKind::Io) << library.error().message;
}

// The pilot's rule sets: each flight gets a score under each, the table shows the
// first, an index of the version before keeps its one score as XContest's, and
// figures of an older version are computed again from the file.
TEST(FlightLibrary, ScoresPerRuleSetAndFiguresOfAnOlderVersion)
{
    EXPECT_EQ(contestRuleSetList(""), std::vector<std::string> { "xcontest" });
    EXPECT_EQ(contestRuleSetList(" FFVL, xcontest ffvl,,"), (std::vector<std::string> { "ffvl", "xcontest" }));

    TemporaryFolder scratch;
    const std::string indexPath = scratch.path() + "/library.sqlite";
    std::int64_t id = 0;
    LibraryFlight original;
    {
        auto library = openLibrary(scratch.path());
        const auto imported = library->importFile(testFile("20241007TZN.igc"));
        ASSERT_EQ(imported.kind, ImportOutcome::Kind::Imported);
        id = imported.flight->id;
        original = *imported.flight;
    }
    {
        // What the version before left: one XContest score in the flight's row, and
        // (to be computed again) stale figures.
        sqlite3* database = nullptr;
        ASSERT_EQ(sqlite3_open(indexPath.c_str(), &database), SQLITE_OK);
        for (const char* sql : versionsFourAndFiveUndone)
            EXPECT_EQ(sqlite3_exec(database, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sql;
        for (const char* sql : { "DROP TRIGGER flights_scores_go", "DROP TABLE scores",
                 "ALTER TABLE flights DROP COLUMN figures_version", "ALTER TABLE flights ADD COLUMN score_points REAL",
                 "ALTER TABLE flights ADD COLUMN score_type TEXT", "ALTER TABLE flights ADD COLUMN score_distance_m REAL",
                 "ALTER TABLE flights ADD COLUMN scorer_version INTEGER",
                 "UPDATE flights SET score_points = 12.5, score_type = 'free_flight', score_distance_m = 12500, "
                 "scorer_version = 2", // the current figuresVersion
                 "PRAGMA user_version=2" })
            EXPECT_EQ(sqlite3_exec(database, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sql;
        sqlite3_close(database);
    }
    auto library = openLibrary(scratch.path());
    ASSERT_TRUE(library);
    const LibraryFlight migrated = valueOf(library->index().flight(id));
    EXPECT_EQ(migrated.scorePoints, 12.5) << "the old score is XContest's";
    EXPECT_EQ(migrated.scorerVersion, figuresVersion);
    {
        sqlite3* database = nullptr;
        ASSERT_EQ(sqlite3_open(indexPath.c_str(), &database), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(database, "UPDATE flights SET figures_version = 0, glider = 'stale', takeoff = 0, year = 1970",
                      nullptr, nullptr, nullptr),
            SQLITE_OK);
        sqlite3_close(database);
    }

    ScoreFillOptions options;
    options.ruleSets = { "ffvl", "xcontest", "no-such-rules" };
    const auto filled = valueOf(library->fillScores(options));
    EXPECT_EQ(filled.total, 1u);
    EXPECT_EQ(filled.refigured, 1u);
    EXPECT_EQ(filled.scored, 1u);
    const LibraryFlight refigured = valueOf(library->index().flight(id));
    EXPECT_EQ(refigured.glider, original.glider);
    EXPECT_EQ(refigured.takeoff, original.takeoff);
    EXPECT_EQ(valueOf(library->index().flights(ofYear(original.year()))).size(), 1u);
    EXPECT_EQ(refigured.scorePoints, 12.5) << "a current XContest score is not made again";

    const auto scores = valueOf(library->index().scores(id));
    ASSERT_EQ(scores.size(), 2u);
    EXPECT_EQ(scores[0].ruleSet, "ffvl");
    EXPECT_EQ(scores[1].ruleSet, "xcontest");
    ASSERT_TRUE(scores[0].score.points);
    EXPECT_GT(*scores[0].score.points, 0);
    EXPECT_EQ(scores[0].score.version, figuresVersion);
    EXPECT_EQ(valueOf(library->fillScores(options)).total, 0u);

    library->index().setListedRuleSet("ffvl");
    EXPECT_EQ(valueOf(library->index().flight(id)).scorePoints, scores[0].score.points) << "the table shows the first";
    EXPECT_NEAR(valueOf(library->index().totalsByYear()).front().points, *scores[0].score.points, 1e-9);

    ASSERT_TRUE(library->index().remove(id));
    EXPECT_TRUE(valueOf(library->index().scores(id)).empty()) << "a flight's scores go with it";
}

namespace {

// The ids of the flights by their file, removed ones too.
std::map<std::string, std::int64_t> idsByFile(const FlightLibrary& library)
{
    std::map<std::string, std::int64_t> ids;
    for (const LibraryFlight& flight : valueOf(library.index().everyFlight()))
        ids[flight.file] = flight.id;
    return ids;
}

// The pilot's edit of the fields given.
FlightEdit editOf(std::initializer_list<std::pair<std::optional<std::string> FlightEdit::*, std::string>> fields)
{
    FlightEdit edit;
    for (const auto& [field, value] : fields)
        edit.*field = value;
    return edit;
}

FlightFilter removedOnes()
{
    FlightFilter filter;
    filter.removed = true;
    return filter;
}

std::size_t filesUnder(const std::string& folder)
{
    std::size_t files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        files += entry.is_regular_file() && entry.path().extension() == ".igc";
    return files;
}

} // namespace

// Ids are promised to scripts: however the index is made again (asked, damaged, lost),
// each file gets its id back, a removed flight stays removed, the pilot's edits come
// back, and an IGC file outside the year folders never becomes a flight.
TEST(FlightLibrary, IdsAndEditsSurviveTheIndexMadeAgain)
{
    struct Case {
        const char* what;
        std::function<std::unique_ptr<FlightLibrary>(std::unique_ptr<FlightLibrary>, const std::string& folder)> remake;
    };
    const Case cases[] = {
        { "rebuilt", [](std::unique_ptr<FlightLibrary> library, const std::string&) {
             EXPECT_TRUE(library->rebuild());
             return library;
         } },
        { "index deleted", [](std::unique_ptr<FlightLibrary> library, const std::string& folder) {
             library.reset();
             fs::remove(folder + "/library.sqlite");
             return openLibrary(folder);
         } },
        { "index damaged", [](std::unique_ptr<FlightLibrary> library, const std::string& folder) {
             library.reset();
             writeAll(folder + "/library.sqlite", std::string(8192, 'x'));
             return openLibrary(folder);
         } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TemporaryFolder scratch;
        const std::string folder = scratch.path();
        auto library = openLibrary(folder);
        // Ids 1 and 2 given and forgotten first: the next ones are not the first.
        for (const char* name : { "0asljd01.igc", "20180427.igc" }) {
            const auto gone = library->importFile(testFile(name));
            ASSERT_EQ(gone.kind, ImportOutcome::Kind::Imported);
            fs::remove(library->pathOf(*gone.flight));
        }
        ASSERT_TRUE(library->reconcile());
        std::vector<std::int64_t> ids;
        std::vector<std::string> files;
        for (const char* name : { "20241007TZN.igc", "2016-11-08-xcs-aaa-02.igc", "lad_lod_extensions.igc" }) {
            const auto imported = library->importFile(testFile(name));
            ASSERT_EQ(imported.kind, ImportOutcome::Kind::Imported) << imported.message;
            ids.push_back(imported.flight->id);
            files.push_back(imported.flight->file);
        }
        EXPECT_EQ(ids, (std::vector<std::int64_t> { 3, 4, 5 }));
        ASSERT_TRUE(library->remove(ids[1]));
        FlightEdit edit;
        edit.glider = "Rush 6";
        edit.site = "Plan\tPraz";
        edit.comment = "first thermal\nthen home";
        ASSERT_TRUE(library->edit(ids[0], edit));
        // Stray IGC files: kept airspaces, a pilot's own folder, a folder that is no year.
        for (const char* stray : { "/Airspaces/old.igc", "/Other/2024/copy.igc", "/20245/x.igc", "/Removed/misc/x.igc" })
            writeAll(folder + stray, readAll(testFile("654G6NG1.IGC")));
        const auto before = idsByFile(*library);

        library = c.remake(std::move(library), folder);
        ASSERT_TRUE(library);
        EXPECT_EQ(idsByFile(*library), before);
        EXPECT_EQ(library->index().count(), 2);
        const auto removed = valueOf(library->index().flight(ids[1]));
        EXPECT_TRUE(removed.removed);
        EXPECT_TRUE(removed.file.starts_with("Removed/2016/")) << removed.file;
        const auto edited = valueOf(library->index().flight(ids[0]));
        EXPECT_EQ(edited.glider, "Rush 6");
        EXPECT_EQ(edited.site, "Plan\tPraz");
        EXPECT_EQ(edited.comment, "first thermal\nthen home");
        const auto next = library->importFile(testFile("654G6NG1.IGC"));
        ASSERT_EQ(next.kind, ImportOutcome::Kind::Imported);
        EXPECT_EQ(next.flight->id, 6) << "above every id ever given";
        // Back under the same id, and the id stays after another rebuild.
        ASSERT_TRUE(library->restore(ids[1]));
        ASSERT_TRUE(library->rebuild());
        EXPECT_EQ(valueOf(library->index().flight(ids[1])).file, files[1]);
        EXPECT_EQ(library->index().count(), 4);
    }
}

// Remove moves the file aside without overwriting anything there, restore brings it
// back (beside a file that took its name meanwhile), and the same bytes offered again
// say how to restore instead of coming in twice.
TEST(FlightLibrary, RemoveAndRestoreNeverOverwriteAndKeepTheId)
{
    TemporaryFolder scratch;
    auto library = openLibrary(scratch.path());
    const auto imported = library->importFile(testFile("20241007TZN.igc"));
    ASSERT_EQ(imported.kind, ImportOutcome::Kind::Imported);
    const LibraryFlight flight = *imported.flight;
    const std::string name = fs::path(flight.file).filename().string();
    // Another flight of the same name was removed before.
    writeAll(scratch.path() + "/Removed/2024/" + name, "an older flight");

    const auto removed = library->remove(flight.id);
    ASSERT_TRUE(removed) << removed.error().message;
    EXPECT_EQ(removed->file, "Removed/2024/" + name.substr(0, name.size() - 4) + "_2.igc");
    EXPECT_EQ(readAll(library->pathOf(*removed)), readAll(testFile("20241007TZN.igc")));
    EXPECT_EQ(readAll(scratch.path() + "/Removed/2024/" + name), "an older flight");
    EXPECT_FALSE(fs::exists(library->pathOf(flight)));
    EXPECT_EQ(library->index().count(), 0);
    EXPECT_EQ(valueOf(library->index().flights(removedOnes())).size(), 1u);

    const auto again = library->importFile(testFile("20241007TZN.igc"));
    EXPECT_EQ(again.kind, ImportOutcome::Kind::AlreadyInLibrary);
    EXPECT_NE(again.message.find("corvex library restore " + std::to_string(flight.id)), std::string::npos) << again.message;

    struct Refusal {
        const char* what;
        LibraryResult<LibraryFlight> result;
        const char* message;
    };
    const Refusal refusals[] = {
        { "remove twice", library->remove(flight.id), "is removed already" },
        { "remove unknown", library->remove(99), "no flight 99" },
        { "restore unknown", library->restore(99), "no flight 99" },
        { "edit unknown", library->edit(99, editOf({ { &FlightEdit::site, "x" } })), "no flight 99" },
    };
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.what);
        ASSERT_FALSE(r.result);
        EXPECT_EQ(r.result.error().kind, LibraryErrorKind::NotFound);
        EXPECT_NE(r.result.error().message.find(r.message), std::string::npos) << r.result.error().message;
    }

    // Its old name was taken meanwhile.
    writeAll(library->pathOf(flight), "another file");
    const auto restored = library->restore(flight.id);
    ASSERT_TRUE(restored) << restored.error().message;
    EXPECT_EQ(restored->id, flight.id);
    EXPECT_FALSE(restored->removed);
    EXPECT_EQ(restored->file, flight.file.substr(0, flight.file.size() - 4) + "_2.igc");
    EXPECT_EQ(readAll(library->pathOf(flight)), "another file");
    EXPECT_EQ(library->index().count(), 1);
    const auto notRemoved = library->restore(flight.id);
    ASSERT_FALSE(notRemoved);
    EXPECT_EQ(notRemoved.error().message, "flight " + std::to_string(flight.id) + " is not removed");
}

// The pilot's words: set, cleared by an empty text, refused when not a choice; another
// scored part of the track is scored again.
TEST(FlightLibrary, EditsOverrideTheFileAndAreClearedByEmptyText)
{
    TemporaryFolder scratch;
    auto library = openLibrary(scratch.path());
    const auto imported = library->importFile(testFile("20241007TZN.igc"));
    ASSERT_EQ(imported.kind, ImportOutcome::Kind::Imported);
    const LibraryFlight file = *imported.flight;
    ASSERT_TRUE(library->index().setScore(file.id, "xcontest", StoredScore { 10.0, "free_flight", 10000.0, figuresVersion }));

    const auto edited = library->edit(file.id, editOf({ { &FlightEdit::glider, "Rush 6" }, { &FlightEdit::pilot, "Ann" }, { &FlightEdit::scoredTrack, "whole" } }));
    ASSERT_TRUE(edited) << edited.error().message;
    EXPECT_EQ(edited->glider, "Rush 6");
    EXPECT_EQ(edited->pilot, "Ann");
    EXPECT_EQ(edited->scoredTrack, "whole");
    EXPECT_TRUE(valueOf(library->index().scores(file.id)).empty()) << "scored again for the other part of the track";
    EXPECT_EQ(valueOf(library->index().totalsByGlider()).front().key, "Rush 6");

    const auto cleared = library->edit(file.id, editOf({ { &FlightEdit::glider, "" }, { &FlightEdit::scoredTrack, "" } }));
    ASSERT_TRUE(cleared);
    EXPECT_EQ(cleared->glider, file.glider) << "the file's own glider again";
    EXPECT_EQ(cleared->pilot, "Ann");
    EXPECT_EQ(cleared->scoredTrack, "");

    const auto refused = library->edit(file.id, editOf({ { &FlightEdit::scoredTrack, "ground" } }));
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().message.find("\"ground\""), std::string::npos);
    ASSERT_TRUE(library->rebuild());
    EXPECT_EQ(valueOf(library->index().flight(file.id)).pilot, "Ann") << "the journal holds the edits";
}

// The same glider spelt two ways becomes one name in the journal, the files untouched:
// the filter, the totals and a rebuilt index show it; a flight's own edit still wins, and
// an edit that says the old name is renamed with it; renaming back forgets the record.
TEST(FlightLibrary, GliderRenamesAndMergesSurviveTheRebuild)
{
    TemporaryFolder scratch;
    auto library = openLibrary(scratch.path());
    library->importPaths({ CORVEX_TESTDATA_DIR "/igc" });
    const auto ofGlider = [&](const std::string& glider) {
        FlightFilter filter;
        filter.glider = glider;
        std::vector<std::int64_t> ids;
        for (const LibraryFlight& flight : valueOf(library->index().flights(filter)))
            ids.push_back(flight.id);
        return ids;
    };
    const auto totalsOf = [&](const std::string& glider) -> std::int64_t {
        for (const FlightTotals& each : valueOf(library->index().totalsByGlider()))
            if (each.key == glider)
                return each.flights;
        return -1;
    };
    const auto spaced = ofGlider("ASG 29E"), dashed = ofGlider("ASG-29E (18m)"), duo = ofGlider("DUO DISCUS");
    ASSERT_EQ(spaced.size(), 1u);
    ASSERT_EQ(dashed.size(), 1u);
    ASSERT_EQ(duo.size(), 1u);
    ASSERT_TRUE(library->edit(duo[0], editOf({ { &FlightEdit::glider, "ASG 29E" } })));

    struct Step {
        const char* what;
        std::function<void()> act;
        std::map<std::string, std::int64_t> flights; // by glider; -1: no such name
    };
    const Step steps[] = {
        { "renamed, the edit saying the old name too",
            [&] { EXPECT_EQ(valueOf(library->renameGlider("ASG 29E", "ASG 29")), 2); },
            { { "ASG 29", 2 }, { "ASG 29E", -1 }, { "ASG-29E (18m)", 1 } } },
        { "merged into a name in use", [&] { EXPECT_EQ(valueOf(library->renameGlider("ASG-29E (18m)", "ASG 29")), 1); },
            { { "ASG 29", 3 }, { "ASG-29E (18m)", -1 } } },
        { "a flight's own edit wins", [&] { ASSERT_TRUE(library->edit(dashed[0], editOf({ { &FlightEdit::glider, "Mine" } }))); },
            { { "ASG 29", 2 }, { "Mine", 1 } } },
        { "rebuilt", [&] { ASSERT_TRUE(library->rebuild()); }, { { "ASG 29", 2 }, { "Mine", 1 } } },
        { "renamed back: the file's own name again",
            [&] { EXPECT_EQ(valueOf(library->renameGlider("ASG 29", "ASG 29E")), 2); },
            { { "ASG 29", -1 }, { "ASG 29E", 2 }, { "Mine", 1 } } },
        { "edit cleared: the file's name, renamed", [&] { ASSERT_TRUE(library->edit(dashed[0], editOf({ { &FlightEdit::glider, "" } }))); },
            { { "ASG 29E", 3 }, { "ASG-29E (18m)", -1 } } },
        { "forgotten", [&] { EXPECT_EQ(valueOf(library->renameGlider("ASG-29E (18m)", "")), 1); },
            { { "ASG 29E", 2 }, { "ASG-29E (18m)", 1 } } },
    };
    for (const Step& step : steps) {
        step.act();
        for (const auto& [glider, flights] : step.flights) {
            EXPECT_EQ(totalsOf(glider), flights) << step.what << ": " << glider;
            EXPECT_EQ(static_cast<std::int64_t>(ofGlider(glider).size()), std::max<std::int64_t>(flights, 0))
                << step.what << ": " << glider;
        }
    }
    EXPECT_EQ(valueOf(library->index().flight(duo[0])).gliderEdit, "ASG 29E") << "its own edit, renamed with the name";
    EXPECT_EQ(library->renameGlider("Nimbus", "ASG 29E").error().kind, LibraryErrorKind::NotFound);
    EXPECT_EQ(library->renameGlider("ASG 29E", "").error().kind, LibraryErrorKind::NotFound) << "nothing to forget";
}

// A journal cut short by a crash, or edited by hand into lines that do not read: those
// lines are skipped with a log line, the others count, and the next record is whole.
TEST(FlightLibrary, JournalLinesThatDoNotReadAreSkipped)
{
    TemporaryFolder scratch;
    const std::string folder = scratch.path();
    writeAll(folder + "/2024/2024-10-07_0627_XSX004-SKYTRAXX.igc", readAll(testFile("20241007TZN.igc")));
    writeAll(folder + "/2016/2016-11-08_2247_XCSAAA.igc", readAll(testFile("2016-11-08-xcs-aaa-02.igc")));
    writeAll(folder + "/journal.tsv",
        "id\t40\t2024/2024-10-07_0627_XSX004-SKYTRAXX.igc\t0\n"
        "edit\t40\tcomment\tsea\\tbreeze\\\\\n"
        "id\tforty\t2016/2016-11-08_2247_XCSAAA.igc\t0\n"
        "edit\t40\tsite\tbad \\q escape\n"
        "what is this\n"
        "id\t41\t2016/2016-11-08_2247_XCSAAA.igc\t0\n"
        "edit\t41\tsite\tcut sh");
    CapturingLogSink log;
    auto library = openLibrary(folder, &log);
    ASSERT_TRUE(library->rebuild());
    EXPECT_EQ(idsByFile(*library),
        (std::map<std::string, std::int64_t> {
            { "2016/2016-11-08_2247_XCSAAA.igc", 41 }, { "2024/2024-10-07_0627_XSX004-SKYTRAXX.igc", 40 } }));
    EXPECT_EQ(valueOf(library->index().flight(40)).comment, "sea\tbreeze\\");
    EXPECT_EQ(valueOf(library->index().flight(40)).site, "");
    EXPECT_EQ(valueOf(library->index().flight(41)).site, "") << "a line cut short";
    for (const int line : { 3, 4, 5 })
        EXPECT_TRUE(log.containsPrefix("Line " + std::to_string(line) + " of the library journal")) << line;
    EXPECT_TRUE(log.containsPrefix("The library journal " + folder + "/journal.tsv ends in a line cut short"));

    ASSERT_TRUE(library->edit(41, editOf({ { &FlightEdit::comment, "windy" } })));
    ASSERT_TRUE(library->rebuild());
    EXPECT_EQ(valueOf(library->index().flight(41)).comment, "windy") << "the record after the cut-short line is whole";
    EXPECT_EQ(valueOf(library->index().flight(41)).site, "") << "what is left of the cut-short line is never a record";
}

// The folder against the index and the journal: each kind of mismatch is found, a
// repair fixes what it can, and no file is ever deleted.
TEST(FlightLibrary, CheckFindsEachMismatchAndRepairsWithoutDeleting)
{
    TemporaryFolder scratch;
    const std::string folder = scratch.path();
    auto library = openLibrary(folder);
    std::vector<LibraryFlight> flights;
    for (const char* name : { "20241007TZN.igc", "2016-11-08-xcs-aaa-02.igc", "lad_lod_extensions.igc" }) {
        const auto imported = library->importFile(testFile(name));
        ASSERT_EQ(imported.kind, ImportOutcome::Kind::Imported);
        flights.push_back(*imported.flight);
    }
    ASSERT_TRUE(library->edit(flights[1].id, editOf({ { &FlightEdit::comment, "keep me" } })));
    ASSERT_TRUE(library->remove(flights[2].id));
    const std::string gone = readAll(library->pathOf(flights[1]));
    fs::remove(library->pathOf(flights[1]));
    writeAll(folder + "/2018/copied by hand.igc", readAll(testFile("20180427.igc")));
    writeAll(folder + "/2019/12:30 flight.igc", readAll(testFile("0asljd01.igc")));
    std::ofstream(library->pathOf(flights[0]), std::ios::app | std::ios::binary) << "LXXX a line added\r\n";

    using Kind = CheckFinding::Kind;
    const auto kinds = [](const CheckReport& report, bool repaired) {
        std::multiset<Kind> found;
        for (const CheckFinding& finding : report.findings)
            if (finding.repaired == repaired)
                found.insert(finding.kind);
        return found;
    };
    const auto looked = valueOf(library->check(false));
    EXPECT_EQ(kinds(looked, false),
        (std::multiset<Kind> { Kind::FileWithoutRow, Kind::FileWithoutRow, Kind::RowWithoutFile, Kind::EditWithoutFlight,
            Kind::FileChanged, Kind::Other }));
    EXPECT_EQ(looked.files, 4u);
    EXPECT_EQ(looked.flights, 3u);
    EXPECT_EQ(looked.removed, 1u);

    const auto repaired = valueOf(library->check(true));
    EXPECT_EQ(kinds(repaired, true),
        (std::multiset<Kind> { Kind::FileWithoutRow, Kind::FileWithoutRow, Kind::RowWithoutFile, Kind::FileChanged }));
    EXPECT_EQ(kinds(repaired, false), (std::multiset<Kind> { Kind::EditWithoutFlight, Kind::Other }));
    EXPECT_EQ(repaired.flights, 4u);
    EXPECT_EQ(filesUnder(folder), 4u) << "nothing deleted";
    EXPECT_EQ(valueOf(library->index().flight(flights[0].id)).size, flights[0].size + 19) << "figured again, same id";
    EXPECT_EQ(kinds(valueOf(library->check(false)), false), (std::multiset<Kind> { Kind::EditWithoutFlight, Kind::Other }));

    // The file copied back gets its id and the pilot's comment again.
    writeAll(folder + "/" + flights[1].file, gone);
    ASSERT_TRUE(library->reconcile());
    const auto back = valueOf(library->index().flight(flights[1].id));
    EXPECT_EQ(back.file, flights[1].file);
    EXPECT_EQ(back.comment, "keep me");
}

// A file with a relaunch holds several flights: it moves aside only once all of them are
// removed, and a restore of one brings it back. A second logger's recording of a flight
// goes and comes with it.
TEST(FlightLibrary, RemoveMovesAFileOnceAllItsFlightsAreGone)
{
    TemporaryFolder scratch;
    auto library = openLibrary(scratch.path());
    // A real flight, half an hour on the ground where it landed, then the same flight again
    // three hours later: one file, two flights.
    const std::string flown = readAll(testFile("20180427.igc"));
    std::string header, fixes, later;
    std::istringstream records(flown);
    for (std::string line; std::getline(records, line);) {
        if (!line.starts_with("B")) {
            header += line + "\n";
            continue;
        }
        fixes += line + "\n";
        later += "B" + std::to_string(std::stoi(line.substr(1, 2)) + 3) + line.substr(3) + "\n";
    }
    writeAll(scratch.path() + "/relaunch.igc", header + fixes + later);
    const auto imported = library->importFile(scratch.path() + "/relaunch.igc");
    ASSERT_EQ(imported.kind, ImportOutcome::Kind::Imported);
    EXPECT_EQ(imported.message, "2 flights (landed and launched again)");
    auto both = valueOf(library->index().flights());
    ASSERT_EQ(both.size(), 2u);
    const LibraryFlight first = both.back();
    const std::int64_t second = both.front().id;
    EXPECT_EQ(std::make_pair(first.part, both.front().part), std::make_pair(0, 1));
    EXPECT_EQ(first.file, both.front().file);
    EXPECT_LT(first.landing, both.front().takeoff);
    // A rebuild counts and numbers flights, not files.
    EXPECT_EQ(valueOf(library->rebuild()).flights, 2u);
    both = valueOf(library->index().flights());
    EXPECT_EQ((std::vector<std::int64_t> { both.back().id, both.front().id }), (std::vector<std::int64_t> { first.id, second }));
    writeAll(scratch.path() + "/2024/phone.igc", readAll(testFile("20241007TZN.igc")));
    LibraryFlight phone = first;
    phone.id = 0;
    phone.file = "2024/phone.igc";
    phone.recordingOf = first.id;
    const std::int64_t recording = valueOf(library->index().insert(phone));

    const auto fileOf = [&](std::int64_t id) { return valueOf(library->index().flight(id)).file; };
    ASSERT_TRUE(library->remove(first.id));
    EXPECT_EQ(fileOf(first.id), first.file) << "the relaunch still lives in the file";
    EXPECT_TRUE(valueOf(library->index().flight(recording)).removed);
    EXPECT_EQ(fileOf(recording), "Removed/2024/phone.igc");
    EXPECT_EQ(library->index().count(), 1);

    ASSERT_TRUE(library->remove(second));
    EXPECT_EQ(fileOf(first.id), "Removed/" + first.file);
    EXPECT_EQ(fileOf(second), "Removed/" + first.file);
    EXPECT_TRUE(fs::exists(scratch.path() + "/Removed/" + first.file));

    ASSERT_TRUE(library->restore(first.id));
    EXPECT_EQ(fileOf(first.id), first.file);
    EXPECT_EQ(fileOf(second), first.file);
    EXPECT_TRUE(valueOf(library->index().flight(second)).removed) << "only the flight asked for comes back";
    EXPECT_EQ(fileOf(recording), "2024/phone.igc");
    EXPECT_FALSE(valueOf(library->index().flight(recording)).removed);
    EXPECT_EQ(library->index().count(), 1);
}

namespace {

// The first value the SQL gives, as text.
std::string runSql(const std::string& path, const char* sql)
{
    sqlite3* database = nullptr;
    std::string first;
    EXPECT_EQ(sqlite3_open(path.c_str(), &database), SQLITE_OK);
    const auto keep = [](void* out, int, char** values, char**) {
        *static_cast<std::string*>(out) = values[0] ? values[0] : "";
        return 0;
    };
    EXPECT_EQ(sqlite3_exec(database, sql, keep, &first, nullptr), SQLITE_OK) << sql;
    sqlite3_close(database);
    return first;
}

} // namespace

// What lies at the index's place and is not ours is neither written nor set aside: the
// open fails, naming the file and what to do. Ours carries the application id.
TEST(FlightLibrary, AnIndexThatIsNotOursIsLeftAsItIs)
{
    const std::pair<const char*, const char*> cases[] = {
        { "a link to an empty file", nullptr },
        { "another program's application id", "PRAGMA application_id=1234" },
        { "another program's tables and no version", "CREATE TABLE accounts (name TEXT)" },
    };
    for (const auto& [what, sql] : cases) {
        SCOPED_TRACE(what);
        TemporaryFolder scratch;
        const std::string index = scratch.path() + "/library.sqlite", kept = sql ? index : scratch.path() + "/empty";
        writeAll(scratch.path() + "/2020/2020-01-02_0304_C0FFEE.igc", readAll(testFile("0asljd01.igc")));
        if (sql) {
            runSql(index, sql);
        } else {
            writeAll(kept, "");
            fs::create_symlink(kept, index);
        }
        const std::string before = readAll(kept);
        const auto opened = FlightLibrary::open(scratch.path());
        ASSERT_FALSE(opened);
        EXPECT_EQ(opened.error().kind, LibraryErrorKind::Unusable) << libraryErrorKindName(opened.error().kind);
        EXPECT_NE(opened.error().message.find(index), std::string::npos) << opened.error().message;
        EXPECT_NE(opened.error().message.find(" away"), std::string::npos) << opened.error().message;
        EXPECT_EQ(readAll(kept), before);
        EXPECT_EQ(std::distance(fs::directory_iterator(scratch.path()), {}), sql ? 2 : 3) << "nothing set aside";
    }
    TemporaryFolder scratch;
    const std::string index = scratch.path() + "/library.sqlite";
    for (const char* before : { "", "PRAGMA application_id=0" }) { // new, and ours from before the mark
        if (*before)
            runSql(index, before);
        ASSERT_TRUE(openLibrary(scratch.path()));
        EXPECT_EQ(runSql(index, "PRAGMA application_id"), std::to_string(FlightIndex::applicationId));
    }
}

// A rebuild killed half-way (here: as it adds its second flight) leaves the index it
// started from, never an empty one.
TEST(FlightLibrary, ARebuildKilledHalfWayLeavesTheOldIndex)
{
    TemporaryFolder scratch;
    std::map<std::string, std::int64_t> before;
    {
        auto library = openLibrary(scratch.path());
        for (const char* name : { "20180427.igc", "20241007TZN.igc", "0asljd01.igc" })
            ASSERT_EQ(library->importFile(testFile(name)).kind, ImportOutcome::Kind::Imported) << name;
        before = idsByFile(*library);
    }
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        auto library = FlightLibrary::open(scratch.path());
        int added = 0;
        if (library) {
            (*library)->clock = [&added] { return ++added == 2 ? (::_exit(9), 0) : std::int64_t { 1000 }; };
            (void)(*library)->rebuild();
        }
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 9) << "killed as it added its second flight";
    EXPECT_EQ(idsByFile(*openLibrary(scratch.path())), before);
}

// A folder that cannot be listed is not an empty one: its flights stay listed under
// their ids, the rebuild refuses to make an index without them, the check repairs
// nothing there, and an import of a folder says which sub-folder it could not search.
TEST(FlightLibrary, AFolderThatCannotBeReadIsNoEmptyFolder)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root lists every folder";
    TemporaryFolder scratch;
    CapturingLogSink log;
    auto library = openLibrary(scratch.path() + "/Flights", &log);
    for (const char* name : { "20180427.igc", "20241007TZN.igc" })
        ASSERT_EQ(library->importFile(testFile(name)).kind, ImportOutcome::Kind::Imported) << name;
    const auto before = idsByFile(*library);
    writeAll(scratch.path() + "/offered/unreadable/flight.igc", readAll(testFile("0asljd01.igc")));
    const std::string locked[] = { scratch.path() + "/Flights/2018", scratch.path() + "/offered/unreadable" };
    for (const std::string& folder : locked)
        fs::permissions(folder, fs::perms::none);

    EXPECT_EQ(valueOf(library->reconcile()), 0u);
    ASSERT_EQ(library->unreadableFolders().size(), 1u);
    EXPECT_TRUE(library->unreadableFolders().front().starts_with("2018 (")) << library->unreadableFolders().front();
    EXPECT_TRUE(log.containsPrefix("Cannot read the folder 2018 ("));
    const auto rebuilt = library->rebuild();
    ASSERT_FALSE(rebuilt);
    EXPECT_NE(rebuilt.error().message.find("the folder 2018 ("), std::string::npos) << rebuilt.error().message;
    for (const CheckFinding& finding : valueOf(library->check(true)).findings)
        EXPECT_NE(finding.kind, CheckFinding::Kind::RowWithoutFile) << finding.message;
    EXPECT_EQ(idsByFile(*library), before);
    const auto outcomes = library->importPaths({ scratch.path() + "/offered" });
    for (const std::string& folder : locked)
        fs::permissions(folder, fs::perms::owner_all);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes.front().source, locked[1]);
    EXPECT_EQ(outcomes.front().message, "cannot search the folder: Permission denied");
}

// A commit that fails after the files were placed (as on a full disk), of one file or of
// all: the import says so and takes back what it placed (a shorter copy it replaced goes
// back), so that neither a reconcile nor the next import doubles a file. (The journal
// that cannot be written: Cli.SyncKeepsEachFlightOnceAndTheLibraryFindsIt.)
TEST(FlightLibrary, AnImportThatCannotBeRecordedKeepsNothingOfIt)
{
    for (const bool oneTransaction : { true, false }) {
        SCOPED_TRACE(oneTransaction ? "importPaths" : "importFile");
        TemporaryFolder scratch;
        const std::string folder = scratch.path() + "/Flights", stub = cutShort(readAll(testFile("20180427.igc")), 200);
        for (const char* name : { "20180427.igc", "20241007TZN.igc", "2016-11-08-xcs-aaa-02.igc" })
            writeAll(scratch.path() + "/in/" + name, readAll(testFile(name)));
        writeAll(scratch.path() + "/stub.igc", stub);
        auto library = openLibrary(folder);
        const LibraryFlight kept = *library->importFile(scratch.path() + "/stub.igc").flight;
        const auto importAll = [&] {
            if (oneTransaction)
                return library->importPaths({ scratch.path() + "/in" });
            return std::vector { library->importFile(testFile("20241007TZN.igc")),
                library->importFile(testFile("2016-11-08-xcs-aaa-02.igc")) };
        };
        const auto flightFiles = [&] {
            std::size_t files = 0;
            for (const auto& entry : fs::recursive_directory_iterator(folder))
                files += entry.path().extension() == ".igc";
            return files;
        };

        sqlite3_commit_hook(library->index().database()->get(), [](void*) { return 1; }, nullptr);
        for (const ImportOutcome& outcome : importAll())
            EXPECT_EQ(outcome.kind, ImportOutcome::Kind::Refused) << outcome.source << ": " << outcome.message;
        EXPECT_EQ(flightFiles(), 1u) << "what was placed is taken back, what was there stays";
        EXPECT_TRUE(readAll(library->pathOf(kept)) == stub) << "the shorter copy is back in its place";
        sqlite3_commit_hook(library->index().database()->get(), nullptr, nullptr);
        EXPECT_EQ(valueOf(library->reconcile()), 0u) << "nothing reported as not imported comes in later";
        for (const ImportOutcome& outcome : importAll())
            EXPECT_EQ(outcome.kind, ImportOutcome::Kind::Imported) << outcome.source << ": " << outcome.message;
        EXPECT_EQ(flightFiles(), oneTransaction ? 4u : 3u) << "each file once (a replaced copy kept aside)";
    }
}

// Paths read back from the library's own files (the airspace journal, the flight journal,
// the index's rows) that lead out of it (absolute, "..", a control character, a symbolic
// link on the way) are refused with a log line: nothing is written or moved outside.
TEST(FlightLibrary, PathsReadBackNeverLeadOutOfTheLibrary)
{
    TemporaryFolder scratch;
    const std::string folder = scratch.path() + "/Flights", outside = scratch.path() + "/outside";
    fs::create_directories(outside);
    fs::create_directories(folder + "/Airspaces");
    fs::create_directory_symlink(outside, folder + "/Linked");
    const std::string openAir = "AC D\nAN ALPS\nAL GND\nAH 3000 MSL\nDP 46:00:00 N 007:00:00 E\n";
    corvex::Sha256 digest;
    digest.update(openAir);
    std::string uses = "99999999999999999999999\tchecked\t\t\t" + digest.finishHex() + "\tAirspaces/a.txt\ta.txt\n";
    for (const std::string& file : { outside + "/run.txt", std::string("Airspaces/../../outside/run.txt"), std::string("Linked/run.txt"),
             std::string("Airspaces/a\x1b[2J.txt"), std::string("Airspaces/sub/a.txt") })
        uses += "100\tchecked\t\t\t" + digest.finishHex() + "\t" + file + "\ta.txt\n";
    writeAll(folder + "/Airspaces/uses.tsv", uses);
    writeAll(folder + "/journal.tsv", "id\t7\t../outside/x.igc\t0\nid\t8\t/etc/x.igc\t0\nremoved\t8\t1\tLinked/2024/x.igc\n");
    writeAll(folder + "/library.sqlite", "not a database");

    CapturingLogSink log;
    auto library = openLibrary(folder, &log);
    for (const int line : { 2, 3, 4, 5, 6 })
        EXPECT_TRUE(log.containsPrefix("Line " + std::to_string(line) + " of " + folder + "/Airspaces/uses.tsv is skipped")) << line;
    for (const int line : { 1, 2, 3 })
        EXPECT_TRUE(log.containsPrefix("Line " + std::to_string(line) + " of the library journal " + folder + "/journal.tsv names"));
    EXPECT_TRUE(valueOf(library->airspaces().index().files()).empty());
    const auto kept = library->airspaces().keep(openAir, "a.txt", AirspaceUse::Checked, 200);
    ASSERT_TRUE(kept) << kept.error().message;
    EXPECT_EQ(readAll(library->airspaces().pathOf(*kept)), openAir) << "kept inside, never where a line said";

    // Rows of the index that lead out: no kept copy is written there, no flight moved.
    ASSERT_TRUE(library->index().database()->execute("UPDATE airspace_files SET file = '" + outside + "/run.txt'"));
    fs::remove(library->airspaces().pathOf(*kept));
    EXPECT_FALSE(library->airspaces().keep(openAir, "a.txt", AirspaceUse::Checked, 300));
    EXPECT_TRUE(fs::is_empty(outside));
    writeAll(outside + "/mine.igc", "kept");
    const std::int64_t id = library->importFile(testFile("20180427.igc")).flight->id;
    ASSERT_TRUE(library->index().database()->execute("UPDATE flights SET file = '../outside/mine.igc'"));
    EXPECT_FALSE(library->remove(id));
    EXPECT_EQ(readAll(outside + "/mine.igc"), "kept");
    // An Airspaces folder that is a link out of the library takes no new copy either.
    fs::remove_all(folder + "/Airspaces");
    fs::create_directory_symlink(outside, folder + "/Airspaces");
    EXPECT_FALSE(library->airspaces().keep("AC C\n", "run.desktop", AirspaceUse::Converted, 400));
    EXPECT_EQ(std::distance(fs::directory_iterator(outside), fs::directory_iterator()), 1);
}
