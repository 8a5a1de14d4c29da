// The agent's services: stopped through the service control manager (or, on
// Windows without the NT kernel, through the agent's service program), then
// deleted by the real sc.exe, each deletion awaited in the table's order.
#include "ComponentStage.h"
#include "Launch.h"
#include "PlantedTools.h"

#include <gtest/gtest.h>

using namespace component_testing;

namespace {

const std::vector<std::wstring> kDeleted = {L"ZlAgentService", L"ZlAgentWorker", L"ZlSysCore", L"ZlSysCoreFilter"};
// Deleted without being asked to stop: it is not running.
constexpr wchar_t kDeletedOnly[] = L"ZlSysCoreFilter";

bool ServiceExists(SC_HANDLE manager, const std::wstring& name)
{
    win::ServiceHandle service(OpenServiceW(manager, name.c_str(), SERVICE_QUERY_STATUS));
    return static_cast<bool>(service);
}

class AgentServices : public ::testing::Test, public ComponentStage {
protected:
    // The three the step asks to stop run; the filter service is only deleted.
    static bool IsStopped(const std::wstring& name) { return name != kDeletedOnly; }
    static const std::vector<std::wstring>& Services() { return kDeleted; }

    win::ServiceHandle manager{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)};

    void SetUp() override
    {
        ASSERT_TRUE(manager);
        const std::wstring binary = L"\"" + BuildPath(L"testbed\\service\\zlservice.exe") + L"\"";
        for (const auto& name : Services()) {
            win::ServiceHandle made(CreateServiceW(manager.get(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                                   SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                                   SERVICE_ERROR_IGNORE, binary.c_str(), nullptr, nullptr, nullptr,
                                                   nullptr, nullptr));
            ASSERT_TRUE(made) << GetLastError();
            if (IsStopped(name)) {
                ASSERT_TRUE(StartServiceW(made.get(), 0, nullptr)) << GetLastError();
            }
        }
    }
    void StopAll()
    {
        for (const auto& name : Services()) {
            win::ServiceHandle left(OpenServiceW(manager.get(), name.c_str(), SERVICE_STOP));
            SERVICE_STATUS status{};
            if (left) ControlService(left.get(), SERVICE_CONTROL_STOP, &status);
        }
        Sleep(500);
    }
    void TearDown() override
    {
        StopAll();
        for (const auto& name : Services()) {
            win::ServiceHandle left(OpenServiceW(manager.get(), name.c_str(), DELETE));
            if (left) DeleteService(left.get());
        }
    }
};

// sc.exe is the system folder's: copies planted in the current folder and
// beside the program, where a search by bare name looks first, never start.
TEST_F(AgentServices, ThreeStoppedThenFourDeletedWithScInOrder)
{
    auto uni = MakeUni();
    {
        PlantedTools planted({L"sc.exe"});
        ASSERT_EQ(planted.Planted(), 2u);
        StopAgentServices(*uni);
        EXPECT_EQ(planted.Started(), "");
    }

    std::string expected;
    const std::string sc = Narrow(win::launch::SystemFile(L"sc.exe"));
    for (const auto& name : kDeleted) {
        EXPECT_FALSE(ServiceExists(manager.get(), name)) << Narrow(name);
        expected += "Uprooter.Exe, Trying to launch: " + sc + " Delete " + Narrow(name) +
                    "\r\nUprooter.Exe, Launched OK\r\nUprooter.Exe, We are waiting for execution to complete...\r\n";
        expected += "Uprooter.Exe, Completed successfully.\r\n";
    }
    const std::string log = Logged();
    EXPECT_NE(log.find(expected), std::string::npos) << log;
}

// The probe runs as on Windows 98 for the life of a scope.
struct AsWindows98 {
    const std::wstring key = L"Software\\Wine\\AppDefaults\\componentprobe.exe";
    AsWindows98()
    {
        win::Key made;
        win::CreateKey(HKEY_CURRENT_USER, key, KEY_ALL_ACCESS, win::RegView::Native, made);
        win::WriteString(made.get(), L"Version", L"win98");
    }
    ~AsWindows98() { win::DeleteTree(HKEY_CURRENT_USER, key, win::RegView::Native); }
};

TEST_F(AgentServices, WithoutTheNtKernelTheServiceProgramIsToldToStopAndTheServicesStillGo)
{
    // Ending the two programs by full path cannot be seen here: Wine's
    // tool-help image field is the bare file name whatever version it reports
    // (docs/wine.md), so only the stop request and the deletions are checked.
    // There the services are not stopped through the manager: the agent's
    // program is told to stop them, which its stand-in only records.
    StopAll();
    const std::wstring service = Stage(L"Agent\\tvAgtSvc.exe");
    AsWindows98 windows98;

    const std::wstring log = dir / L"run.log";
    ASSERT_EQ(RunAndWait(L"\"" + BuildPath(L"tests\\uprooter\\componentprobe.exe") + L"\" \"" + log + L"\""), 0u);

    EXPECT_EQ(Recorded(), Lines{"tvAgtSvc.exe: short " + Narrow(ShortPath(service)) + "  /Stop"});
    const std::string logged = ReadFileBytes(log);
    size_t at = logged.find("Uprooter.Exe, Trying to launch: " + Narrow(ShortPath(service)) + "  /Stop");
    for (const auto& name : kDeleted) {
        at = logged.find("Uprooter.Exe, Trying to launch: " + Narrow(win::launch::SystemFile(L"sc.exe")) + " Delete " +
                             Narrow(name) + "\r\n",
                         at);
        EXPECT_NE(at, std::string::npos) << Narrow(name) << "\n" << logged;
        EXPECT_FALSE(ServiceExists(manager.get(), name));
    }
}


}  // namespace
