// Uprooter.exe run the way a support engineer runs it: copied into a folder,
// started by another Windows program, with the suite's registry around it.
#include "SuiteIdentifiers.h"
#include "UprooterRun.h"

#include <msi.h>
#include <shlobj.h>

using namespace testing_support;

namespace {

constexpr char kNothingOfTheOlder[] =
    "Agent version not found and no unfinished removal of the older product: nothing of it to remove";
constexpr char kOlderTakenUp[] = "Agent version not found; an unfinished removal of the older product is taken up";

TEST_F(UprooterRun, NoSuiteAndNoSweeperTakesTheNewerPathAndExits0)
{
    EXPECT_EQ(Run(L"/SUPPRESSPROMPT"), 0u);

    auto beside = SplitLines(ReadFileBytes(app + L"\\Uprooter.log"));
    ASSERT_EQ(beside.size(), 1u) << "only the opening banner lies beside the program:\n" << Dump(beside);
    EXPECT_EQ(beside[0].rfind("Opened logfile object: " + Narrow(app) + "\\Uprooter.log: ", 0), 0u) << beside[0];

    auto lines = RunLogLines();
    ASSERT_EQ(lines.size(), 6u) << Dump(lines);
    EXPECT_EQ(lines[0], "Starting Uprooter...");
    EXPECT_EQ(lines[1], kNothingOfTheOlder);
    EXPECT_EQ(lines[2], "Uninstalling newer product");
    EXPECT_EQ(lines[3], "LaunchCleanupUtility(): FindFirstFile failed for File Sweeper.exe error: 2");
    EXPECT_EQ(lines[4].rfind("Uprooter.Exe, Timing: LaunchCleanupUtility took ", 0), 0u) << lines[4];
    EXPECT_EQ(lines[5].rfind("Closing logfile object: " + Narrow(caller) + "\\Uprooter.log: ", 0), 0u) << lines[5];
}

TEST_F(UprooterRun, LooksForSweeperInTheCurrentFolderStartsItFromItsOwnAndExits1)
{
    AddSweeperStandIn();
    ScopedEnv log(L"ZL_STUB_LOG", root / L"sweeper-starts.txt");
    EXPECT_EQ(Run(L"/suppressprompt", caller), 0u) << "only the program's folder holds Sweeper.exe";
    EXPECT_FALSE(FileExists(root / L"sweeper-starts.txt"));

    ASSERT_TRUE(CopyFileW((app + L"\\Sweeper.exe").c_str(), (caller + L"\\Sweeper.exe").c_str(), FALSE));
    ASSERT_TRUE(DeleteFileW((caller + L"\\Uprooter.log").c_str()));
    ScopedEnv exits(L"ZL_STUB_EXITS", L"1");  // Sweeper's own result does not matter
    EXPECT_EQ(Run(L"/suppressprompt /all", caller), 1u);
    EXPECT_EQ(ReadFileBytes(root / L"sweeper-starts.txt"), Narrow(L"\"" + app + L"\\Sweeper.exe\" /qn \r\n"));

    auto lines = RunLogLines();
    ASSERT_GE(lines.size(), 6u) << Dump(lines);
    EXPECT_EQ(lines[0], "Starting Uprooter...");
    EXPECT_EQ(lines[1], "Found the /all argument");
    EXPECT_EQ(lines[2], kNothingOfTheOlder);
    EXPECT_EQ(lines[3], "Uninstalling newer product");
    EXPECT_EQ(lines[4], "LaunchCleanupUtility(): Cleanup Utility found");
    EXPECT_EQ(lines[5], "Running cleanup utility");
    // No host-common key and no agent product: the key is gone, nothing more.
    EXPECT_TRUE(Contains(lines, "HostCommon uninstalled successfully")) << Dump(lines);
    EXPECT_TRUE(Contains(lines, "No agent of the newer product is installed: nothing of it to remove")) << Dump(lines);
    EXPECT_FALSE(Contains(lines, "Uninstalling ZA"));
}

TEST_F(UprooterRun, RegisteredHostCommonKeepsTheAgentStep)
{
    AddSweeperStandIn();
    ScratchKey hostCommon(HKEY_LOCAL_MACHINE,
                          std::wstring(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") +
                              kHostCommonProductCode,
                          win::RegView::Bit64);
    EXPECT_EQ(Run(L"/suppressprompt"), 1u);
    auto lines = RunLogLines();
    EXPECT_TRUE(Contains(lines, "Running cleanup utility")) << Dump(lines);
    EXPECT_FALSE(Contains(lines, "HostCommon uninstalled successfully")) << Dump(lines);
}

TEST_F(UprooterRun, AgentIsUninstalledByProductCodeOnceHostCommonIsGone)
{
    // The agent's package, as the testbed builds it.
    const wchar_t agentProduct[] = L"{0C7E5F2A-9B1D-4E3C-8A6F-2D4B6E8F0A1C}";
    const std::wstring package = BuildPath(L"testbed\\agent\\ZelmarAgent.msi");
    ASSERT_EQ(RunAndWait(L"msiexec.exe /i \"" + package + L"\" /qn"), 0u);
    ASSERT_EQ(MsiQueryProductStateW(agentProduct), INSTALLSTATE_DEFAULT);

    AddSweeperStandIn();
    EXPECT_EQ(Run(L"/suppressprompt"), 1u);
    auto lines = RunLogLines();
    EXPECT_TRUE(Contains(lines, "HostCommon uninstalled successfully")) << Dump(lines);
    EXPECT_TRUE(Contains(lines, "Uninstalling ZA")) << Dump(lines);
    EXPECT_EQ(MsiQueryProductStateW(agentProduct), INSTALLSTATE_UNKNOWN) << "the agent is still installed";
    if (MsiQueryProductStateW(agentProduct) == INSTALLSTATE_DEFAULT)
        RunAndWait(std::wstring(L"msiexec.exe /x ") + agentProduct + L" /qn");
    // The installer leaves the empty parent folder it made.
    wchar_t programFiles[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILESX86, nullptr, SHGFP_TYPE_CURRENT, programFiles);
    RemoveDirectoryW((std::wstring(programFiles) + L"\\Zelmar").c_str());
}

TEST_F(UprooterRun, SecondInstanceExits5WhileTheFirstHoldsTheLock)
{
    AddSweeperStandIn();
    win::Handle started(CreateEventW(nullptr, TRUE, FALSE, L"ZelmarTestSweeperStarted"));
    win::Handle release(CreateEventW(nullptr, TRUE, FALSE, L"ZelmarTestSweeperRelease"));
    ScopedEnv onStart(L"ZL_STUB_STARTED", L"ZelmarTestSweeperStarted");
    ScopedEnv wait(L"ZL_STUB_WAIT", L"ZelmarTestSweeperRelease");

    // The first instance holds the lock while it waits for its Sweeper.
    std::wstring first = L"\"" + app + L"\\Uprooter.exe\" /suppressprompt";
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION raw{};
    ASSERT_TRUE(CreateProcessW(nullptr, first.data(), nullptr, nullptr, FALSE, 0, nullptr, app.c_str(), &si, &raw));
    win::ProcessInformation firstProcess;
    firstProcess.take(raw);
    ASSERT_EQ(WaitForSingleObject(started.get(), 30000), WAIT_OBJECT_0) << "Sweeper stand-in never started";

    EXPECT_EQ(Run(L"/suppressprompt"), 5u);
    SetEvent(release.get());
    ASSERT_EQ(WaitForSingleObject(firstProcess.process.get(), 30000), WAIT_OBJECT_0);
    DWORD firstCode = 0;
    GetExitCodeProcess(firstProcess.process.get(), &firstCode);
    EXPECT_EQ(firstCode, 1u);

    auto lines = RunLogLines();
    ASSERT_EQ(lines.size(), 3u) << Dump(lines);
    EXPECT_EQ(lines[0], "Starting Uprooter...");
    EXPECT_EQ(lines[1], "Error : Uprooter Terminated. Another instance of Uprooter.exe is running.");
}

class UprooterWithAgent : public UprooterRun {
protected:
    ScratchKey services{HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\ManagedServices"};

    void StageAgent(const wchar_t* variant)
    {
        std::wstring install = root / L"ManagedServices";
        CreateDirectoryW(install.c_str(), nullptr);
        CreateDirectoryW((install + L"\\Agent").c_str(), nullptr);
        ASSERT_TRUE(CopyFileW(BuildPath(std::wstring(L"testbed\\agent\\tvAgtSvc_") + variant + L".exe").c_str(),
                              (install + L"\\Agent\\tvAgtSvc.exe").c_str(), FALSE));
        ASSERT_EQ(win::WriteString(services.get(), L"szInstallDir", install), ERROR_SUCCESS);
    }

    void TearDown() override { RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar", 0, 0); }
};

TEST_F(UprooterWithAgent, AgentBelowVersion10TakesTheOlderSuitePath)
{
    StageAgent(L"older");
    AddSweeperStandIn();
    ScopedEnv log(L"ZL_STUB_LOG", root / L"sweeper-starts.txt");
    EXPECT_EQ(Run(L"/suppressprompt"), 0u);
    auto lines = RunLogLines();
    ASSERT_GE(lines.size(), 3u) << Dump(lines);
    EXPECT_EQ(lines[1], "CurrentVersion is lesser than 10.0.0");
    EXPECT_EQ(lines[2], "Uninstalling older product");
    EXPECT_FALSE(FileExists(root / L"sweeper-starts.txt")) << "Sweeper must not run for the older suite";
}

TEST_F(UprooterWithAgent, EmptyFileVersionCountsAsTheOlderSuite)
{
    StageAgent(L"empty");
    EXPECT_EQ(Run(L"/suppressprompt"), 0u);
    EXPECT_TRUE(Contains(RunLogLines(), "Uninstalling older product")) << Dump(RunLogLines());
}

TEST_F(UprooterWithAgent, AgentFromVersion10TakesTheNewerSuitePath)
{
    StageAgent(L"newer");
    EXPECT_EQ(Run(L"/suppressprompt"), 0u);
    auto lines = RunLogLines();
    EXPECT_TRUE(Contains(lines, "Uninstalling newer product")) << Dump(lines);
    EXPECT_FALSE(Contains(lines, "CurrentVersion is lesser than 10.0.0"));
}

// No agent's version to read, yet the older suite's removal is unfinished:
// a run ended after the folder clean-up left the marker with the main key
// (the agent's program gone), and the suite's own uninstaller left its
// anti-virus core key. Both take the older road, which clears the marker.
TEST_F(UprooterWithAgent, UnfinishedOlderRemovalWithoutAnAgentTakesTheOlderRoad)
{
    AddSweeperStandIn();
    ScopedEnv log(L"ZL_STUB_LOG", root / L"sweeper-starts.txt");
    ASSERT_EQ(win::WriteString(services.get(), L"szInstallDir", root / L"ManagedServices"), ERROR_SUCCESS);
    {
        win::Key marker;
        ASSERT_EQ(win::CreateKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar Uprooter", KEY_ALL_ACCESS, win::RegView::Native,
                                 marker), ERROR_SUCCESS);
        win::WriteDword(marker.get(), L"OlderSuiteRemoval", 1);
    }
    EXPECT_EQ(Run(L"/suppressprompt /supressreboot"), 0u);
    auto lines = RunLogLines();
    EXPECT_TRUE(Contains(lines, kOlderTakenUp) && Contains(lines, "Uninstalling older product")) << Dump(lines);
    win::Key key;
    EXPECT_NE(win::OpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar Uprooter", KEY_READ, win::RegView::Native, key),
              ERROR_SUCCESS) << "the marker is left";

    ScratchKey core(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\QLCore");
    ASSERT_TRUE(DeleteFileW((caller + L"\\Uprooter.log").c_str()));
    EXPECT_EQ(Run(L"/suppressprompt /supressreboot"), 0u);
    lines = RunLogLines();
    EXPECT_TRUE(Contains(lines, kOlderTakenUp) && Contains(lines, "Uninstalling older product")) << Dump(lines);
    EXPECT_FALSE(FileExists(root / L"sweeper-starts.txt")) << "Sweeper must not run for the older suite";
}

// The shipped program where Wine reports Windows XP, the oldest Windows it is
// for: the older suite's road as on any other Windows.
TEST_F(UprooterWithAgent, OnWindowsXpTheOlderSuitePathIsTheSame)
{
    WineWindowsVersion xp({L"Uprooter.exe"}, L"winxp");
    StageAgent(L"older");
    EXPECT_EQ(Run(L"/suppressprompt"), 0u);
    auto lines = RunLogLines();
    EXPECT_TRUE(Contains(lines, "Uninstalling older product")) << Dump(lines);
}

}  // namespace
