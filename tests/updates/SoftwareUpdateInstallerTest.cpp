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
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace corvex {
namespace {

namespace fs = std::filesystem;

class RecordingProcessLauncher final : public ProcessLauncher {
public:
    Result<pid_t, std::string> startDetached(
        const std::string& program, const std::vector<std::string>& arguments, const std::string& workingDirectory) override
    {
        std::ifstream file(program, std::ios::binary);
        starts.push_back({ program, arguments, workingDirectory, std::string((std::istreambuf_iterator<char>(file)), {}) });
        if (fail)
            return Failure<std::string> { "cannot start " + program };
        return pid_t { 4242 };
    }
    struct Start {
        std::string program;
        std::vector<std::string> arguments;
        std::string workingDirectory;
        std::string programText; // when it was started
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
    // The stem; each installation makes a folder of its own with a random suffix.
    std::string workingDirectory() const { return m_root.path() + "/runtime/CorvexVarioUpdaterTmpDirectory"; }
    std::string runtime() const { return m_root.path() + "/runtime"; }

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
    // A folder of the old fixed name, planted by another user with a helper of its own,
    // as in a shared /tmp: it is neither used nor touched.
    writeFile(workingDirectory() + "/CorvexVarioUpdateHelperTool", "a planted helper", fs::perms(0777));
    fs::permissions(workingDirectory(), fs::perms(01777));
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(workingDirectory().c_str(), 65534, 65534), 0);
        ASSERT_EQ(::chown((workingDirectory() + "/CorvexVarioUpdateHelperTool").c_str(), 65534, 65534), 0);
    }
    fs::permissions(runtime(), fs::perms(01777)); // a shared folder with its sticky bit
    const Bytes archive = goodArchive();

    auto installing = installer();
    ASSERT_TRUE(installing.installSoftwareUpdateFromDataAndRelaunchApp(archive, Sha256::hexOf(archive)));

    EXPECT_EQ(log.lines, (std::vector<std::string> { "Unzipped successfully", "CorvexVarioUpdateHelperTool successfully copied into tmp dir" }));
    EXPECT_TRUE(alerts.alerts.empty());
    EXPECT_EQ(terminations, 1);
    const std::string made = installing.workingDirectory();
    EXPECT_TRUE(made.starts_with(workingDirectory() + ".")) << made;
    ASSERT_EQ(processes.starts.size(), 1u);
    const std::string helper = made + "/CorvexVarioUpdateHelperTool";
    EXPECT_EQ(processes.starts[0].program, helper);
    EXPECT_EQ(processes.starts[0].arguments,
        (std::vector<std::string> { made, "corvex-vario", "--program-folder", programFolder(), "--wait-for-process", "77" }));
    EXPECT_EQ(processes.starts[0].workingDirectory, made);

    struct stat status {};
    ASSERT_EQ(::lstat(made.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode, S_IFDIR | 0700u);
    EXPECT_EQ(status.st_uid, ::getuid());
    EXPECT_EQ(testing::filesBelow(made),
        (std::vector<std::string> { ".corvex-vario-update", "CorvexVarioUpdateHelperTool", "corvex-vario", "corvex-vario/bin",
            "corvex-vario/bin/corvex-vario", "corvex-vario/share", "corvex-vario/share/version", "update.zip" }));
    EXPECT_EQ(readFile(helper), "the installed helper");
    EXPECT_TRUE((fs::status(helper).permissions() & fs::perms::owner_exec) != fs::perms::none);
    EXPECT_EQ(bytesOf(readFile(made + "/update.zip")), archive);
    EXPECT_EQ(readFile(workingDirectory() + "/CorvexVarioUpdateHelperTool"), "a planted helper");
    EXPECT_TRUE(checkWorkingDirectory(made));

    // The next attempt makes another folder.
    ASSERT_TRUE(installing.installSoftwareUpdateFromDataAndRelaunchApp(archive));
    EXPECT_NE(installing.workingDirectory(), made);
    EXPECT_TRUE(fs::exists(made));
}

// Every step that fails stops the update with an alert, starts nothing, and leaves no
// working directory behind.
TEST_F(SoftwareUpdateInstallerTest, EachFailedStepStopsTheUpdateAndRemovesTheWorkingDirectory)
{
    struct Case {
        const char* what;
        Bytes archive;
        std::function<void()> prepare;
        const char* alert;
        const char* logged;
    };
    const Bytes good = goodArchive();
    const std::string root = m_root.path();
    std::vector<Case> cases = {
        { "an error page", bytesOf("<html>502 Bad Gateway</html>"), {}, "Unzip returned error", "Unzipping error" },
        { "a parent step", zipBytes(root, { { "corvex-vario/bin/corvex-vario", "x", S_IFREG | 0755 }, { "../escaped", "x" } }), {},
            "Unzip returned error", "Unzipping error" },
        // The archive's own helper beside a folder that blocks the copy's way in.
        { "a folder of the helper's name", zipBytes(root, { { "corvex-vario/bin/corvex-vario", "x", S_IFREG | 0755 },
                                                { "CorvexVarioUpdateHelperTool/CorvexVarioUpdateHelperTool", "evil", S_IFREG | 0755 } }),
            {}, "copyItemAtPath returned error", "Step 3: copyItemAtPath failure" },
        { "no installed helper", good, [&] { fs::remove(programFolder() + "/libexec/CorvexVarioUpdateHelperTool"); },
            "copyItemAtPath returned error", "Step 3: copyItemAtPath failure" },
        { "the helper does not start", good, [&] { processes.fail = true; }, "NSTask launchedTaskWithLaunchPath returned error",
            "Step 4: NSTask launchedTaskWithLaunchPath failure" },
        // Others may rename what is in a folder they can write without its sticky bit.
        { "a folder above that others may write", good, [&] { fs::permissions(runtime(), fs::perms(0777)); },
            "createDirectoryAtPath returned error", "Step 0: createDirectoryAtPath failed: others may replace what is in " },
        { "a file where the folder above should be", good, [&] { fs::remove_all(runtime()); writeFile(runtime(), "x"); },
            "createDirectoryAtPath returned error", "Step 0: createDirectoryAtPath failed: " },
    };
    if (::geteuid() == 0) {
        cases.push_back({ "a folder above of another user", good, [&] { ASSERT_EQ(::chown(runtime().c_str(), 65534, 65534), 0); },
            "createDirectoryAtPath returned error", "Step 0: createDirectoryAtPath failed: " });
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        log.lines.clear();
        alerts.alerts.clear();
        processes.starts.clear();
        processes.fail = false;
        fs::remove_all(runtime());
        fs::create_directories(runtime());
        writeFile(programFolder() + "/libexec/CorvexVarioUpdateHelperTool", "the installed helper", fs::perms(0755));
        if (c.prepare)
            c.prepare();

        EXPECT_FALSE(installer().installSoftwareUpdateFromDataAndRelaunchApp(c.archive));
        ASSERT_EQ(alerts.alerts.size(), 1u);
        EXPECT_EQ(alerts.alerts[0].message, "Error installing software update");
        EXPECT_EQ(alerts.alerts[0].informativeText, c.alert);
        EXPECT_EQ(alerts.alerts[0].buttons, std::vector<std::string> { "Close" });
        EXPECT_TRUE(log.containsPrefix(c.logged)) << ::testing::PrintToString(log.lines);
        EXPECT_EQ(terminations, 0);
        // Only ever the installed helper, and it only reaches step 4.
        EXPECT_LE(processes.starts.size(), 1u);
        for (const auto& start : processes.starts)
            EXPECT_EQ(start.programText, "the installed helper");
        if (fs::is_directory(runtime())) {
            EXPECT_EQ(testing::filesBelow(runtime()), std::vector<std::string> {});
        }
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
    EXPECT_EQ(testing::filesBelow(runtime()), std::vector<std::string> {});
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
    EXPECT_EQ(testing::filesBelow(runtime()), std::vector<std::string> {});
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
