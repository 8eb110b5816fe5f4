// The update helper as a real process, when the update cannot be put in place: a
// program folder in a temporary prefix whose "program" is a script that records each
// start. (The update that succeeds runs from the update window's tests.)

#include "TemporaryFolder.h"
#include "ZipWriting.h"
#include "updates/ProgramFolder.h"

#include <gtest/gtest.h>

#include <chrono>
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
        fs::create_directories(m_root.path() + "/runtime");
        m_workingDirectory = makeWorkingDirectory(m_root.path() + "/runtime/CorvexVarioUpdaterTmpDirectory").value_or("");
    }

    std::string programFolder() const { return m_root.path() + "/apps/corvex-vario"; }
    // Made as the program makes it, with the marker the helper looks for.
    std::string workingDirectory() const { return m_workingDirectory; }
    std::string startsRecord() const { return m_root.path() + "/starts"; }

    // A program that writes which version started, and from where.
    std::string program(const std::string& version) const
    {
        return "#!/bin/sh\necho \"" + version + " $(pwd)\" >> '" + startsRecord() + "'\n";
    }

    // Runs the helper to its end with the two arguments and the options the program
    // gives it, and answers its exit status.
    int runHelper(const std::string& installedFolder = "", pid_t waitFor = 0, const std::string& working = "")
    {
        std::vector<std::string> owned = { helperProgram, working.empty() ? workingDirectory() : working, "corvex-vario", "--program-folder",
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
    std::string m_workingDirectory;
};

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

// Run by hand, the helper must not remove a folder the program did not make for it, nor
// replace a folder that holds no program.
TEST_F(UpdateHelperProcessTest, ArgumentsThatNameOtherFoldersTouchNothing)
{
    const std::string root = m_root.path(), working = workingDirectory();
    writeFile(root + "/Documents/letter", "keep me");
    writeFile(root + "/Marked/.corvex-vario-update", "anything\n", fs::perms(0600)); // a marker it wrote itself
    fs::permissions(root + "/Marked", fs::perms(0700));
    fs::create_directory_symlink(working, root + "/link");
    writeFile(root + "/elsewhere/corvex-vario/notes", "keep me");
    unpackNewVersion(program("new"));
    struct Case {
        const char* what;
        std::string working; // the first argument
        std::string installed; // --program-folder
        fs::perms mode { 0700 }; // of the working directory
        uid_t owner { ::getuid() }; // of the working directory; root alone can give it away
    };
    const Case cases[] = {
        { "a folder of the user's own", root + "/Documents", programFolder() },
        { "a folder with a marker it wrote itself", root + "/Marked", programFolder() },
        { "a working directory open to others", working, programFolder(), fs::perms(0755) },
        { "a link to a working directory", root + "/link", programFolder() },
        { "a relative working directory", "runtime", programFolder() },
        { "a program folder without the program", working, root + "/elsewhere/corvex-vario" },
        { "a working directory of another user", working, programFolder(), fs::perms(0700), ::geteuid() == 0 ? 65534u : ::getuid() },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.owner == ::getuid() && c.working == working && c.installed == programFolder() && c.mode == fs::perms(0700))
            continue; // without root, no folder of another user can be made
        fs::permissions(working, c.mode);
        ASSERT_EQ(::chown(working.c_str(), c.owner, static_cast<gid_t>(-1)), 0);
        const std::vector<std::string> before = testing::filesBelow(root);
        EXPECT_EQ(runHelper(c.installed, 0, c.working), 2);
        EXPECT_EQ(testing::filesBelow(root), before);
        EXPECT_EQ(readFile(startsRecord()), "");
        fs::permissions(working, fs::perms(0700));
        ASSERT_EQ(::chown(working.c_str(), ::getuid(), static_cast<gid_t>(-1)), 0);
    }
}

} // namespace
} // namespace corvex
