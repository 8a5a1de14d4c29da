#include "Entry.h"

#include "Handle.h"
#include "LogFile.h"
#include "PlatformInfo.h"
#include "ProcessRunner.h"
#include "Registrations.h"
#include "Registry.h"
#include "Removal.h"
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
// Written before the older suite's first removal step and deleted after its
// last, outside the suite's keys, which the steps delete on their way.
constexpr wchar_t kOlderRemovalKey[] = L"SOFTWARE\\Zelmar Uprooter";
constexpr wchar_t kOlderRemovalValue[] = L"OlderSuiteRemoval";
constexpr wchar_t kMarkedMenuSubfolder[] = L"MenuSubfolder";
constexpr wchar_t kMarkedMenuLink[] = L"MenuLink";
// The older suite's anti-virus core key, which its own uninstallers leave.
constexpr wchar_t kOlderCoreKey[] = L"SOFTWARE\\Zelmar\\QLCore";

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
    } else {
        RunLog().Log(L"No agent of the newer product is installed: nothing of it to remove");
    }
}

}  // namespace

void LogStepTime(CLogFile& log, const wchar_t* step, const win::timing::Split& split)
{
    log.Log(L"Uprooter.Exe, Timing: %s", win::timing::Describe(step, split).c_str());
}

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

void MarkOlderRemovalUnfinished()
{
    win::Key key;
    if (win::CreateKey(HKEY_LOCAL_MACHINE, kOlderRemovalKey, KEY_SET_VALUE, win::RegView::Native, key) != ERROR_SUCCESS)
        return;
    win::WriteDword(key.get(), kOlderRemovalValue, 1);
    // The program groups' step needs the agent's menu entry after the agent's
    // key is gone, in a later run as well; a later run keeps the first copy.
    std::wstring subfolder, link;
    if (!ReadMenuEntry(subfolder, link)) return;
    win::WriteString(key.get(), kMarkedMenuSubfolder, subfolder);
    win::WriteString(key.get(), kMarkedMenuLink, link);
}

bool ReadMarkedMenuEntry(std::wstring& subfolder, std::wstring& link)
{
    win::Key key;
    if (win::OpenKey(HKEY_LOCAL_MACHINE, kOlderRemovalKey, KEY_READ, win::RegView::Native, key) != ERROR_SUCCESS)
        return false;
    win::ReadString(key.get(), kMarkedMenuSubfolder, subfolder);
    win::ReadString(key.get(), kMarkedMenuLink, link);
    return !link.empty();
}

void ClearOlderRemovalMark()
{
    win::removal::RemoveKey(HKEY_LOCAL_MACHINE, kOlderRemovalKey, win::RegView::Native);
}

bool IsOlderRemovalUnfinished()
{
    win::Key key;
    for (const wchar_t* path : {kOlderRemovalKey, kOlderCoreKey})
        if (win::OpenKey(HKEY_LOCAL_MACHINE, path, KEY_READ, win::RegView::Native, key) == ERROR_SUCCESS) return true;
    return false;
}

bool IsOlderProductInstalled()
{
    std::wstring version;
    const bool read = ReadAgentVersion(version);
    if (MajorVersion(version) < kFirstNewerMajorVersion) {
        RunLog().Log(L"CurrentVersion is lesser than 10.0.0");
        return true;
    }
    if (read) return false;
    // No agent to ask: a removal of the older suite that a killed run or the
    // suite's own uninstaller left half done is finished on the older road.
    if (IsOlderRemovalUnfinished()) {
        RunLog().Log(L"Agent version not found; an unfinished removal of the older product is taken up");
        return true;
    }
    RunLog().Log(L"Agent version not found and no unfinished removal of the older product: nothing of it to remove");
    return false;
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
    win::timing::Clock clock;
    const bool launched = LaunchCleanupUtility();
    LogStepTime(RunLog(), L"LaunchCleanupUtility", clock.Lap());
    if (!launched) return 0;
    RemoveAgentAfterHostCommon();
    LogStepTime(RunLog(), L"RemoveAgentAfterHostCommon", clock.Lap());
    return 1;
}
