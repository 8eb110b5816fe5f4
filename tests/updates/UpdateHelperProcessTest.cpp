// The update helper as the program starts it: a real process that waits for the
// program's process to end and swaps a program folder in a temporary prefix, whose
// "program" is a script that records each start.

#include "CapturingLogSink.h"
#include "DeviceTestRig.h"
#include "TemporaryFolder.h"
#include "ZipWriting.h"
#include "base/Sha256.h"
#include "platform/ProcessLauncher.h"
#include "updates/SoftwareUpdateInstaller.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace corvex {
namespace {

namespace fs = std::filesystem;

const std::string helperProgram = std::string(CORVEX_BUILD_DIR) + "/CorvexVarioUpdateHelperTool";

std::string readFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), {});
}

void writeFile(const std::string& path, const std::string& text, fs::perms permissions = fs::perms(0644))
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
    fs::permissions(path, permissions);
}

// Waits until `path` holds `count` lines, for at most ten seconds.
std::string waitForLines(const std::string& path, std::size_t count)
{
    for (int i = 0; i < 200; ++i) {
        const std::string text = readFile(path);
        if (static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) >= count)
            return text;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return readFile(path);
}

class UpdateHelperProcessTest : public ::testing::Test {
protected:
    UpdateHelperProcessTest()
    {
        writeFile(programFolder() + "/bin/corvex-vario", program("old"), fs::perms(0755));
        writeFile(programFolder() + "/share/version", "1");
    }

    std::string programFolder() const { return m_root.path() + "/apps/corvex-vario"; }
    std::string workingDirectory() const { return m_root.path() + "/runtime/CorvexVarioUpdaterTmpDirectory"; }
    std::string startsRecord() const { return m_root.path() + "/starts"; }

    // A program that writes which version started, and from where.
    std::string program(const std::string& version) const
    {
        return "#!/bin/sh\necho \"" + version + " $(pwd)\" >> '" + startsRecord() + "'\n";
    }

    // Runs the helper to its end with the two arguments and the options the program
    // gives it, and answers its exit status.
    int runHelper(const std::string& installedFolder = "", pid_t waitFor = 0)
    {
        std::vector<std::string> owned = { helperProgram, workingDirectory(), "corvex-vario", "--program-folder",
            installedFolder.empty() ? programFolder() : installedFolder,
            "--wait-for-process", std::to_string(waitFor) };
        std::vector<char*> argv;
        for (std::string& argument : owned)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        pid_t helper = -1;
        if (::posix_spawn(&helper, helperProgram.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
            return -1;
        int status = 0;
        ::waitpid(helper, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Unpacks a program folder into the working directory as the installer leaves it.
    void unpackNewVersion(const std::string& programText)
    {
        writeFile(workingDirectory() + "/corvex-vario/bin/corvex-vario", programText, fs::perms(0755));
        writeFile(workingDirectory() + "/corvex-vario/share/version", "2");
        writeFile(workingDirectory() + "/update.zip", "archive");
    }

    void expectOnlyTheProgramFolderBesideIt()
    {
        EXPECT_EQ(testing::filesBelow(m_root.path() + "/apps").front(), "corvex-vario");
        for (const std::string& path : testing::filesBelow(m_root.path() + "/apps"))
            EXPECT_TRUE(path.starts_with("corvex-vario")) << path;
    }

    testing::TemporaryFolder m_root { "corvex-helper" };
};

TEST_F(UpdateHelperProcessTest, ASoftwareUpdateReplacesTheProgramFolderOnceTheProgramHasEndedAndStartsItAgain)
{
    // The running program is a process the helper must wait for.
    PosixProcessLauncher processes;
    const auto running = processes.startDetached("/bin/sleep", { "30" }, "/");
    ASSERT_TRUE(running) << running.error();

    const std::string archivePath = m_root.path() + "/package.zip";
    ASSERT_TRUE(testing::writeZip(archivePath,
        { testing::zipFolder("corvex-vario/"), { "corvex-vario/bin/corvex-vario", program("new"), S_IFREG | 0755 },
            { "corvex-vario/share/version", "2" } }));
    const Bytes archive = bytesOf(readFile(archivePath));
    ::setenv("XDG_RUNTIME_DIR", (m_root.path() + "/runtime").c_str(), 1);
    fs::create_directories(m_root.path() + "/runtime");
    // The installed program's libexec/ holds the freshly built helper.
    fs::create_directories(programFolder() + "/libexec");
    fs::copy_file(helperProgram, programFolder() + "/libexec/CorvexVarioUpdateHelperTool");

    testing::CapturingLogSink log;
    testing::RecordingAlertPresenter alerts;
    bool terminated = false;
    SoftwareUpdateEnvironment environment;
    environment.log = &log;
    environment.alerts = &alerts;
    environment.processes = &processes;
    environment.processId = *running;
    environment.terminateApplication = [&] {
        terminated = true;
        // The program ends a little later, as a real one does after its event loop.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(readFile(startsRecord()), "") << "the helper started the program before it had ended";
        ::kill(*running, SIGTERM);
        ::waitpid(*running, nullptr, 0);
    };
    SoftwareUpdateInstaller installer(environment, ProgramFolder::ofExecutable(programFolder() + "/bin/corvex-vario"),
        SoftwareUpdateInstaller::defaultWorkingDirectory());
    ASSERT_EQ(installer.workingDirectory(), workingDirectory());
    const bool installed = installer.installSoftwareUpdateFromDataAndRelaunchApp(archive, Sha256::hexOf(archive));
    if (!terminated) {
        // Left running it would hold ctest's output pipe open.
        ::kill(*running, SIGKILL);
        ::waitpid(*running, nullptr, 0);
    }
    ASSERT_TRUE(installed) << ::testing::PrintToString(log.lines);
    EXPECT_TRUE(terminated);

    EXPECT_EQ(waitForLines(startsRecord(), 1), "new " + programFolder() + "\n");
    EXPECT_EQ(readFile(programFolder() + "/share/version"), "2");
    EXPECT_FALSE(fs::exists(programFolder() + "/libexec")); // the new folder as it came
    // The helper cleans up after the start; give it a moment.
    for (int i = 0; i < 100 && fs::exists(workingDirectory()); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(fs::exists(workingDirectory()));
    expectOnlyTheProgramFolderBesideIt();
}

TEST_F(UpdateHelperProcessTest, AnUnpackedFolderWithoutTheProgramLeavesTheInstalledOneAndStartsIt)
{
    writeFile(workingDirectory() + "/corvex-vario/share/version", "2");
    writeFile(workingDirectory() + "/corvex-vario/bin/corvex-vario", program("new"), fs::perms(0644)); // not executable
    EXPECT_EQ(runHelper(), 1);
    EXPECT_EQ(waitForLines(startsRecord(), 1), "old " + programFolder() + "\n");
    EXPECT_EQ(readFile(programFolder() + "/share/version"), "1");
    EXPECT_FALSE(fs::exists(workingDirectory()));
    expectOnlyTheProgramFolderBesideIt();
}

TEST_F(UpdateHelperProcessTest, ANewProgramThatCannotStartIsSwappedBackForTheOldOne)
{
    unpackNewVersion("#!/nonexistent/interpreter\n");
    EXPECT_EQ(runHelper(), 1);
    EXPECT_EQ(waitForLines(startsRecord(), 1), "old " + programFolder() + "\n");
    EXPECT_EQ(readFile(programFolder() + "/share/version"), "1");
    EXPECT_EQ(readFile(programFolder() + "/bin/corvex-vario"), program("old"));
    EXPECT_FALSE(fs::exists(workingDirectory()));
    expectOnlyTheProgramFolderBesideIt();
}

TEST_F(UpdateHelperProcessTest, AFolderOfAnotherNameIsLeftAlone)
{
    unpackNewVersion(program("new"));
    // The application name must name the installed folder.
    const std::string other = m_root.path() + "/apps/other";
    fs::rename(programFolder(), other);
    EXPECT_EQ(runHelper(other), 2);
    fs::rename(other, programFolder());
    EXPECT_TRUE(fs::exists(workingDirectory()));
    EXPECT_EQ(readFile(startsRecord()), "");
    EXPECT_EQ(readFile(programFolder() + "/share/version"), "1");
}

} // namespace
} // namespace corvex
