#include "ServiceStop.h"

#include "Handle.h"
#include "TimeBudget.h"

#include <utility>

namespace {

ServicePollPause g_pause = win::timing::PauseEx;

}  // namespace

ServicePollPause SetServicePollPause(ServicePollPause pause) { return std::exchange(g_pause, pause); }

bool StopService(SC_HANDLE manager, const wchar_t* name)
{
    const win::ServiceHandle owned(manager);
    win::ServiceHandle service(OpenServiceW(manager, name, SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (!service) return false;
    SERVICE_STATUS status{};
    if (!ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) return false;
    DWORD state = status.dwCurrentState;
    for (int query = 0; query < kServiceStopQueries; ++query) {
        g_pause(kServiceStopPollMs, FALSE);
        if (!QueryServiceStatus(service.get(), &status)) break;
        state = status.dwCurrentState;
        if (state != SERVICE_STOP_PENDING) break;
    }
    return state == SERVICE_STOPPED;
}
