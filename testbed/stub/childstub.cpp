// A child program that records how it was started and exits as told, so a test
// can stand it in for any program the product launches (copied under the
// name the product looks for). Driven by the environment it inherits:
//   ZL_STUB_LOG      file that receives one line per start: the command line
//   ZL_STUB_EXITS    exit codes by start, comma separated ("1618,1618,0");
//                    the last one repeats; default 0
//   ZL_STUB_STARTED  name of an event to set once running
//   ZL_STUB_WAIT     name of an event to wait for (at most 60 s) before exiting
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

std::wstring Env(const wchar_t* name)
{
    wchar_t buffer[4096] = {};
    DWORD n = GetEnvironmentVariableW(name, buffer, 4096);
    return n > 0 && n < 4096 ? std::wstring(buffer, n) : std::wstring();
}

// Appends the command line as UTF-8 and returns how many starts the log held before.
int Record(const std::wstring& logPath)
{
    HANDLE file = CreateFileW(logPath.c_str(), GENERIC_READ | FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    int before = 0;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0)
        for (DWORD i = 0; i < got; ++i) before += buffer[i] == '\n';
    std::wstring line = GetCommandLineW();
    int size = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string text(size > 0 ? size - 1 : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, text.data(), size, nullptr, nullptr);
    text += "\r\n";
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return before;
}

DWORD ExitCodeFor(int start)
{
    std::wstring codes = Env(L"ZL_STUB_EXITS");
    DWORD code = 0;
    size_t at = 0;
    for (int i = 0; at <= codes.size(); ++i) {
        size_t comma = codes.find(L',', at);
        code = std::wcstoul(codes.substr(at, comma - at).c_str(), nullptr, 10);
        if (i == start || comma == std::wstring::npos) break;
        at = comma + 1;
    }
    return code;
}

void SignalAndWait()
{
    std::wstring started = Env(L"ZL_STUB_STARTED");
    if (!started.empty()) {
        HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, started.c_str());
        if (event) {
            SetEvent(event);
            CloseHandle(event);
        }
    }
    std::wstring wait = Env(L"ZL_STUB_WAIT");
    if (!wait.empty()) {
        HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, wait.c_str());
        if (event) {
            WaitForSingleObject(event, 60000);
            CloseHandle(event);
        }
    }
}

}  // namespace

int wmain()
{
    std::wstring log = Env(L"ZL_STUB_LOG");
    int start = log.empty() ? 0 : Record(log);
    SignalAndWait();
    return static_cast<int>(ExitCodeFor(start));
}
