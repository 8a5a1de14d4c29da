// A footprint's services: registered from their program (and started) on Lay,
// reported while still registered, stopped and deleted on Undo.
#include "Places.h"
#include "Running.h"

namespace stage {

namespace {

constexpr DWORD kWaitMs = 15000;
constexpr DWORD kPollMs = 100;

bool QueryState(SC_HANDLE service, DWORD& state)
{
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(service, &status)) return false;
    state = status.dwCurrentState;
    return true;
}

// Waits until the service is in the state; false when it is not by then.
bool WaitForState(SC_HANDLE service, DWORD wanted)
{
    DWORD state = 0;
    for (DWORD waited = 0; QueryState(service, state) && state != wanted && waited < kWaitMs; waited += kPollMs)
        Sleep(kPollMs);
    return QueryState(service, state) && state == wanted;
}

bool LayService(SC_HANDLE manager, const ServiceItem& item)
{
    const std::wstring binary = L"\"" + item.program + L"\"";
    win::ServiceHandle service(CreateServiceW(manager, item.name.c_str(), item.name.c_str(), SERVICE_ALL_ACCESS,
                                              SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                                              binary.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    // One a failed run left behind is taken as it is.
    if (!service && GetLastError() == ERROR_SERVICE_EXISTS)
        service.reset(OpenServiceW(manager, item.name.c_str(), SERVICE_ALL_ACCESS));
    if (!service) return false;
    if (!item.running) return true;
    if (!StartServiceW(service.get(), 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) return false;
    return WaitForState(service.get(), SERVICE_RUNNING);
}

}  // namespace

void LayServices(const Footprint& suite, std::vector<std::wstring>& problems)
{
    if (suite.services.empty()) return;
    win::ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    for (const ServiceItem& item : suite.services)
        if (!manager || !LayService(manager.get(), item))
            problems.push_back(L"cannot lay the service " + item.name);
}

void AuditServices(const Footprint& suite, std::vector<std::wstring>& present)
{
    win::ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    for (const ServiceItem& item : suite.services) {
        win::ServiceHandle service(manager ? OpenServiceW(manager.get(), item.name.c_str(), SERVICE_QUERY_STATUS)
                                           : nullptr);
        DWORD state = 0;
        if (!service || !QueryState(service.get(), state)) continue;
        present.push_back(L"service " + item.name + (state == SERVICE_STOPPED ? L" (stopped)" : L" (running)"));
    }
}

void UndoServices(const Footprint& suite)
{
    win::ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    for (const ServiceItem& item : suite.services) {
        win::ServiceHandle service(
            manager ? OpenServiceW(manager.get(), item.name.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE)
                    : nullptr);
        if (service) {
            SERVICE_STATUS status{};
            if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) WaitForState(service.get(), SERVICE_STOPPED);
            DeleteService(service.get());
        }
        // A service deleted while it ran keeps its process until it is stopped.
        EndProcessesOf(item.program);
    }
}

}  // namespace stage
