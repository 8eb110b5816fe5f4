#include "updates/SoftwareUpdateInstaller.h"

#include "CapturingLogSink.h"
#include "DeviceTestRig.h"
#include "TemporaryFolder.h"
#include "ZipWriting.h"
#include "base/Sha256.h"
#include "platform/ProcessLauncher.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sys/stat.h>

namespace corvex {
namespace {

namespace fs = std::filesystem;

class RecordingProcessLauncher final : public ProcessLauncher {
public:
    Result<pid_t, std::string> startDetached(
        const std::string& program, const std::vector<std::string>& arguments, const std::string& workingDirectory) override
    {
        starts.push_back({ program, arguments, workingDirectory });
        if (fail)
            return Failure<std::string> { "cannot start " + program };
        return pid_t { 4242 };
    }
    struct Start {
        std::string program;
        std::vector<std::string> arguments;
        std::string workingDirectory;
    };
    std::vector<Start> starts;
    bool fail { false };
};

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

Bytes zipBytes(const std::string& folder, const std::vector<testing::ZipTestEntry>& entries)
{
    const std::string path = folder + "/made.zip";
    EXPECT_TRUE(testing::writeZip(path, entries));
    const std::string text = readFile(path);
    fs::remove(path);
    return bytesOf(text);
}

// An installed program folder of its own in a temporary prefix, its helper in
// libexec/, and a private runtime folder for the working directory.
class SoftwareUpdateInstallerTest : public ::testing::Test {
protected:
    SoftwareUpdateInstallerTest()
    {
        writeFile(programFolder() + "/bin/corvex-vario", "#!/bin/sh\n", fs::perms(0755));
        writeFile(programFolder() + "/libexec/CorvexVarioUpdateHelperTool", "the installed helper", fs::perms(0755));
        fs::create_directories(m_root.path() + "/runtime");
    }

    std::string programFolder() const { return m_root.path() + "/apps/corvex-vario"; }
    std::string workingDirectory() const { return m_root.path() + "/runtime/CorvexVarioUpdaterTmpDirectory"; }

    SoftwareUpdateInstaller installer(const std::string& executable = "")
    {
        SoftwareUpdateOptions options;
        options.alerts = &alerts;
        options.processes = &processes;
        options.terminateApplication = [this] { ++terminations; };
        options.processId = 77;
        return SoftwareUpdateInstaller(options,
            ProgramFolder::ofExecutable(executable.empty() ? programFolder() + "/bin/corvex-vario" : executable), workingDirectory(),
            OperationContext(log));
    }

    Bytes goodArchive()
    {
        return zipBytes(m_root.path(),
            {
                { "corvex-vario/bin/corvex-vario", "#!/bin/sh\necho new\n", S_IFREG | 0755 },
                { "corvex-vario/share/version", "2" },
                // An archive cannot bring a helper of its own.
                { "CorvexVarioUpdateHelperTool", "a helper from the archive", S_IFREG | 0755 },
            });
    }

    void expectNothingStarted()
    {
        EXPECT_TRUE(processes.starts.empty());
        EXPECT_EQ(terminations, 0);
    }

    testing::TemporaryFolder m_root { "corvex-install" };
    testing::CapturingLogSink log;
    testing::RecordingAlertPresenter alerts;
    RecordingProcessLauncher processes;
    int terminations { 0 };
};

TEST_F(SoftwareUpdateInstallerTest, UnpacksIntoAFreshPrivateFolderStartsTheHelperAndEnds)
{
    // Leftovers of an earlier attempt.
    writeFile(workingDirectory() + "/corvex-vario/stale", "old");
    const Bytes archive = goodArchive();

    auto installing = installer();
    ASSERT_TRUE(installing.installSoftwareUpdateFromDataAndRelaunchApp(archive, Sha256::hexOf(archive)));

    EXPECT_EQ(log.lines, (std::vector<std::string> { "Unzipped successfully", "CorvexVarioUpdateHelperTool successfully copied into tmp dir" }));
    EXPECT_TRUE(alerts.alerts.empty());
    EXPECT_EQ(terminations, 1);
    ASSERT_EQ(processes.starts.size(), 1u);
    const std::string helper = workingDirectory() + "/CorvexVarioUpdateHelperTool";
    EXPECT_EQ(processes.starts[0].program, helper);
    EXPECT_EQ(processes.starts[0].arguments,
        (std::vector<std::string> { workingDirectory(), "corvex-vario", "--program-folder", programFolder(), "--wait-for-process", "77" }));
    EXPECT_EQ(processes.starts[0].workingDirectory, workingDirectory());

    EXPECT_EQ(fs::status(workingDirectory()).permissions(), fs::perms::owner_all);
    EXPECT_EQ(testing::filesBelow(workingDirectory()),
        (std::vector<std::string> { "CorvexVarioUpdateHelperTool", "corvex-vario", "corvex-vario/bin", "corvex-vario/bin/corvex-vario",
            "corvex-vario/share", "corvex-vario/share/version", "update.zip" }));
    EXPECT_EQ(readFile(helper), "the installed helper");
    EXPECT_TRUE((fs::status(helper).permissions() & fs::perms::owner_exec) != fs::perms::none);
    EXPECT_EQ(bytesOf(readFile(workingDirectory() + "/update.zip")), archive);

    // A first attempt finds no folder to remove and says so.
    fs::remove_all(workingDirectory());
    ASSERT_TRUE(installing.installSoftwareUpdateFromDataAndRelaunchApp(archive));
    EXPECT_EQ(log.lines.at(2), "Step 0: removeItemAtPath failed");
}

TEST_F(SoftwareUpdateInstallerTest, ArchivesThatDoNotUnpackAreRefusedAndTheProgramKeepsRunning)
{
    const std::vector<std::pair<const char*, Bytes>> archives = {
        { "an error page", bytesOf("<html>502 Bad Gateway</html>") },
        { "a parent step", zipBytes(m_root.path(), { { "corvex-vario/bin/corvex-vario", "x", S_IFREG | 0755 }, { "../escaped", "x" } }) },
    };
    for (const auto& [what, archive] : archives) {
        SCOPED_TRACE(what);
        log.lines.clear();
        alerts.alerts.clear();
        EXPECT_FALSE(installer().installSoftwareUpdateFromDataAndRelaunchApp(archive));
        EXPECT_TRUE(log.contains("Unzipping error"));
        EXPECT_FALSE(log.contains("Unzipped successfully"));
        ASSERT_EQ(alerts.alerts.size(), 1u);
        EXPECT_EQ(alerts.alerts[0].message, "Error installing software update");
        EXPECT_EQ(alerts.alerts[0].informativeText, "Unzip returned error");
        EXPECT_EQ(alerts.alerts[0].buttons, std::vector<std::string> { "Close" });
        expectNothingStarted();
        EXPECT_EQ(testing::filesBelow(workingDirectory()), std::vector<std::string> { "update.zip" });
        EXPECT_EQ(testing::filesBelow(m_root.path() + "/runtime"),
            (std::vector<std::string> { "CorvexVarioUpdaterTmpDirectory", "CorvexVarioUpdaterTmpDirectory/update.zip" }));
        EXPECT_EQ(readFile(programFolder() + "/bin/corvex-vario"), "#!/bin/sh\n");
    }
}

TEST_F(SoftwareUpdateInstallerTest, ADownloadThatDiffersFromTheAnnouncedDigestIsRefusedBeforeAnythingIsWritten)
{
    const Bytes archive = goodArchive();
    Bytes damaged = archive;
    damaged[damaged.size() / 2] ^= 0x01;
    EXPECT_FALSE(installer().installSoftwareUpdateFromDataAndRelaunchApp(damaged, Sha256::hexOf(archive)));
    ASSERT_EQ(alerts.alerts.size(), 1u);
    EXPECT_EQ(alerts.alerts[0].message, "Error installing software update");
    EXPECT_NE(alerts.alerts[0].informativeText.find("SHA-256"), std::string::npos);
    EXPECT_TRUE(log.containsPrefix("Software update refused: its SHA-256 " + Sha256::hexOf(damaged)));
    EXPECT_FALSE(fs::exists(workingDirectory()));
    expectNothingStarted();

    // The feed's digest may be written in capitals.
    std::string announced = Sha256::hexOf(archive);
    for (char& c : announced)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_TRUE(installer().installSoftwareUpdateFromDataAndRelaunchApp(archive, announced));
}

TEST_F(SoftwareUpdateInstallerTest, AnArchiveWithoutTheProgramFolderIsRefusedBeforeTheProgramEnds)
{
    const std::vector<std::vector<testing::ZipTestEntry>> archives = {
        { { "CorvexVario/bin/corvex-vario", "#!/bin/sh\n", S_IFREG | 0755 } },
        { { "corvex-vario/bin/corvex-vario", "not executable" } },
        { testing::zipFolder("corvex-vario/bin/corvex-vario/") },
    };
    for (const auto& entries : archives) {
        alerts.alerts.clear();
        EXPECT_FALSE(installer().installSoftwareUpdateFromDataAndRelaunchApp(zipBytes(m_root.path(), entries)));
        ASSERT_EQ(alerts.alerts.size(), 1u);
        EXPECT_EQ(alerts.alerts[0].message, "Error installing software update");
        EXPECT_EQ(alerts.alerts[0].informativeText, "The downloaded software update holds no program folder corvex-vario with bin/corvex-vario.");
        expectNothingStarted();
    }
}

TEST_F(SoftwareUpdateInstallerTest, AMissingHelperIsReportedAndAFailedStartKeepsTheProgramRunning)
{
    fs::remove(programFolder() + "/libexec/CorvexVarioUpdateHelperTool");
    processes.fail = true;
    EXPECT_FALSE(installer().installSoftwareUpdateFromDataAndRelaunchApp(goodArchive()));
    EXPECT_TRUE(log.contains("Step 3: copyItemAtPath failure"));
    EXPECT_TRUE(log.contains("Step 4: NSTask launchedTaskWithLaunchPath failure"));
    ASSERT_EQ(alerts.alerts.size(), 2u);
    EXPECT_EQ(alerts.alerts[0].informativeText, "copyItemAtPath returned error");
    EXPECT_EQ(alerts.alerts[1].informativeText, "NSTask launchedTaskWithLaunchPath returned error");
    // Step 4 is tried all the same.
    EXPECT_EQ(processes.starts.size(), 1u);
    EXPECT_EQ(terminations, 0);
}

TEST_F(SoftwareUpdateInstallerTest, OnlyAProgramFolderOfItsOwnReplacesItself)
{
    struct Case {
        std::string executable;
        ProgramFolder::SelfUpdate expected;
        std::string helper;
    };
    const std::string root = m_root.path();
    writeFile(root + "/.local/bin/corvex-vario", "#!/bin/sh\n", fs::perms(0755));
    const Case cases[] = {
        { "/usr/bin/corvex-vario", ProgramFolder::SelfUpdate::PackageManager, "/usr/libexec/CorvexVarioUpdateHelperTool" },
        { "/usr/local/bin/corvex-vario", ProgramFolder::SelfUpdate::PackageManager, "/usr/local/libexec/CorvexVarioUpdateHelperTool" },
        { root + "/.local/bin/corvex-vario", ProgramFolder::SelfUpdate::NotOwnFolder, root + "/.local/libexec/CorvexVarioUpdateHelperTool" },
        { root + "/build/corvex-vario", ProgramFolder::SelfUpdate::NotOwnFolder, root + "/build/CorvexVarioUpdateHelperTool" },
        { programFolder() + "/bin/corvex-vario", ProgramFolder::SelfUpdate::Allowed, programFolder() + "/libexec/CorvexVarioUpdateHelperTool" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.executable);
        const ProgramFolder folder = ProgramFolder::ofExecutable(c.executable);
        EXPECT_EQ(folder.selfUpdate, c.expected);
        EXPECT_EQ(folder.helperProgram, c.helper);
    }

    const Bytes archive = goodArchive();
    EXPECT_FALSE(installer("/usr/bin/corvex-vario").installSoftwareUpdateFromDataAndRelaunchApp(archive));
    ASSERT_EQ(alerts.alerts.size(), 1u);
    EXPECT_EQ(alerts.alerts[0].message, "Corvex Vario was installed by the package manager");
    EXPECT_EQ(alerts.alerts[0].informativeText, "Please update it through your system's package manager.");
    EXPECT_FALSE(installer(root + "/.local/bin/corvex-vario").installSoftwareUpdateFromDataAndRelaunchApp(archive));
    ASSERT_EQ(alerts.alerts.size(), 2u);
    EXPECT_EQ(alerts.alerts[1].message, "Corvex Vario cannot replace itself");
    EXPECT_FALSE(fs::exists(workingDirectory()));
    expectNothingStarted();
}

TEST(SoftwareUpdateWorkingDirectory, IsPrivateToTheUserAndNeverTheSharedTemporaryFolder)
{
    const auto saved = [](const char* name) { const char* value = std::getenv(name); return value ? std::optional<std::string>(value) : std::nullopt; };
    const auto runtime = saved("XDG_RUNTIME_DIR"), cache = saved("XDG_CACHE_HOME"), home = saved("HOME");
    ::setenv("XDG_RUNTIME_DIR", "/run/user/1000", 1);
    EXPECT_EQ(SoftwareUpdateInstaller::defaultWorkingDirectory(), "/run/user/1000/CorvexVarioUpdaterTmpDirectory");
    ::unsetenv("XDG_RUNTIME_DIR");
    ::setenv("XDG_CACHE_HOME", "/home/pilot/.cache-elsewhere", 1);
    EXPECT_EQ(SoftwareUpdateInstaller::defaultWorkingDirectory(), "/home/pilot/.cache-elsewhere/CorvexVarioUpdaterTmpDirectory");
    ::setenv("XDG_CACHE_HOME", "relative", 1);
    ::setenv("HOME", "/home/pilot", 1);
    EXPECT_EQ(SoftwareUpdateInstaller::defaultWorkingDirectory(), "/home/pilot/.cache/CorvexVarioUpdaterTmpDirectory");
    for (const auto& [name, value] : { std::pair { "XDG_RUNTIME_DIR", runtime }, { "XDG_CACHE_HOME", cache }, { "HOME", home } })
        value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
}

} // namespace
} // namespace corvex
