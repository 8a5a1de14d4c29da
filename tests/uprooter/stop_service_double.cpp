// Until the web-safety removal's bounded service stop is linked into Uprooter,
// the service tests record what the agent service step asks of it. It stops
// the service for real, so the rest of the step meets the state it would.
#include "Components.h"

#include "StopServiceCalls.h"

std::vector<std::wstring> g_stopServiceCalls;

bool StopService(SC_HANDLE manager, const wchar_t* name)
{
    win::ServiceHandle owned(manager);
    g_stopServiceCalls.push_back(std::wstring(manager != nullptr ? L"" : L"(no manager) ") + name);
    win::ServiceHandle service(OpenServiceW(manager, name, SERVICE_STOP | SERVICE_QUERY_STATUS));
    SERVICE_STATUS status{};
    return service && ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
}
