#include "ProcessRunner.h"

#include "Log.h"
#include "Handle.h"
#include "Launch.h"
#include "Registry.h"
#include "TimeBudget.h"

#include <utility>

namespace {

constexpr wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr size_t kUninstallStringChars = 260;
constexpr DWORD kInstallAlreadyRunning = 1618;
constexpr int kRetryBudget = 60;
constexpr DWORD kRetryPauseMs = 5000;

RetryPause g_retryPause = win::timing::Pause;

// Reads "UninstallString" as stored, only if it fits the fixed buffer with its
// terminator; empty on any failure.
std::wstring ReadUninstallString(HKEY key)
{
    wchar_t buffer[kUninstallStringChars] = {};
    DWORD type = 0;
    DWORD bytes = sizeof(buffer);
    if (RegQueryValueExW(key, L"UninstallString", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes) !=
        ERROR_SUCCESS)
        return {};
    if (type != REG_SZ && type != REG_EXPAND_SZ) return {};
    if (bytes < sizeof(wchar_t) || bytes % sizeof(wchar_t) != 0) return {};
    if (buffer[bytes / sizeof(wchar_t) - 1] != L'\0') return {};
    return buffer;
}

void ReplaceAll(std::wstring& text, const std::wstring& from, const std::wstring& to)
{
    for (size_t at = text.find(from); at != std::wstring::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

}  // namespace

std::wstring UninstallKeyPath(const std::wstring& productCode) { return kUninstallKey + productCode; }

RetryPause SetRetryPause(RetryPause pause) { return std::exchange(g_retryPause, pause); }

bool RunProcess(const wchar_t* commandLine, DWORD& exitCode)
{
    exitCode = kNoChildExitCode;
    AGS_LOG(LogUtils::Info, L"RunProcess():: Command Line Argument - %s", commandLine ? commandLine : L"");
    if (commandLine == nullptr || commandLine[0] == L'\0') return true;

    // The program the line names, as Windows reads it but never a shorter
    // prefix; a bare "MsiExec.exe" is the system folder's.
    namespace launch = win::launch;
    launch::CommandLine line;
    launch::Judgement program;
    program.path = commandLine;
    if (launch::Split(commandLine, line)) program = launch::Judge(line.program);
    if (!program.allowed()) {
        AGS_LOG(LogUtils::Error, L"RunProcess():: Refusing to start %s: %s", program.path.c_str(),
                launch::Reason(program.verdict));
        return false;
    }
    // An unquoted program with a blank is quoted, so that the child reads its own name whole.
    const std::wstring text = line.quoted || line.written.find(L' ') == std::wstring::npos
                                  ? commandLine
                                  : L"\"" + line.written + L"\"" + line.rest;
    launch::StartOptions options;
    options.flags = NORMAL_PRIORITY_CLASS;
    win::ProcessInformation child;
    if (!launch::Start(program, text, options, child)) {
        AGS_LOG(LogUtils::Error, L"RunProcess():: CreateProcess Function Failed. Code=%d", static_cast<int>(GetLastError()));
        return false;
    }
    win::timing::WaitForChild(child.process.get(), INFINITE);
    GetExitCodeProcess(child.process.get(), &exitCode);
    if (exitCode == 0) return true;
    AGS_LOG(LogUtils::Error, L"RunProcess():: Process [%s] return Fail. ExitCode=%d ErrorCode=%d", commandLine,
            static_cast<int>(exitCode), static_cast<int>(GetLastError()));
    return false;
}

bool UninstallProductFromGUID(const std::wstring& productCode)
{
    const std::wstring keyPath = UninstallKeyPath(productCode);
    AGS_LOG(LogUtils::Info, L"UninstallProductFromGUID(): Uninstalling product [%s]", productCode.c_str());

    win::Key key;
    if (win::OpenKey(HKEY_LOCAL_MACHINE, keyPath, KEY_READ, win::RegView::Bit64, key) != ERROR_SUCCESS &&
        win::OpenKey(HKEY_LOCAL_MACHINE, keyPath, KEY_READ, win::RegView::Bit32, key) != ERROR_SUCCESS) {
        AGS_LOG(LogUtils::Info,
                L"UninstallProductFromGUID(): Product [%s] is not Installed. [InstalledProductInfo] doesn't match is "
                L"[CurrentVersion\\Uninstall]",
                productCode.c_str());
        return false;
    }

    std::wstring commandLine = ReadUninstallString(key.get());
    if (commandLine.empty()) return false;
    ReplaceAll(commandLine, L"/I", L"/X");
    commandLine += L" /qn ";

    DWORD exitCode = 0;
    bool succeeded = false;
    for (int budget = kRetryBudget;;) {
        succeeded = RunProcess(commandLine.c_str(), exitCode);
        bool again = !succeeded && exitCode == kInstallAlreadyRunning && budget > 0;
        if (again) {
            g_retryPause(kRetryPauseMs);
            --budget;
        }
        AGS_LOG(LogUtils::Info, L"Ran process %s %d ", commandLine.c_str(), static_cast<int>(exitCode));
        if (!again) break;
    }
    if (!succeeded)
        AGS_LOG(LogUtils::Info, L"UninstallProductFromGUID(): Could not UnInstall [%s], ERROR: %d", productCode.c_str(),
                static_cast<int>(exitCode));
    return succeeded;
}

bool GetProcessEntryById(DWORD processId, PROCESSENTRY32W& entry)
{
    using SnapshotFn = HANDLE(WINAPI*)(DWORD, DWORD);
    using WalkFn = BOOL(WINAPI*)(HANDLE, LPPROCESSENTRY32W);
    // Kernel32 is always loaded: nothing is looked for on disk.
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (!kernel) return false;
    auto snapshotFn = reinterpret_cast<SnapshotFn>(GetProcAddress(kernel, "CreateToolhelp32Snapshot"));
    auto firstFn = reinterpret_cast<WalkFn>(GetProcAddress(kernel, "Process32FirstW"));
    auto nextFn = reinterpret_cast<WalkFn>(GetProcAddress(kernel, "Process32NextW"));
    if (!snapshotFn || !firstFn || !nextFn) return false;

    win::Handle snapshot(snapshotFn(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return false;
    PROCESSENTRY32W current{};
    current.dwSize = sizeof(current);
    for (BOOL more = firstFn(snapshot.get(), &current); more; more = nextFn(snapshot.get(), &current)) {
        if (current.th32ProcessID == processId) {
            entry = current;
            return true;
        }
        current.dwSize = sizeof(current);
    }
    return false;
}

bool GetProcessMainModulePath(DWORD processId, std::wstring& path)
{
    win::Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId));
    if (!snapshot) return false;
    MODULEENTRY32W module{};
    module.dwSize = sizeof(module);
    if (!Module32FirstW(snapshot.get(), &module)) return false;
    path = module.szExePath;
    return true;
}
