#include "Components.h"

#include "ComponentNames.h"
#include "Deletion.h"
#include "KillProcess.h"
#include "LaunchAndWait.h"
#include "Launch.h"
#include "Paths.h"
#include "PlatformInfo.h"
#include "Registry.h"
#include "Removal.h"
#include "Scanners.h"
#include "ServiceStop.h"
#include "SuiteFolders.h"
#include "TimeBudget.h"


namespace {

namespace removal = win::removal;

constexpr wchar_t kMainKeyPath[] = L"SOFTWARE\\Zelmar\\ManagedServices";
constexpr wchar_t kCoreKeyPath[] = L"SOFTWARE\\Zelmar\\ZuzadaZozi";
constexpr wchar_t kCurrentVersionPath[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
constexpr wchar_t kCommonFilesValue[] = L"CommonFilesDir";
constexpr wchar_t kCoreCacheSubfolder[] = L"\\Zelmar\\AGSSYSCORE";
constexpr wchar_t kDriverInstaller[] = L"\\zlmhidin.exe";
constexpr wchar_t kAntiVirusLogName[] = L"AGSQUELLOR_Uninstall.log";
constexpr wchar_t kAntiVirusArgumentsWithLog[] = L"-u AGSQUELLOR -l \"%s\" -x grds.xml OAS ScriptScan EmailScan";
constexpr wchar_t kAntiVirusArguments[] = L"-u AGSQUELLOR -x grds.xml OAS ScriptScan EmailScan";

// Component keys and the label each adds to the discovery line.
struct ComponentKey {
    const wchar_t* path;
    const wchar_t* label;
    bool antiVirus;
};
constexpr ComponentKey kComponentKeys[] = {
    {L"Software\\Zelmar\\ManagedServices\\Agent\\Components\\QuellorRelo", L"\r\n\t\tAnti-Virus & Anti-Spyware", true},
    {L"Software\\Zelmar\\ManagedServices\\Agent\\Components\\Firewall", L"\r\n\t\tFirewall", false},
    {L"Software\\Zelmar\\ManagedServices\\Agent\\Components\\BrowseProtection", L"\r\n\t\tBrowser Protection", false},
};

// The suite's program folders, in search-path order.
constexpr const wchar_t* kProgramSubfolders[] = {L"\\Qengine", L"\\Firewall", L"\\Agent", L"\\Shared"};

// A log for one step's launches, writing where the removal object's log does.
class StepLog {
public:
    explicit StepLog(reloUni& uni)
    {
        log_ = uni.Log().Path();
        log_.Open();
    }
    CLogFile& get() { return log_; }

private:
    CLogFile log_;
};

// A string value that fits a path buffer, REG_EXPAND_SZ expanded.
bool ReadFolderValue(HKEY key, const wchar_t* name, std::wstring& out)
{
    DWORD type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS) return false;
    std::wstring text;
    if (win::ReadString(key, name, text) != ERROR_SUCCESS) return false;
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    if (type == REG_EXPAND_SZ) {
        wchar_t expanded[kPathChars] = {};
        DWORD n = ExpandEnvironmentStringsW(text.c_str(), expanded, kPathChars);
        if (n == 0 || n > kPathChars) return false;
        text = expanded;
    }
    if (text.size() >= kPathChars) return false;
    out = text;
    return true;
}

void EndProcesses(CKillProcHolder& killer, const wchar_t* const* names, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        if (killer.GetKiller()) killer.Killer()->KillProcess(names[i], true);
}

}  // namespace

std::wstring SuiteInstallFolder() { return GetSpecialFolder(0); }

bool reloUni::FindComponents()
{
    installFolder_ = SuiteInstallFolder();
    mainKeyPath_ = kMainKeyPath;
    if (win::OpenKey(HKEY_LOCAL_MACHINE, mainKeyPath_, KEY_ALL_ACCESS, win::RegView::Native, mainKey_) !=
        ERROR_SUCCESS)
        return false;

    std::wstring found = L"Finding components: ";
    for (const ComponentKey& component : kComponentKeys) {
        win::Key key;
        if (win::OpenKey(HKEY_LOCAL_MACHINE, component.path, KEY_READ, win::RegView::Native, key) != ERROR_SUCCESS)
            continue;
        found += component.label;
        if (component.antiVirus) antiVirus_ = 1;
    }
    log_.Log(L"%s", found.c_str());
    log_.Log(L"Other components may be present but in a semi-complete state, will attempt uninstall of all "
             L"components.");
    return true;
}

void reloUni::ExtendSearchPath()
{
    savedSearchPath_.clear();
    DWORD size = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    if (size > 0) {
        std::wstring value(size, L'\0');
        DWORD n = GetEnvironmentVariableW(L"PATH", value.data(), size);
        if (n < size) savedSearchPath_.assign(value.c_str(), n);
    }
    std::wstring extended = savedSearchPath_;
    for (const wchar_t* subfolder : kProgramSubfolders) extended += L";" + installFolder_ + subfolder;
    log_.Log(L"setting new path as %s", extended.c_str());
    SetEnvironmentVariableW(L"PATH", extended.c_str());
}

void CloseTrayPrograms(reloUni& uni)
{
    StepLog step(uni);
    LaunchAndWait(SuiteInstallFolder() + kComponentNames.trayProgram, L" /CloseAll", step.get(), 1);

    CKillProcHolder killer;
    EndProcesses(killer, kComponentNames.imagesBeforeTray, 3);
    if (killer.GetKiller() && killer.Killer()->IsProcessRunning(kComponentNames.trayImage))
        killer.Killer()->KillProcess(kComponentNames.trayImage, true);
    EndProcesses(killer, kComponentNames.imagesAfterTray, 3);
}

void StopAgentServices(reloUni& uni)
{
    const std::wstring serviceProgram = SuiteInstallFolder() + kComponentNames.agentServiceProgram;
    const std::wstring workerProgram = uni.InstallFolder() + kComponentNames.agentWorkerProgram;
    StepLog step(uni);

    winVersion version;
    if (version.IsNT()) {
        for (const wchar_t* service : kComponentNames.agentServices)
            StopService(OpenSCManagerW(nullptr, nullptr, GENERIC_READ), service);
    } else {
        LaunchAndWait(serviceProgram, L" /Stop", step.get(), 1);
        win::timing::Pause(1000);
        CKillProcHolder killer;
        const wchar_t* programs[] = {serviceProgram.c_str(), workerProgram.c_str()};
        EndProcesses(killer, programs, 2);
    }
    for (const wchar_t* service : kComponentNames.deletedServices)
        LaunchAndWait(win::launch::SystemFile(L"sc.exe"), (std::wstring(L"Delete ") + service).c_str(), step.get(), 1);
}

void reloUni::RunComponentUninstallers()
{
    StepLog step(*this);

    const std::wstring filterTool = installFolder_ + L"\\Qengine\\olaavfin.exe";
    if (win::FileExists(filterTool)) LaunchAndWait(filterTool, L" -u", step.get(), 1);

    const std::wstring driverInstaller = installFolder_ + (IsWow64() ? L"\\Qengine64" : L"\\Qengine") + kDriverInstaller;
    if (win::FileExists(driverInstaller)) {
        std::wstring arguments = L" -u";
        for (const wchar_t* driver : kComponentNames.drivers) arguments += std::wstring(L" ") + driver;
        log_.Log(L"Launching %s%s", driverInstaller.c_str(), arguments.c_str());
        LaunchAndWait(driverInstaller, arguments.c_str(), step.get(), 1);
        LaunchAndWait(driverInstaller, arguments.c_str(), step.get(), 0);
    }

    uninstScriptScanner2(*this);

    std::wstring coreFolder;
    if (!GetCoreCacheDir(coreFolder) && !GetSyscoreDir(coreFolder)) return;
    if (!win::FolderExists(coreFolder)) return;
    const removal::Judgement judged = removal::Judge(coreFolder);
    if (!judged.allowed()) {
        log_.Log(L"reloUni::RunComponentUninstallers - refusing core folder %s", coreFolder.c_str());
        return;
    }

    const std::wstring coreProgram = coreFolder + kDriverInstaller;
    // A core folder taken from the registry starts nothing outside the suite's folders.
    const LaunchScope suite{SuiteFolders()};
    wchar_t temp[kPathChars] = {};
    DWORD tempChars = GetTempPathW(kPathChars, temp);
    if (tempChars > 0 && tempChars < kPathChars) {
        std::wstring logPath = temp;
        if (logPath.back() != L'\\') logPath += L'\\';
        logPath += kAntiVirusLogName;
        wchar_t arguments[2 * kPathChars] = {};
        _snwprintf(arguments, 2 * kPathChars - 1, kAntiVirusArgumentsWithLog, logPath.c_str());
        LaunchAndWait(coreProgram, arguments, step.get(), 1, suite);
    } else {
        log_.Log(L"Launching %s%s", coreProgram.c_str(), (std::wstring(L" ") + kAntiVirusArguments).c_str());
        LaunchAndWait(coreProgram, kAntiVirusArguments, step.get(), 1, suite);
    }

    RemoveFirefoxComponents();

    win::Key coreKey;
    if (win::OpenKey(HKEY_LOCAL_MACHINE, kCoreKeyPath, KEY_READ, win::RegView::Native, coreKey) == ERROR_SUCCESS) {
        std::wstring cache;
        if (GetCoreCacheDir(cache) && win::FolderExists(cache)) {
            log_.Log(L"Deleting SYSCORE install cache %s", cache.c_str());
            Nukedir(cache.c_str(), [this](const wchar_t* line) { log_.Log(L"%s", line); });
        }
        return;
    }
    // Deleted now, else moved aside, else left for the restart (Reboot-needed set).
    if (!RemoveFile(coreProgram.c_str())) log_.Log(L"Could not remove %s, pending operation set.", coreProgram.c_str());
}

bool reloUni::GetSyscoreDir(std::wstring& path)
{
    path.clear();
    win::Key key;
    if (win::OpenKey(HKEY_LOCAL_MACHINE, kCoreKeyPath, KEY_READ, win::RegView::Native, key) != ERROR_SUCCESS)
        return false;
    log_.Log(L"Opened key %s", kCoreKeyPath);
    std::wstring value;
    bool read = ReadFolderValue(key.get(), IsWow64() ? L"szInstallDir64" : L"szInstallDir32", value);
    key.reset();
    log_.Log(L"GetSyscoreDir - found value to be %s", value.c_str());
    path = value;
    return read;
}

bool reloUni::GetCoreCacheDir(std::wstring& path)
{
    win::Key key;
    LONG rc = win::OpenKey(HKEY_LOCAL_MACHINE, kCurrentVersionPath, KEY_READ, win::RegView::Native, key);
    if (rc != ERROR_SUCCESS) {
        log_.Log(L"Could not open key %s - Error Result %d", kCurrentVersionPath, static_cast<int>(rc));
        return false;
    }
    std::wstring commonFiles;
    if (!ReadFolderValue(key.get(), kCommonFilesValue, commonFiles)) {
        log_.Log(L"Could not find value %s", kCommonFilesValue);
        return false;
    }
    path = commonFiles + kCoreCacheSubfolder;
    return true;
}
