// Ending the suite's programs: real windowed stand-ins on the virtual display,
// found by name through both process walks.
#include "KillProcess.h"
#include "Scratch.h"

#include <gtest/gtest.h>

#include <memory>

using namespace testing_support;

namespace {

// One running copy of the windowed stand-in, ended at scope end if still there.
struct StandIn {
    win::ProcessInformation child;
    DWORD ExitCode(DWORD waitMs = 15000)
    {
        DWORD code = 0xFFFFFFFF;
        WaitForSingleObject(child.process.get(), waitMs);
        return GetExitCodeProcess(child.process.get(), &code) && code != STILL_ACTIVE ? code : 0xFFFFFFFF;
    }
    bool Running() { return WaitForSingleObject(child.process.get(), 0) == WAIT_TIMEOUT; }
    ~StandIn()
    {
        TerminateProcess(child.process.get(), 0xDEAD);
        WaitForSingleObject(child.process.get(), 5000);  // before its folder goes
    }
};

class KillProcess : public ::testing::Test {
protected:
    ScratchDir dir{L"kill"};
    std::wstring record = dir / L"record.txt";

    // Copies the stand-in to dir\name (once) and starts it; returns once its
    // windows exist.
    std::unique_ptr<StandIn> Start(const std::wstring& name, int windows, DWORD exitCode = 0, bool ignore = false)
    {
        std::wstring exe = name.find(L'\\') == std::wstring::npos ? dir / name : name;
        CopyFileW(BuildPath(L"testbed\\windowed\\windowed.exe").c_str(), exe.c_str(), TRUE);
        std::wstring ready = L"zl-kill-ready-" + std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(++started_);
        win::Handle event(CreateEventW(nullptr, TRUE, FALSE, ready.c_str()));
        ScopedEnv r(L"ZL_WINDOWED_READY", ready), w(L"ZL_WINDOWED_WINDOWS", std::to_wstring(windows)),
            x(L"ZL_WINDOWED_EXIT", std::to_wstring(exitCode)), i(L"ZL_WINDOWED_IGNORE", ignore ? L"1" : L"0"),
            rec(L"ZL_WINDOWED_RECORD", record);
        auto standIn = std::make_unique<StandIn>();
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION raw{};
        std::wstring line = L"\"" + exe + L"\"";
        EXPECT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &raw));
        standIn->child.take(raw);
        EXPECT_EQ(WaitForSingleObject(event.get(), 10000), WAIT_OBJECT_0) << Narrow(exe);
        return standIn;
    }

    // The "close <title>" lines of the record, in order.
    std::vector<std::string> Closes()
    {
        std::vector<std::string> closes;
        for (auto& line : SplitLines(ReadFileBytes(record)))
            if (line.rfind("close ", 0) == 0) closes.push_back(line);
        return closes;
    }

private:
    int started_ = 0;
};

TEST_F(KillProcess, PoliteCloseReachesOnlyTheFirstWindowAndKeepsTheOwnExitCode)
{
    // The stand-in ends 300 ms after a close request: a second one would be recorded.
    auto tray = Start(L"ZTray.exe", 2, 4242);
    EXPECT_TRUE(EndProcessById(tray->child.processId));
    EXPECT_EQ(tray->ExitCode(0), 4242u);
    auto closes = Closes();
    ASSERT_EQ(closes.size(), 1u);
    EXPECT_TRUE(closes[0] == "close windowed 1" || closes[0] == "close windowed 2") << closes[0];
}

TEST_F(KillProcess, WindowThatIgnoresCloseIsTerminatedAfterTenSeconds)
{
    auto tray = Start(L"ZTray.exe", 1, 4242, true);
    DWORD before = GetTickCount();
    EXPECT_TRUE(EndProcessById(tray->child.processId));
    EXPECT_GE(GetTickCount() - before, 9900u);
    EXPECT_EQ(tray->ExitCode(), 0u);
    EXPECT_EQ(Closes(), std::vector<std::string>{"close windowed 1"});
}

TEST_F(KillProcess, ProcessWithoutWindowIsTerminatedAtOnce)
{
    auto update = Start(L"ZUpdate.exe", 0);
    DWORD before = GetTickCount();
    EXPECT_TRUE(EndProcessById(update->child.processId));
    EXPECT_LT(GetTickCount() - before, 5000u);
    EXPECT_EQ(update->ExitCode(), 0u);
    EXPECT_FALSE(EndProcessById(0));
}

TEST_F(KillProcess, KillAllEndsEveryInstanceOfTheNameAndNothingElse)
{
    CKillProcNT killer;
    ASSERT_TRUE(killer.Init());
    auto first = Start(L"ZTray.exe", 1, 11);
    auto second = Start(L"ZTray.exe", 1, 12);
    auto other = Start(L"MyZTray.exe", 1, 13);
    EXPECT_TRUE(killer.KillProcess(L"ztray.EXE", true));
    EXPECT_EQ(first->ExitCode(0), 11u);
    EXPECT_EQ(second->ExitCode(0), 12u);
    EXPECT_TRUE(other->Running());

    auto third = Start(L"ZTray.exe", 0);
    auto fourth = Start(L"ZTray.exe", 0);
    EXPECT_TRUE(killer.KillProcess(L"ZTray.exe", false));
    HANDLE both[] = {third->child.process.get(), fourth->child.process.get()};
    DWORD ended = WaitForMultipleObjects(2, both, FALSE, 5000) - WAIT_OBJECT_0;
    ASSERT_LT(ended, 2u);
    EXPECT_TRUE((ended == 0 ? fourth : third)->Running());
    EXPECT_FALSE(killer.KillProcess(L"NoSuchTray.exe", true));
}

// Both process walks, reached directly: matching on the image text each gives.
class ProcessWalk : public KillProcess, public ::testing::WithParamInterface<bool> {
protected:
    std::unique_ptr<CKillProcBase> killer{GetParam() ? static_cast<CKillProcBase*>(new CKillProcNT)
                                                     : static_cast<CKillProcBase*>(new CKillProcTH)};
    void SetUp() override { ASSERT_TRUE(killer->Init()); }
};

TEST_P(ProcessWalk, NameMatchesTheWholeFileNameOrTheWholePathOnly)
{
    auto mine = Start(L"MyZTray.exe", 0);
    auto accented = Start(L"ZTr\u00e4y.exe", 0);
    const DWORD id = mine->child.processId;
    const std::wstring tail = dir.path().substr(dir.path().find_last_of(L'\\') + 1) + L"\\MyZTray.exe";
    EXPECT_EQ(killer->GetProcessId(L"myztray.EXE"), id);
    EXPECT_TRUE(killer->IsProcessRunning(L"MyZTray.exe"));
    for (const std::wstring& part : {std::wstring(L"ZTray.exe"), std::wstring(L"MyZTray"), std::wstring(L"yZTray.exe"),
                                     std::wstring(), tail})
        EXPECT_EQ(killer->GetProcessId(part), 0u) << Narrow(part);
    EXPECT_FALSE(killer->KillProcess(L"ZTray.exe", true));
    EXPECT_TRUE(mine->Running());
    // Only ASCII letters compare without case.
    EXPECT_EQ(killer->GetProcessId(L"ZTRAY.EXE"), 0u);
    EXPECT_EQ(killer->GetProcessId(L"ZTR\u00c4Y.EXE"), 0u);
    EXPECT_EQ(killer->GetProcessId(L"ZTR\u00e4Y.EXE"), accented->child.processId);
    // The tool-help record holds the bare file name on the NT family.
    std::wstring path = dir / L"MyZTray.exe";
    CharUpperW(path.data());
    EXPECT_EQ(killer->GetProcessId(path), GetParam() ? id : 0u);
}

INSTANTIATE_TEST_SUITE_P(Walks, ProcessWalk, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "PsApi" : "ToolHelp"; });

struct FolderGone {
    std::wstring path;
    ~FolderGone() { win::RemoveTree(path); }
};

// A module holder under the Windows folder's Tarvo folders, and one elsewhere.
TEST_F(KillProcess, ModuleHoldersAreEndedOnlyUnderTarvoAndWhereTheDeciderAllows)
{
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring tarvo = std::wstring(windows) + L"\\Tarvo-killtest";
    win::RemoveTree(tarvo);
    FolderGone gone{tarvo};
    CreateDirectoryW(tarvo.c_str(), nullptr);
    const std::wstring held = tarvo + L"\\ZlHost.exe", elsewhere = dir / L"ZlHost.exe";
    auto inside = Start(held, 0);
    auto outside = Start(elsewhere, 0);

    CKillProcNT killer;
    ASSERT_TRUE(killer.Init());
    std::vector<std::wstring> asked;
    int answer = 0;
    auto decider = [&](const std::wstring& module, const std::wstring& image) {
        asked.push_back(module + L"|" + image);
        return answer;
    };
    EXPECT_FALSE(killer.KillProcessesUsingModule(held, decider));
    EXPECT_TRUE(inside->Running());
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(lstrcmpiW(asked[0].c_str(), (held + L"|" + held).c_str()), 0) << Narrow(asked[0]);
    answer = 1;
    EXPECT_TRUE(killer.KillProcessesUsingModule(held, decider));
    EXPECT_EQ(inside->ExitCode(), 0u);
    EXPECT_FALSE(killer.KillProcessesUsingModule(elsewhere, decider));
    EXPECT_TRUE(outside->Running());
}

TEST_F(KillProcess, TheHolderPicksPsApiOnNTAndToolHelpUnderWindows98)
{
    CKillProcHolder holder;
    ASSERT_TRUE(holder.GetKiller());
    CKillProcBase* made = holder.Killer();
    EXPECT_NE(dynamic_cast<CKillProcNT*>(made), nullptr);
    EXPECT_TRUE(holder.GetKiller());
    EXPECT_EQ(holder.Killer(), made);

    auto target = Start(L"ZlProbeTarget.exe", 0);
    ScratchKey version(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\killprobe.exe");
    win::WriteString(version.get(), L"Version", L"win98");
    const std::wstring results = dir / L"probe.txt";
    EXPECT_EQ(RunAndWait(L"\"" + BuildPath(L"tests\\AGSCommon\\killprobe.exe") + L"\" ZlProbeTarget.exe \"" +
                         results + L"\""),
              0u);
    EXPECT_EQ(SplitLines(ReadFileBytes(results)),
              (std::vector<std::string>{"nt=0", "killer=TH", "pid=" + std::to_string(target->child.processId),
                                        "killed=1"}));
    EXPECT_EQ(target->ExitCode(), 0u);
}

}  // namespace
