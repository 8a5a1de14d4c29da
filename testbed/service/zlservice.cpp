// A real Win32 service standing in for the suite's services, registered by
// the tests themselves. It runs until asked to stop, then stops at once; with
// the arguments "linger <ms>" it stays stop-pending for that long first, like
// a service that is slow to shut down.
#include <windows.h>

#include <cwchar>

namespace {

SERVICE_STATUS_HANDLE g_status = nullptr;
HANDLE g_stopAsked = nullptr;
DWORD g_lingerMs = 0;
DWORD g_checkPoint = 0;

void Report(DWORD state, DWORD waitHint = 0)
{
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    status.dwCheckPoint = state == SERVICE_STOP_PENDING ? ++g_checkPoint : 0;
    status.dwWaitHint = waitHint;
    SetServiceStatus(g_status, &status);
}

DWORD WINAPI Control(DWORD control, DWORD, void*, void*)
{
    if (control != SERVICE_CONTROL_STOP) return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR
                                                                                         : ERROR_CALL_NOT_IMPLEMENTED;
    if (g_lingerMs) Report(SERVICE_STOP_PENDING, g_lingerMs);
    else Report(SERVICE_STOPPED);
    SetEvent(g_stopAsked);
    return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, wchar_t**)
{
    g_status = RegisterServiceCtrlHandlerExW(L"", Control, nullptr);
    if (!g_status) return;
    Report(SERVICE_RUNNING);
    WaitForSingleObject(g_stopAsked, INFINITE);
    if (g_lingerMs) {
        Sleep(g_lingerMs);
        Report(SERVICE_STOPPED);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc >= 3 && wcscmp(argv[1], L"linger") == 0) g_lingerMs = wcstoul(argv[2], nullptr, 10);
    g_stopAsked = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t*>(L""), ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? 0 : static_cast<int>(GetLastError());
}
