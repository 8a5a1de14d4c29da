// Stopping real services: the stand-in service program, registered for each
// test under a name of its own and removed again.
#include "ServiceStop.h"
#include "Scratch.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

std::vector<DWORD> g_pauses;
bool g_sleep = true;

// Records each pause; sleeps it only where the test waits for real.
DWORD WINAPI RecordPause(DWORD milliseconds, BOOL alertable)
{
    g_pauses.push_back(alertable ? 0 : milliseconds);
    return g_sleep ? SleepEx(milliseconds, FALSE) : 0;
}

DWORD StateOf(SC_HANDLE service)
{
    SERVICE_STATUS status{};
    return QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
}

bool WaitForState(SC_HANDLE service, DWORD state)
{
    for (int i = 0; i < 200 && StateOf(service) != state; ++i) Sleep(50);
    return StateOf(service) == state;
}

class ServiceStop : public ::testing::Test {
protected:
    const std::wstring name = L"zltest-service-" + std::to_wstring(GetCurrentProcessId());
    win::ServiceHandle manager{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)};
    win::ServiceHandle service;
    ServicePollPause previous = nullptr;

    void SetUp() override
    {
        g_pauses.clear();
        g_sleep = true;
        previous = SetServicePollPause(RecordPause);
        ASSERT_TRUE(manager);
    }
    void TearDown() override
    {
        SetServicePollPause(previous);
        if (!service) return;
        SERVICE_STATUS status{};
        ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
        WaitForState(service.get(), SERVICE_STOPPED);
        DeleteService(service.get());
    }

    void Register(const std::wstring& arguments = L"")
    {
        const std::wstring command = L"\"" + BuildPath(L"testbed\\service\\zlservice.exe") + L"\"" + arguments;
        service.reset(CreateServiceW(manager.get(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                     SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                                     command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
        ASSERT_TRUE(service) << GetLastError();
    }
    void Start()
    {
        ASSERT_TRUE(StartServiceW(service.get(), 0, nullptr)) << GetLastError();
        ASSERT_TRUE(WaitForState(service.get(), SERVICE_RUNNING));
    }
    // A manager handle as the callers open it, just before the call that takes it.
    static SC_HANDLE ReadManager() { return OpenSCManagerW(nullptr, nullptr, GENERIC_READ); }
};

TEST_F(ServiceStop, ServiceThatStopsAtOnceTakesOnePauseAndOneQuery)
{
    Register();
    Start();
    EXPECT_TRUE(StopService(ReadManager(), name.c_str()));
    EXPECT_EQ(g_pauses, std::vector<DWORD>{500});
    EXPECT_EQ(StateOf(service.get()), static_cast<DWORD>(SERVICE_STOPPED));
}

TEST_F(ServiceStop, ServiceThatIsNotRunningIsNotWaitedFor)
{
    Register();
    EXPECT_FALSE(StopService(ReadManager(), name.c_str()));
    EXPECT_TRUE(g_pauses.empty());
    EXPECT_EQ(StateOf(service.get()), static_cast<DWORD>(SERVICE_STOPPED));
}

TEST_F(ServiceStop, ServiceThatDoesNotExistIsNotWaitedFor)
{
    EXPECT_FALSE(StopService(ReadManager(), name.c_str()));
    EXPECT_FALSE(StopService(nullptr, name.c_str()));
    EXPECT_TRUE(g_pauses.empty());
}

TEST_F(ServiceStop, ServiceStillStopPendingAfterTheWholeWaitIsLeftAsItIs)
{
    Register(L" linger 3000");
    Start();
    g_sleep = false;  // a hundred queries at once, well within the service's linger
    EXPECT_FALSE(StopService(ReadManager(), name.c_str()));
    EXPECT_EQ(g_pauses, std::vector<DWORD>(100, 500));
    EXPECT_EQ(StateOf(service.get()), static_cast<DWORD>(SERVICE_STOP_PENDING));
}

}  // namespace
