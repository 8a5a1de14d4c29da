#include "Entry.h"

#include "Handle.h"
#include "LogFile.h"
#include "PlatformInfo.h"
#include "ProcessRunner.h"
#include "Registry.h"
#include "SuiteIdentifiers.h"

#include <msi.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

namespace {

constexpr wchar_t kMutexName[] = L"Global\\TarvoUprooterSingleInstance";
constexpr wchar_t kPromptCaption[] = L"Zelmar Endpoint Guard Uninstall";
constexpr wchar_t kPromptText[] = L"Are you sure you want to uninstall Zelmar Endpoint Guard?";
constexpr wchar_t kCleanupUtility[] = L"Sweeper.exe";
constexpr size_t kProductCodeChars = 40;
constexpr long kFirstNewerMajorVersion = 10;

HANDLE g_instanceMutex = nullptr;
bool g_instanceChecked = false;
bool g_anotherInstance = false;

void CloseInstanceMutex()
{
    if (g_instanceMutex != nullptr && !g_anotherInstance) CloseHandle(g_instanceMutex);
}

// The program's own folder, cut at the last separator (a forward slash if the
// path holds one, else a backslash), or empty.
std::wstring OwnFolder(wchar_t& separator)
{
    wchar_t module[kPathChars] = {};
    GetModuleFileNameW(nullptr, module, kPathChars);
    module[kPathChars - 1] = L'\0';
    std::wstring path = module;
    separator = path.find(L'/') != std::wstring::npos ? L'/' : L'\\';
    size_t cut = path.rfind(separator);
    return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut);
}

// After Sweeper: once the host-common component is gone, the agent is found by
// its upgrade code and uninstalled by product code.
void RemoveAgentAfterHostCommon()
{
    win::Key hostCommon;
    if (win::OpenKey(HKEY_LOCAL_MACHINE, UninstallKeyPath(kHostCommonProductCode), KEY_READ,
                     win::RegView::Bit64, hostCommon) == ERROR_SUCCESS)
        return;  // still registered: the agent stays
    RunLog().Log(L"HostCommon uninstalled successfully");
    wchar_t productCode[kProductCodeChars] = {};
    if (MsiEnumRelatedProductsW(kAgentUpgradeCode, 0, 0, productCode) == ERROR_SUCCESS) {
        RunLog().Log(L"Uninstalling ZA");
        UninstallProductFromGUID(productCode);
    }
}

}  // namespace

long MajorVersion(const std::wstring& version) { return std::wcstol(version.substr(0, version.find(L'.')).c_str(), nullptr, 10); }

bool IsAnotherInstanceRunning()
{
    if (!g_instanceChecked) {
        g_instanceChecked = true;
        g_anotherInstance = false;
        g_instanceMutex = CreateMutexW(nullptr, TRUE, kMutexName);
        DWORD error = GetLastError();
        if (g_instanceMutex == nullptr || error == ERROR_ALREADY_EXISTS || error == ERROR_INVALID_HANDLE)
            g_anotherInstance = true;
        std::atexit(CloseInstanceMutex);
    }
    return g_anotherInstance;
}

bool IsOlderProductInstalled()
{
    if (MajorVersion(GetAgentVersion()) >= kFirstNewerMajorVersion) return false;
    RunLog().Log(L"CurrentVersion is lesser than 10.0.0");
    return true;
}

bool LaunchCleanupUtility()
{
    std::wstring commandLine;
    WIN32_FIND_DATAW found;
    win::FindHandle search(FindFirstFileW(kCleanupUtility, &found));
    if (!search) {
        RunLog().Log(L"LaunchCleanupUtility(): FindFirstFile failed for File %s error: %d", kCleanupUtility,
                     static_cast<int>(GetLastError()));
        return false;
    }
    RunLog().Log(L"LaunchCleanupUtility(): Cleanup Utility found");
    wchar_t separator = L'\\';
    std::wstring program = OwnFolder(separator) + separator + found.cFileName;
    search.reset();

    if (commandLine.empty()) {
        wchar_t formatted[2 * kPathChars] = {};
        _snwprintf(formatted, 2 * kPathChars - 1, L"\"%s\" /qn ", program.c_str());
        commandLine = formatted;
    }
    RunLog().Log(L"Running cleanup utility");
    DWORD exitCode = kNoChildExitCode;
    bool succeeded = RunProcess(commandLine.c_str(), exitCode);
    return succeeded || exitCode != kNoChildExitCode;
}

std::wstring RunLogPathBesideParent()
{
    PROCESSENTRY32W self{};
    std::wstring parentPath;
    if (GetProcessEntryById(GetCurrentProcessId(), self))
        GetProcessMainModulePath(self.th32ParentProcessID, parentPath);
    size_t cut = parentPath.rfind(L'\\');
    if (cut != std::wstring::npos) parentPath.erase(cut);
    return parentPath + L"\\Uprooter.log";
}

int UprooterMain(HINSTANCE instance)
{
    RunLog().Open();
    RunLog() = RunLogPathBesideParent();

    wchar_t* commandLine = GetCommandLineW();
    bool haveCommandLine = commandLine != nullptr && commandLine[0] != L'\0';
    if (haveCommandLine) CharLowerBuffW(commandLine, static_cast<DWORD>(wcslen(commandLine)));
    if (!haveCommandLine || wcsstr(commandLine, L"/suppressprompt") == nullptr) {
        if (MessageBoxW(nullptr, kPromptText, kPromptCaption, MB_YESNO) == IDNO) {
            RunLog().Log(L"User has aborted the Uninstall Operation");
            return 0;
        }
    }
    RunLog().Log(L"Starting Uprooter...");
    if (haveCommandLine && wcsstr(commandLine, L"/all") != nullptr) RunLog().Log(L"Found the /all argument");

    if (IsAnotherInstanceRunning()) {
        RunLog().Log(L"Error : Uprooter Terminated. Another instance of Uprooter.exe is running.");
        return 5;
    }
    if (IsOlderProductInstalled()) {
        RunLog().Log(L"Uninstalling older product");
        return RemoveOlderProduct(instance);
    }
    RunLog().Log(L"Uninstalling newer product");
    if (!LaunchCleanupUtility()) return 0;
    RemoveAgentAfterHostCommon();
    return 1;
}
