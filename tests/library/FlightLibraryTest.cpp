// The flight library on a real folder and a real SQLite file.
#include "library/FlightLibrary.h"
#include "library/LibraryFolder.h"

#include "CapturingLogSink.h"
#include "TemporaryFolder.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <atomic>
#include <functional>
#include <map>
#include <sstream>
#include <tuple>

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

// Two flights of one minute never replace each other, and the names read back.
TEST(FlightLibrary, NamesSortByTimeAndNeverCollide)
{
    EXPECT_EQ(libraryBaseName(1728282407, "XSX004 SKYTRAXX"), "2024-10-07_0626_XSX004-SKYTRAXX");
    EXPECT_EQ(libraryBaseName(1728282407, "../../etc"), "2024-10-07_0626_------etc") << "a name cannot leave its folder";
    EXPECT_EQ(libraryBaseName(1728282407, ""), "2024-10-07_0626_unknown");
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

        CapturingLogSink log;
        auto library = openLibrary(scratch.path(), &log);
        ASSERT_TRUE(library);
        EXPECT_TRUE(log.containsPrefix("The flight index " + index + " is damaged"));
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
        EXPECT_EQ(setAside, 1u);
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
        for (const char* sql : { "DROP INDEX flights_file_part", "DROP INDEX flights_recording", "ALTER TABLE flights DROP COLUMN altitude_source",
                 "ALTER TABLE flights DROP COLUMN part", "ALTER TABLE flights DROP COLUMN recording_of",
                 "ALTER TABLE flights DROP COLUMN removed", "ALTER TABLE flights DROP COLUMN glider_edit",
                 "ALTER TABLE flights DROP COLUMN pilot_edit", "ALTER TABLE flights DROP COLUMN site",
                 "ALTER TABLE flights DROP COLUMN comment", "ALTER TABLE flights DROP COLUMN scored_track",
                 "DROP TRIGGER flights_scores_go", "DROP TABLE scores",
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

    EXPECT_EQ(again->id, first->id);
    EXPECT_EQ(again->name, "alps.txt") << "the name it first came with";
    EXPECT_NE(other->id, first->id) << "the same name, other bytes";
    EXPECT_NE(other->file, first->file);
    EXPECT_EQ(archive.index().files()->size(), 2u);
    std::size_t copies = 0;
    for (const auto& entry : fs::directory_iterator(archive.folder()))
        copies += entry.is_regular_file() && entry.path().filename() != "uses.tsv";
    EXPECT_EQ(copies, 2u) << "no temporary file left beside them";
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
        for (const char* sql : { "DROP INDEX flights_file_part", "DROP INDEX flights_recording", "ALTER TABLE flights DROP COLUMN altitude_source",
                 "ALTER TABLE flights DROP COLUMN part", "ALTER TABLE flights DROP COLUMN recording_of",
                 "ALTER TABLE flights DROP COLUMN removed", "ALTER TABLE flights DROP COLUMN glider_edit",
                 "ALTER TABLE flights DROP COLUMN pilot_edit", "ALTER TABLE flights DROP COLUMN site",
                 "ALTER TABLE flights DROP COLUMN comment", "ALTER TABLE flights DROP COLUMN scored_track",
                 "DROP TRIGGER flights_scores_go", "DROP TABLE scores",
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
