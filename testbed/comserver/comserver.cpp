// A COM server module standing in for the suite's, in both bitnesses. Its
// DllUnregisterServer records the call as one line in the file that
// ZL_COM_LOG names: "DllUnregisterServer <bits> <module path> com=<0|1>
// errormode=0x<hex>", where com=1 means COM was already initialised on the
// calling thread.
#include <windows.h>
#include <objbase.h>

#include <cstdio>

namespace {

HMODULE g_self = nullptr;

void Record(const char* line)
{
    wchar_t path[MAX_PATH] = {};
    if (!GetEnvironmentVariableW(L"ZL_COM_LOG", path, MAX_PATH)) return;
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(strlen(line)), &written, nullptr);
    CloseHandle(file);
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*)
{
    if (reason == DLL_PROCESS_ATTACH) g_self = instance;
    return TRUE;
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllUnregisterServer()
{
    const UINT mode = SetErrorMode(0);
    SetErrorMode(mode);
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int comReady = hr == S_FALSE || hr == RPC_E_CHANGED_MODE;
    if (SUCCEEDED(hr)) CoUninitialize();
    wchar_t module[MAX_PATH] = {};
    GetModuleFileNameW(g_self, module, MAX_PATH);
    char line[3 * MAX_PATH + 80];
    std::snprintf(line, sizeof(line), "DllUnregisterServer %d %ls com=%d errormode=0x%x\r\n",
                  static_cast<int>(sizeof(void*) * 8), module, comReady, mode);
    Record(line);
    return S_OK;
}
