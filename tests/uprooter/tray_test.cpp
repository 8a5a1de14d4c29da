// Closing the suite's desktop programs: real windows on the virtual display,
// the tray program told " /CloseAll", the others ended by image name.
#include "ComponentStage.h"

#include <gtest/gtest.h>

using namespace component_testing;

namespace {

// One running program, ended at scope end if still there.
struct Running {
    win::ProcessInformation child;
    DWORD ExitCode()
    {
        DWORD code = 0xFFFFFFFF;
        WaitForSingleObject(child.process.get(), 15000);
        return GetExitCodeProcess(child.process.get(), &code) && code != STILL_ACTIVE ? code : 0xFFFFFFFF;
    }
    ~Running()
    {
        TerminateProcess(child.process.get(), 0xDEAD);
        WaitForSingleObject(child.process.get(), 5000);
    }
};

class TrayPrograms : public ::testing::Test, public ComponentStage {
protected:
    std::vector<std::unique_ptr<Running>> running;

    // Starts exe (a windowed program) and returns once its window exists.
    Running& Start(const std::wstring& exe, bool ignoresClose = false)
    {
        const std::wstring name = L"zl-tray-ready-" + std::to_wstring(running.size());
        win::Handle ready(CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
        ScopedEnv window(L"ZL_COMPONENT_WINDOW", L"1"), readyEnv(L"ZL_COMPONENT_READY", name),
            windowedReady(L"ZL_WINDOWED_READY", name), ignore(L"ZL_WINDOWED_IGNORE", ignoresClose ? L"1" : L"0");
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION raw{};
        std::wstring line = L"\"" + exe + L"\"";
        EXPECT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &raw));
        running.push_back(std::make_unique<Running>());
        running.back()->child.take(raw);
        EXPECT_EQ(WaitForSingleObject(ready.get(), 10000), WAIT_OBJECT_0);
        return *running.back();
    }
    Running& StartStandIn(const std::wstring& image) { return Start(Place(dir.path(), image)); }
};

TEST_F(TrayPrograms, TrayClosesItselfOnCloseAllAndTheOthersAreEndedGroupByGroup)
{
    const std::wstring tray = Stage(L"DesktopUI\\ZTray.exe");
    Running& trayProcess = Start(tray);
    Running& update = StartStandIn(L"tvUpdate.exe");
    Running& console = StartStandIn(L"tvConsole.exe");
    const std::wstring deaf = dir / L"QlScanUI.exe";
    CopyFileW(BuildPath(L"testbed\\windowed\\windowed.exe").c_str(), deaf.c_str(), FALSE);
    Running& scanner = Start(deaf, true);
    for (const wchar_t* image : {L"QlQuarantine.exe", L"tvAlert.exe", L"ZlNotify.exe"}) StartStandIn(image);
    DeleteFileW(record.c_str());  // the starts above

    auto uni = MakeUni();
    CloseTrayPrograms(*uni);

    EXPECT_EQ(Recorded(), (Lines{"ZTray.exe: short " + Narrow(ShortPath(tray)) + "  /CloseAll", "ZTray.exe: closeall",
                                 "tvUpdate.exe: close", "tvConsole.exe: close", "QlQuarantine.exe: close",
                                 "tvAlert.exe: close", "ZlNotify.exe: close"}));
    EXPECT_EQ(trayProcess.ExitCode(), 42u);  // its own, not the killer's
    EXPECT_EQ(update.ExitCode(), 17u);
    EXPECT_EQ(console.ExitCode(), 17u);
    EXPECT_EQ(scanner.ExitCode(), 0u);  // ignored WM_CLOSE: terminated
    for (auto& process : running) EXPECT_NE(process->ExitCode(), 0xFFFFFFFFu);
}

TEST_F(TrayPrograms, ATrayThatStaysIsEndedBetweenTheGroups)
{
    // No tray program in the install folder: " /CloseAll" cannot start.
    StartStandIn(L"ZlNotify.exe");
    Running& tray = StartStandIn(L"ZTray.exe");
    StartStandIn(L"tvUpdate.exe");
    DeleteFileW(record.c_str());

    auto uni = MakeUni();
    CloseTrayPrograms(*uni);

    EXPECT_EQ(Recorded(), (Lines{"tvUpdate.exe: close", "ZTray.exe: close", "ZlNotify.exe: close"}));
    EXPECT_EQ(tray.ExitCode(), 17u);
    EXPECT_NE(Logged().find("Uprooter.Exe, *** ERROR *** launching program"), std::string::npos);
}

}  // namespace
