// A stand-in for the suite's tray and console programs: a GUI program with
// top-level windows that answers WM_CLOSE (or ignores it), or one without any
// window. Driven by the environment it inherits:
//   ZL_WINDOWED_WINDOWS  how many top-level windows, titled "windowed 1",
//                        "windowed 2", ... (default 1; 0: none)
//   ZL_WINDOWED_IGNORE   "1": WM_CLOSE is recorded but changes nothing
//   ZL_WINDOWED_EXIT     exit code once closed (default 0)
//   ZL_WINDOWED_READY    name of an event to set once the windows exist
//   ZL_WINDOWED_LIFE_MS  how long the program runs before it ends by itself
//                        with exit code 99 (default 60000)
//   ZL_WINDOWED_RECORD   file that receives "started <own path>" and
//                        "close <window title>" lines
// A closed program ends 300 ms after the close request, so that a second
// request posted right after the first is recorded too. Whatever happens, it
// ends by itself after its life (exit code 99) and leaves nothing running.
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr UINT_PTR kQuitTimer = 1;
constexpr UINT_PTR kSafetyTimer = 2;
constexpr UINT kQuitDelayMs = 300;
constexpr UINT kSafetyMs = 60000;
constexpr DWORD kSafetyExitCode = 99;

bool g_ignoreClose = false;
DWORD g_exitCode = 0;

std::wstring Env(const wchar_t* name)
{
    wchar_t buffer[4096] = {};
    DWORD n = GetEnvironmentVariableW(name, buffer, 4096);
    return n > 0 && n < 4096 ? std::wstring(buffer, n) : std::wstring();
}

void Record(const std::wstring& line)
{
    std::wstring path = Env(L"ZL_WINDOWED_RECORD");
    if (path.empty()) return;
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    std::wstring text = line + L"\r\n";
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(size > 0 ? size - 1 : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, bytes.data(), size, nullptr, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

void SignalReady()
{
    std::wstring name = Env(L"ZL_WINDOWED_READY");
    if (name.empty()) return;
    HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str());
    if (event == nullptr) return;
    SetEvent(event);
    CloseHandle(event);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CLOSE: {
        wchar_t title[64] = {};
        GetWindowTextW(window, title, 64);
        Record(std::wstring(L"close ") + title);
        if (!g_ignoreClose) SetTimer(window, kQuitTimer, kQuitDelayMs, nullptr);
        return 0;
    }
    case WM_TIMER:
        if (wParam == kQuitTimer) PostQuitMessage(static_cast<int>(g_exitCode));
        if (wParam == kSafetyTimer) PostQuitMessage(static_cast<int>(kSafetyExitCode));
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    Record(std::wstring(L"started ") + self);

    std::wstring count = Env(L"ZL_WINDOWED_WINDOWS");
    int windows = count.empty() ? 1 : _wtoi(count.c_str());
    g_ignoreClose = Env(L"ZL_WINDOWED_IGNORE") == L"1";
    g_exitCode = std::wcstoul(Env(L"ZL_WINDOWED_EXIT").c_str(), nullptr, 10);

    const std::wstring life = Env(L"ZL_WINDOWED_LIFE_MS");
    const DWORD lifeMs = life.empty() ? kSafetyMs : std::wcstoul(life.c_str(), nullptr, 10);
    if (windows <= 0) {
        SignalReady();
        Sleep(lifeMs);
        return static_cast<int>(kSafetyExitCode);
    }

    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"ZlWindowedStandIn";
    RegisterClassW(&windowClass);
    std::vector<HWND> made;
    for (int i = 1; i <= windows; ++i) {
        std::wstring title = L"windowed " + std::to_wstring(i);
        HWND window = CreateWindowExW(0, windowClass.lpszClassName, title.c_str(), WS_OVERLAPPEDWINDOW, 10 * i,
                                      10 * i, 200, 100, nullptr, nullptr, instance, nullptr);
        if (window == nullptr) return 98;
        made.push_back(window);
    }
    SetTimer(made.front(), kSafetyTimer, lifeMs, nullptr);
    SignalReady();

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
