// The cable pulled in the middle of every long corvex operation, at twenty points of
// its traffic: corvex must end (no crash, no hang) with an error unless it truly
// finished, leave no partial file under a final name and no temporary file, and never
// claim the instrument stored or cleared what it did not.
#include "VirtualInstrumentProcess.h"

#include "support/SRecordFirmware.h"
#include "support/TemporaryFolder.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using corvex::testing::readFile;
using corvex::testing::TemporaryFolder;
using corvex::testing::VirtualInstrumentProcess;

enum class Kind { Download, Logbook, Upload, Read, Clear, Pilot, Firmware, Sync };

struct Operation {
    const char* name;
    Kind kind;
    std::vector<std::string> instrumentArguments;
    // Instruments run side by side: every cut after the erase request costs its 21 s wait.
    int lanes { 1 };
};

void PrintTo(const Operation& operation, std::ostream* out) { *out << operation.name; }

struct CorvexRun {
    int exitCode { -1 };
    bool crashed { false };
    bool hung { false };
    std::string out, err;
};

std::size_t traffic(VirtualInstrumentProcess& instrument)
{
    unsigned long in = 0, out = 0;
    std::sscanf(instrument.controlReply("traffic").c_str(), "ok %lu %lu", &in, &out);
    return in + out;
}

// Runs corvex on the instrument's port. Once the armed cut has happened the cable goes
// back in at once, as a user would plug it again (a restarting instrument is waited for).
CorvexRun runCorvex(VirtualInstrumentProcess* instrument, const std::vector<std::string>& arguments, const std::string& folder,
    std::size_t cutAfter = 0, std::chrono::seconds timeout = std::chrono::seconds(30))
{
    std::vector<std::string> all { CORVEX_BUILD_DIR "/corvex" };
    if (instrument)
        all.insert(all.end(), { "--port", instrument->portPath() });
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : all)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    // Convert and upload keep what they used in the flight library: never the user's own.
    std::vector<std::string> variables { "CORVEX_NO_UDEV=1", "CORVEX_LIBRARY=" + folder + "/Flights" };
    for (char** variable = environ; *variable; ++variable)
        if (std::string_view(*variable).rfind("CORVEX_", 0) != 0)
            variables.emplace_back(*variable);
    std::vector<char*> envp;
    for (std::string& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    const std::size_t before = cutAfter ? traffic(*instrument) : 0;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, (folder + "/stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, (folder + "/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    CorvexRun run;
    if (spawned != 0)
        return run;
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool plugged = cutAfter == 0;
    for (;;) {
        pollfd ready { pidfd, POLLIN, 0 };
        if (::poll(&ready, 1, 20) > 0)
            break;
        if (!plugged && traffic(*instrument) - before >= cutAfter && instrument->controlReply("status") == "ok unplugged")
            plugged = instrument->plug();
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            run.hung = true;
            break;
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(pidfd);
    run.crashed = WIFSIGNALED(status) && !run.hung;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = readFile(folder + "/stdout");
    run.err = readFile(folder + "/stderr");
    return run;
}

// The output files by name. IGC files carry the time of their download, which is left out.
std::map<std::string, std::string> outputFiles(const std::string& folder)
{
    std::map<std::string, std::string> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        std::string contents = readFile(entry.path());
        for (std::size_t at; (at = contents.find("LXCV Downloaded")) != std::string::npos;)
            contents.erase(at, contents.find('\n', at) + 1 - at);
        files[entry.path().filename()] = contents;
    }
    return files;
}

// A flight library's IGC files by their path in it, without the index.
std::map<std::string, std::string> libraryFiles(const std::string& folder)
{
    std::map<std::string, std::string> files;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder, error)) {
        const std::string name = entry.path().filename();
        if (entry.is_regular_file() && !name.starts_with("library.sqlite"))
            files[fs::relative(entry.path(), folder)] = outputFiles(entry.path().parent_path())[name];
    }
    return files;
}

class CliUnplug : public ::testing::TestWithParam<Operation> { };

TEST_P(CliUnplug, PullingTheCableAnywhereLeavesNoLieAndNoPartialFile)
{
    const Operation& operation = GetParam();
    TemporaryFolder scratch("corvex-unplug");
    // Two short flights keep a download sweep quick.
    const std::string flights = scratch.path() + "/igc";
    fs::create_directory(flights);
    for (const char* name : { "20241007TZN.igc", "lad_lod_extensions.igc" })
        fs::create_symlink(std::string(CORVEX_TESTDATA_DIR "/igc/") + name, flights + "/" + name);
    const std::string set = scratch.path() + "/alps.as";
    if (operation.kind == Kind::Upload || operation.kind == Kind::Read || operation.kind == Kind::Clear) {
        const CorvexRun convert
            = runCorvex(nullptr, { "airspaces", "convert", CORVEX_TESTDATA_DIR "/openair/openair.txt", "--out", set }, scratch.path());
        ASSERT_EQ(convert.exitCode, 0) << convert.err;
    }

    // What one point of the sweep runs: 0 is the unharmed run, 1..20 the cut ones.
    const auto prepare = [&](VirtualInstrumentProcess& instrument, int point, const std::string& out) {
        fs::create_directory(out);
        const std::string state = instrument.stateDirectory() + "/airspaces";
        switch (operation.kind) {
        case Kind::Download:
            return std::vector<std::string> { "download", "all", "--format", "igc", "--out", out };
        case Kind::Logbook:
            return std::vector<std::string> { "logbook", "--out", out + "/book.csv" };
        case Kind::Upload:
            fs::remove(state); // an instrument holding a set would be cleared first (21 s)
            return std::vector<std::string> { "airspaces", "upload", set };
        case Kind::Read:
            return std::vector<std::string> { "airspaces", "read", out + "/set.as" };
        case Kind::Clear:
            fs::copy_file(set, state, fs::copy_options::overwrite_existing);
            return std::vector<std::string> { "airspaces", "clear" };
        case Kind::Pilot:
            return std::vector<std::string> { "pilot", "--set", "pilot=Unplug" + std::to_string(10 + point) };
        case Kind::Firmware: {
            const std::string folder = fs::path(out).parent_path();
            corvex::testing::makeSRecordFirmware(folder, "WREN 2.5" + std::to_string(10 + point), 40);
            return std::vector<std::string> { "firmware", "install", folder + "/firmware.s19" };
        }
        case Kind::Sync:
            return std::vector<std::string> { "sync", "--library", fs::path(out).parent_path().string() + "/library" };
        }
        return std::vector<std::string> {};
    };
    // What the instrument holds must be what corvex says it made it hold.
    const auto stateProblem = [&](VirtualInstrumentProcess& instrument, int point, const CorvexRun& run) -> std::string {
        const std::string state = instrument.stateDirectory();
        const std::string stored = readFile(state + "/airspaces");
        const bool succeeded = run.exitCode == 0;
        switch (operation.kind) {
        case Kind::Upload:
            // This instrument refuses no chunk: whatever broke the upload off was the cable.
            if (run.err.find("refused") != std::string::npos)
                return "a pulled cable reported as a refusal: " + run.err;
            if (!stored.empty() && stored != readFile(set))
                return "the instrument holds a damaged set";
            return succeeded && stored.empty() ? "upload reported but no set stored" : "";
        case Kind::Clear:
            return succeeded && fs::exists(state + "/airspaces") ? "clear reported but the set is still there" : "";
        case Kind::Pilot:
            return succeeded && readFile(state + "/pilot-data").find("Unplug" + std::to_string(10 + point)) == std::string::npos
                ? "pilot data reported stored but not in the instrument"
                : "";
        case Kind::Firmware:
            // This instrument refuses no line: whatever broke the installation off was the cable.
            if (run.err.find("refused") != std::string::npos)
                return "a pulled cable reported as a refusal: " + run.err;
            return succeeded && readFile(state + "/firmware-version") != "25" + std::to_string(10 + point)
                ? "firmware reported installed but the instrument runs " + readFile(state + "/firmware-version") + " (empty: its first)"
                : "";
        case Kind::Sync: {
            // Whatever the cut left, the next sync finishes the job: the same files as
            // an unharmed sync, none twice, no half-written one.
            const std::string folder = scratch.path() + "/" + std::to_string(point);
            const CorvexRun again = runCorvex(&instrument, { "sync", "--library", folder + "/library" }, folder);
            if (again.exitCode != 0)
                return "the sync after the cut failed: " + again.err;
            if (libraryFiles(folder + "/library") != libraryFiles(scratch.path() + "/0/library"))
                return "after a second sync the library differs from an unharmed one";
            return succeeded && run.out.find("2 new, 0 already in the library") == std::string::npos ? "success without both flights: " + run.out : "";
        }
        default:
            return "";
        }
    };
    const std::chrono::seconds timeout(operation.kind == Kind::Clear ? 45 : 30);
    const auto instrumentOptions = [&] {
        VirtualInstrumentProcess::Options options;
        options.igcDirectory = flights;
        options.extraArguments = operation.instrumentArguments;
        if (operation.kind == Kind::Read)
            options.extraArguments.insert(options.extraArguments.end(), { "--airspaces", set });
        return options;
    };

    // The unharmed run: its byte count and its files.
    const auto started = std::chrono::steady_clock::now();
    VirtualInstrumentProcess reference(instrumentOptions());
    const std::string referenceOut = scratch.path() + "/0/out";
    fs::create_directories(referenceOut);
    const std::size_t before = traffic(reference);
    const CorvexRun unharmed = runCorvex(&reference, prepare(reference, 0, referenceOut), scratch.path() + "/0", 0, timeout);
    const std::size_t total = traffic(reference) - before;
    ASSERT_EQ(unharmed.exitCode, 0) << unharmed.err;
    ASSERT_EQ(stateProblem(reference, 0, unharmed), "");
    const auto expectedFiles = outputFiles(referenceOut);

    // Two at the very start, fifteen evenly apart, and the last exchange, where a
    // program may have all it needs or take a lost answer for a done deed. (A log book
    // cut inside its first record was saved empty: the hung-up line read as silence.)
    std::vector<std::size_t> points { 1, 5 };
    for (std::size_t i = 1; i <= 15; ++i)
        points.push_back(total * i / 16);
    points.insert(points.end(), { total - 31, total - 7, total - 1 });
    std::sort(points.begin(), points.end());
    std::vector<std::string> problems(points.size());
    std::vector<std::string> laneProblems(static_cast<std::size_t>(operation.lanes));
    std::vector<int> exitCodes(points.size(), -1);
    const auto runLane = [&](int lane) {
        VirtualInstrumentProcess instrument(instrumentOptions());
        for (std::size_t p = static_cast<std::size_t>(lane); p < points.size(); p += static_cast<std::size_t>(operation.lanes)) {
            const int point = static_cast<int>(p) + 1;
            const std::string out = scratch.path() + "/" + std::to_string(point) + "/out";
            fs::create_directories(out);
            const auto arguments = prepare(instrument, point, out);
            std::string& problem = problems[p];
            if (!instrument.control("unplug-after " + std::to_string(points[p]))) {
                problem = "cannot arm the cut";
                continue;
            }
            const std::size_t armed = traffic(instrument);
            const CorvexRun run = runCorvex(&instrument, arguments, fs::path(out).parent_path(), points[p], timeout);
            const std::size_t crossed = traffic(instrument) - armed;
            exitCodes[p] = run.exitCode;
            if (std::getenv("CORVEX_UNPLUG_TRACE"))
                std::fprintf(stderr, "%s k=%zu exit=%d crossed=%zu err=%s\n", operation.name, points[p], run.exitCode, crossed, run.err.c_str());
            instrument.plug();
            if (run.hung || run.crashed) {
                problem = run.hung ? "hung" : "crashed";
                continue;
            }
            // Every file under a final name whole, nothing else (no temporary names).
            const auto files = outputFiles(out);
            for (const auto& [name, contents] : files)
                if (!expectedFiles.contains(name) || expectedFiles.at(name) != contents)
                    problem += "partial or stray file " + name + "; ";
            if (run.exitCode == 0 && files != expectedFiles)
                problem += "success without every file; ";
            // Each run gets as far as the cut: the instrument plugged in again works.
            if (crossed < points[p])
                problem += "ended after " + std::to_string(crossed) + " bytes (" + run.err + "); ";
            const std::size_t lastLine = run.err.size() < 2 ? 0 : run.err.rfind('\n', run.err.size() - 2) + 1;
            if (run.exitCode != 0 && run.err.compare(lastLine, 8, "corvex: ") != 0)
                problem += "no error line: " + run.err + "; ";
            problem += stateProblem(instrument, point, run);
        }
        // And after the last cut a plain plug-in.
        const std::string folder = scratch.path() + "/lane" + std::to_string(lane);
        fs::create_directory(folder);
        const CorvexRun info = runCorvex(&instrument, { "info" }, folder);
        if (info.exitCode != 0)
            laneProblems[static_cast<std::size_t>(lane)] = "info after the sweep failed: " + info.err;
    };
    std::vector<std::thread> lanes;
    for (int lane = 0; lane < operation.lanes; ++lane)
        lanes.emplace_back(runLane, lane);
    for (std::thread& lane : lanes)
        lane.join();
    for (std::size_t p = 0; p < points.size(); ++p)
        EXPECT_EQ(problems[p], "") << operation.name << ": cut after " << points[p] << " of " << total << " bytes";
    for (const std::string& problem : laneProblems)
        EXPECT_EQ(problem, "") << operation.name;
    std::string codes;
    for (const int code : exitCodes)
        codes += " " + std::to_string(code);
    std::printf("%s: %zu bytes, sweep %.1f s, exit codes%s\n", operation.name, total,
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(), codes.c_str());
}

INSTANTIATE_TEST_SUITE_P(Operations, CliUnplug,
    ::testing::Values(Operation { "DownloadPadded", Kind::Download, {} },
        Operation { "DownloadUnpadded", Kind::Download, { "--unpadded-igc" } }, Operation { "Logbook", Kind::Logbook, {} },
        Operation { "AirspacesUpload", Kind::Upload, {} }, Operation { "AirspacesRead", Kind::Read, {} },
        Operation { "AirspacesClear", Kind::Clear, {}, 6 }, Operation { "PilotWrite", Kind::Pilot, { "--pilot", "Ann Example" } },
        Operation { "FirmwareInstall", Kind::Firmware, {} }, Operation { "Sync", Kind::Sync, {} }),
    [](const ::testing::TestParamInfo<Operation>& param) { return std::string(param.param.name); });

} // namespace
