// A stand-in for the older suite's own programs (driver installer, old filter
// driver tool, anti-virus uninstaller, tray program), copied under their names.
// Every start appends "<image>: <short|long> <command line>" to the record
// file, "short" when the program token is not the program's long path. Driven
// by the environment it inherits:
//   ZL_COMPONENT_RECORD  the record file (UTF-8 lines)
//   ZL_COMPONENT_WINDOW  "1": stay running with a top-level window of class
//                        "ZlComponentStandIn <image>"; WM_CLOSE records "<image>: close"
//                        and ends with exit code 17; the request of a
//                        " /CloseAll" start records "<image>: closeall" and
//                        ends with exit code 42
//   ZL_COMPONENT_READY   name of an event to set once the window exists
//   ZL_COMPONENT_LIFE_MS how long a windowed start runs before it ends by
//                        itself (default 60000)
// A start whose command line holds " /CloseAll" asks every such window of its
// own image name to close, waits (up to 10 s) for each of their processes to end, and exits.
// A windowed start ends by itself after its life (exit code 99).
#include "Record.h"

#include <windows.h>

#include <string>
#include <vector>

namespace {

constexpr UINT kCloseAll = WM_APP + 1;
constexpr UINT_PTR kSafetyTimer = 1;
constexpr DWORD kClosedExit = 17, kClosedAllExit = 42, kSafetyExit = 99;

using standin::Env;

std::wstring Self()
{
    wchar_t buffer[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    return buffer;
}

std::wstring ImageName()
{
    std::wstring self = Self();
    return self.substr(self.find_last_of(L'\\') + 1);
}

std::wstring WindowClass() { return L"ZlComponentStandIn " + ImageName(); }

void Record(const std::wstring& text) { standin::Record(L"ZL_COMPONENT_RECORD", ImageName() + L": " + text); }

// "long" when the command line's program token is the long path of this program.
const wchar_t* HowStarted(const std::wstring& line)
{
    std::wstring token;
    if (!line.empty() && line[0] == L'"') token = line.substr(1, line.find(L'"', 1) - 1);
    else token = line.substr(0, line.find(L' '));
    return lstrcmpiW(token.c_str(), Self().c_str()) == 0 ? L"long" : L"short";
}

BOOL CALLBACK AskToClose(HWND window, LPARAM context)
{
    wchar_t name[MAX_PATH] = {};
    GetClassNameW(window, name, MAX_PATH);
    if (lstrcmpiW(name, WindowClass().c_str()) != 0) return TRUE;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (process == nullptr) return TRUE;
    PostMessageW(window, kCloseAll, 0, 0);
    reinterpret_cast<std::vector<HANDLE>*>(context)->push_back(process);
    return TRUE;
}

int CloseAll()
{
    std::vector<HANDLE> processes;
    EnumWindows(AskToClose, reinterpret_cast<LPARAM>(&processes));
    for (HANDLE process : processes) {
        WaitForSingleObject(process, 10000);
        CloseHandle(process);
    }
    return 0;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CLOSE:
        Record(L"close");
        PostQuitMessage(static_cast<int>(kClosedExit));
        return 0;
    case kCloseAll:
        Record(L"closeall");
        PostQuitMessage(static_cast<int>(kClosedAllExit));
        return 0;
    case WM_TIMER:
        PostQuitMessage(static_cast<int>(kSafetyExit));
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

int RunWindow(HINSTANCE instance)
{
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    const std::wstring className = WindowClass();
    windowClass.lpszClassName = className.c_str();
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, className.c_str(), ImageName().c_str(), WS_OVERLAPPEDWINDOW, 10, 10, 200, 100, nullptr,
                                  nullptr, instance, nullptr);
    if (window == nullptr) return 98;
    SetTimer(window, kSafetyTimer, standin::EnvNumber(L"ZL_COMPONENT_LIFE_MS", 60000), nullptr);
    std::wstring ready = Env(L"ZL_COMPONENT_READY");
    if (HANDLE event = ready.empty() ? nullptr : OpenEventW(EVENT_MODIFY_STATE, FALSE, ready.c_str())) {
        SetEvent(event);
        CloseHandle(event);
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    return static_cast<int>(message.wParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    const std::wstring line = GetCommandLineW();
    Record(std::wstring(HowStarted(line)) + L" " + line);
    if (line.find(L" /CloseAll") != std::wstring::npos) return CloseAll();
    if (Env(L"ZL_COMPONENT_WINDOW") == L"1") return RunWindow(instance);
    return 0;
}
