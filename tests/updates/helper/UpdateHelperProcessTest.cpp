// The update helper as a real process, when the update cannot be put in place: a
// program folder in a temporary prefix whose "program" is a script that records each
// start. (The update that succeeds runs from the update window's tests.)

#include "TemporaryFolder.h"
#include "ZipWriting.h"
#include "updates/ProgramFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
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
    struct Case {
        const char* what;
        std::function<std::string()> working; // the first argument
        std::function<std::string()> installed; // --program-folder
    };
    const std::string root = m_root.path();
    const auto plainFolder = [root] {
        writeFile(root + "/Documents/letter", "keep me");
        return root + "/Documents";
    };
    std::vector<Case> cases = {
        { "a folder of the user's own", plainFolder, {} },
        { "a folder with the marker but open to others",
            [&] {
                fs::permissions(workingDirectory(), fs::perms(0755));
                return workingDirectory();
            },
            {} },
        { "a link to a working directory",
            [&] {
                fs::create_directory_symlink(workingDirectory(), root + "/link");
                return root + "/link";
            },
            {} },
        { "a folder with a marker it wrote itself",
            [plainFolder] {
                const std::string folder = plainFolder();
                writeFile(folder + "/.corvex-vario-update", "anything\n", fs::perms(0600));
                fs::permissions(folder, fs::perms(0700));
                return folder;
            },
            {} },
        { "a relative working directory", [] { return std::string("runtime"); }, {} },
        { "a program folder without the program", {},
            [root] {
                writeFile(root + "/elsewhere/corvex-vario/notes", "keep me");
                return root + "/elsewhere/corvex-vario";
            } },
    };
    if (::geteuid() == 0) {
        cases.push_back({ "a working directory of another user",
            [&] {
                EXPECT_EQ(::chown(workingDirectory().c_str(), 65534, 65534), 0);
                return workingDirectory();
            },
            {} });
    }
    unpackNewVersion(program("new"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string working = c.working ? c.working() : workingDirectory();
        const std::string installed = c.installed ? c.installed() : programFolder();
        const std::vector<std::string> before = testing::filesBelow(root);
        EXPECT_EQ(runHelper(installed, 0, working), 2);
        EXPECT_EQ(testing::filesBelow(root), before);
        EXPECT_EQ(readFile(startsRecord()), "");
        fs::remove_all(root + "/link");
        fs::permissions(workingDirectory(), fs::perms(0700));
        if (::geteuid() == 0) {
            EXPECT_EQ(::chown(workingDirectory().c_str(), ::getuid(), ::getgid()), 0);
        }
    }
}

} // namespace
} // namespace corvex
