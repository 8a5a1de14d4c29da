#include "Firewall.h"

#include "ComponentNames.h"
#include "Deletion.h"
#include "LaunchAndWait.h"
#include "Launch.h"
#include "Paths.h"
#include "PlatformInfo.h"
#include "Registry.h"
#include "Removal.h"
#include "ServiceStop.h"
#include "SuiteFolders.h"
#include "Unregister.h"
#include "UprooterStrings.h"
#include "Wow64.h"
#include "reloUni.h"

#include <shlobj.h>

#include <cwchar>

namespace {

namespace removal = win::removal;

constexpr size_t kFolderChars = 520;
constexpr size_t kArgumentChars = 2 * kPathChars;

// The firewall generations' names; docs/configuration.md lists the same values.
struct FirewallNames {
    // Below the Windows folder, and below the program-files folder.
    const wchar_t* tarvoFolder;
    const wchar_t* managedFolder;
    const wchar_t* standAloneManagedFolder;
    // The programs and modules of a firewall folder.
    const wchar_t* shellModule;
    const wchar_t* trayProgram;
    const wchar_t* agentProgram;
    const wchar_t* configProgram;  // in the folder's "\data\drv"
    const wchar_t* serviceProgram;
    // In the drivers folder, and their service keys' names.
    const wchar_t* driverFiles[2];
    const wchar_t* driverServices[2];
    // Each variant's key trees in HKEY_LOCAL_MACHINE, in deletion order;
    // nullptr stands for the tray program's Run value.
    const wchar_t* tarvoTraces[4];
    const wchar_t* managedTraces[4];
    const wchar_t* trayRunValue;
    // The consumer edition, below the program-files folder.
    const wchar_t* consumerFolder;
    const wchar_t* consumerTray;
    const wchar_t* consumerService;
    const wchar_t* apiUninstallKey;
    const wchar_t* apiSetupFile;  // below the program-files folder
    // Below the common-files folder.
    const wchar_t* commonInstaller;
    const wchar_t* intrusionSetupFile;
    // The host-intrusion firewall, in the system-core folder.
    const wchar_t* hostIntrusionTool;
    const wchar_t* hostIntrusionService;
    // The firewall control module, from the agent folder.
    const wchar_t* windowsFirewallArguments;
    // The older consumer edition.
    const wchar_t* legacyTreeKeys[4];
    const wchar_t* legacyEmptyKeys[3];  // innermost first
    const wchar_t* legacyDataFolder;    // below an application-data folder
    const wchar_t* legacyStatusFile;    // in the system folder
};

// Deleted with its tree by the managed variant, and again, on its own, with
// the consumer edition.
constexpr wchar_t kManagedUninstallKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zelmar Managed Firewall";

constexpr FirewallNames kFirewall = {
    L"Tarvo\\PFW",
    L"Zelmar\\Managed Quellor\\Firewall",
    L"Zelmar\\Managed Firewall",
    L"zlPfwShell.dll",
    L"zlPfwTray.exe",
    L"zlPfwAgent.exe",
    L"zlPfwConfig.exe",
    L"zlPfwSvc.exe",
    {L"zlPfwDrv.sys", L"zlPfwNdis.sys"},
    {L"zlPfwDrv", L"zlPfwNdis"},
    {L"SOFTWARE\\Tarvo\\Agent\\TaskbarMenu\\Firewall", L"SOFTWARE\\Tarvo\\Agent\\Components\\Firewall",
     L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarvo Personal Firewall", nullptr},
    {L"SOFTWARE\\Zelmar\\ManagedServices\\Agent\\TaskbarMenu\\PersonalFirewall", kManagedUninstallKey, nullptr,
     L"SOFTWARE\\Zelmar\\ManagedServices\\Agent\\Components\\PersonalFirewall"},
    L"zlPfwTray",
    L"Zelmar\\Personal Firewall Plus",
    L"zlPfpTray.exe",
    L"ZlPfpService",
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zelmar Firewall API",
    L"Zelmar\\Personal Firewall Plus\\zlFwApi.inf",
    L"\\Zelmar\\zlInstall.exe",
    L"\\Zelmar\\Intrulog\\zlIlApi.inf",
    L"\\zlmhidin.exe",
    L"ZlHipFirewall",
    L"/RunDll=..\\Firewall\\zlFwCtl.dll,SetWindowsFirewallState 1",
    {L"SYSTEM\\CurrentControlSet\\Services\\VxD\\ZLHFW", L"SYSTEM\\CurrentControlSet\\Services\\VxD\\ZLHFWNDIS",
     L"SOFTWARE\\Zelmar Home\\Agent\\Apps\\Firewall", L"SOFTWARE\\Zelmar Home\\Firewall"},
    {L"SOFTWARE\\Zelmar Home\\Agent\\Apps", L"SOFTWARE\\Zelmar Home\\Agent", L"SOFTWARE\\Zelmar Home"},
    L"Zelmar\\Home Firewall",
    L"zlhfw.dat",
};

constexpr wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kRunOnceKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr wchar_t kRunOnceValue[] = L"InstIlApi";
constexpr wchar_t kServicesKey[] = L"SYSTEM\\CurrentControlSet\\Services\\";
constexpr wchar_t kHostIntrusionKey[] = L"SOFTWARE\\Zelmar\\ManagedServices\\Agent\\Components\\Firewall";
constexpr wchar_t kSystemCoreKey[] = L"SOFTWARE\\Zelmar\\ZuzadaZozi";
constexpr wchar_t kHostIntrusionLogName[] = L"AGSFIREWALL_Uninstall.log";
constexpr wchar_t kHostIntrusionArgumentsWithLog[] = L"-u AGSFIREWALL -l \"%s\" -x grds.xml Firecore";
constexpr wchar_t kHostIntrusionArguments[] = L"-u AGSFIREWALL -x grds.xml Firecore";
constexpr const wchar_t* kSharedKeys[] = {L"SOFTWARE\\Zelmar\\SharedModules", L"SOFTWARE\\Zelmar\\ZSC"};
constexpr wchar_t kIntrusionLogFolder[] = L"\\Zelmar\\Intrulog";


std::wstring WithSlash(std::wstring folder)
{
    if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
    return folder;
}

// The folder with a trailing backslash, empty when the query fails or the
// folder does not fit the buffer.
std::wstring WindowsFolder()
{
    wchar_t buffer[kFolderChars] = {};
    UINT n = GetWindowsDirectoryW(buffer, kFolderChars);
    return n == 0 || n >= kFolderChars ? std::wstring() : WithSlash(buffer);
}

std::wstring CommonAppData()
{
    wchar_t buffer[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer))) return {};
    return buffer;
}

// A log of the operation's own on the removal object's log file.
void OpenOperationLog(CLogFile& log, reloUni& uni)
{
    log = uni.Log().Path();
    log.Open();
}

void Launch(const std::wstring& program, const std::wstring& arguments, CLogFile& log)
{
    LaunchAndWait(program, arguments.c_str(), log, 1);
}

void DeleteMachineTree(const wchar_t* path) { removal::RemoveKeyTree(HKEY_LOCAL_MACHINE, path, win::RegView::Native); }

bool CanRead(const wchar_t* path)
{
    win::Key key;
    return win::OpenKey(HKEY_LOCAL_MACHINE, path, KEY_READ, win::RegView::Native, key) == ERROR_SUCCESS;
}

// Deletes the key only when it holds neither subkeys nor values.
void DeleteKeyIfEmpty(const wchar_t* path)
{
    DWORD subkeys = 0, values = 0;
    {
        win::Key key;
        if (win::OpenKey(HKEY_LOCAL_MACHINE, path, KEY_READ, win::RegView::Native, key) != ERROR_SUCCESS) return;
        if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                             nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return;
    }
    if (subkeys == 0 && values == 0) removal::RemoveKey(HKEY_LOCAL_MACHINE, path, win::RegView::Native);
}

void StopFirewallService(const wchar_t* name) { StopService(OpenSCManagerW(nullptr, nullptr, GENERIC_READ), name); }

// The host-intrusion firewall, uninstalled by the system-core installer.
void RemoveHostIntrusionFirewall(CLogFile& log)
{
    std::wstring core;
    if (!GetZuzadaZoziFolderFromCommonFiles(core) && !GetZuzadaZoziFolder(core)) return;
    if (!win::FolderExists(core)) return;
    if (!removal::Judge(core).allowed()) {
        log.Log(L"RemovePersonalFirewallPlus - refusing core folder %s", core.c_str());
        return;
    }
    if (!CanRead(kHostIntrusionKey)) {
        log.Log(L"Firewall is not Installed... Hence ignoring it");
        return;
    }
    log.Log(L"Running Firewall Un Installation Command");
    const std::wstring tool = core + kFirewall.hostIntrusionTool;
    // A core folder taken from the registry starts nothing outside the suite's folders.
    const LaunchScope suite{SuiteFolders()};
    StopFirewallService(kFirewall.hostIntrusionService);
    wchar_t temp[kPathChars] = {};
    DWORD tempChars = GetTempPathW(kPathChars, temp);
    if (tempChars > 0 && tempChars < kPathChars) {
        wchar_t arguments[kArgumentChars] = {};
        _snwprintf(arguments, kArgumentChars - 1, kHostIntrusionArgumentsWithLog,
                   (WithSlash(temp) + kHostIntrusionLogName).c_str());
        LaunchAndWait(tool, arguments, log, 1, suite);
    } else {
        LaunchAndWait(tool, kHostIntrusionArguments, log, 1, suite);
    }
    // Without the system-core key the tool is the firewall's alone: it goes at the restart.
    if (!CanRead(kSystemCoreKey)) Nukedir(tool.c_str());
}

// The intrusion monitor's API package: its RunOnce value, then its
// uninstallation through the common installer when the common-files folder is known.
void RemoveIntrusionMonitorApi(const std::wstring& commonFiles, CLogFile& log)
{
    win::Key runOnce;
    if (win::OpenKey(HKEY_LOCAL_MACHINE, kRunOnceKey, KEY_ALL_ACCESS, win::RegView::Native, runOnce) == ERROR_SUCCESS) {
        runOnce.reset();
        log.Log(L"Checking if need to delete the InstIlApi runonce key");
        if (removal::RemoveValue(HKEY_LOCAL_MACHINE, kRunOnceKey, win::RegView::Native, kRunOnceValue).outcome ==
            removal::Outcome::Removed)
            log.Log(L"Deleted the InstIlApi runonce key!");
    }
    if (commonFiles.empty()) return;
    const std::wstring program = commonFiles + kFirewall.commonInstaller;
    const std::wstring arguments = L"\"" + commonFiles + kFirewall.intrusionSetupFile + L"\" /Uninstall";
    if (LaunchAndWait(program, arguments.c_str(), log, 1))
        log.Log(L"Successfully launched IL API uninstaller... strCmd = %s, strParams = %s", program.c_str(),
                arguments.c_str());
    else
        log.Log(L"Failed to launch IL API uninstaller... strCmd = %s, strParams = %s", program.c_str(),
                arguments.c_str());
}

// A variant's folder shut down and removed, then its registry traces.
bool RemoveFirewallVariant(reloUni& uni, FirewallVariant variant, const wchar_t* const (&traces)[4])
{
    const std::wstring folder = FindFirewallFolder(variant);
    if (folder.empty()) return false;
    CLogFile log;
    OpenOperationLog(log, uni);
    ShutDownAndRemoveFirewallFolder(folder, log);
    for (const wchar_t* trace : traces) {
        if (trace != nullptr)
            DeleteMachineTree(trace);
        else
            removal::RemoveValue(HKEY_LOCAL_MACHINE, kRunKey, win::RegView::Native, kFirewall.trayRunValue);
    }
    return true;
}

}  // namespace

std::wstring FindFirewallFolder(FirewallVariant variant)
{
    if (variant == FirewallVariant::Tarvo) {
        const std::wstring windows = WindowsFolder();
        return windows.empty() ? windows : windows + kFirewall.tarvoFolder;
    }
    const std::wstring programFiles = WithSlash(GetSpecialFolder(1));
    if (programFiles.empty()) return programFiles;
    const std::wstring managed = programFiles + kFirewall.managedFolder;
    if (win::FolderExists(managed)) return managed;
    const std::wstring standAlone = programFiles + kFirewall.standAloneManagedFolder;
    return win::FolderExists(standAlone) ? standAlone : managed;
}

void ShutDownAndRemoveFirewallFolder(const std::wstring& folder, CLogFile& log)
{
    if (!win::FolderExists(folder)) return;
    const std::wstring shellModule = folder + L"\\" + kFirewall.shellModule;
    if (win::FileExists(shellModule)) {
        Launch(folder + L"\\" + kFirewall.trayProgram, L" -shutdown", log);
        Launch(folder + L"\\" + kFirewall.agentProgram, L"/INVOKE:Shutdown:NoPrompt", log);
        Launch(folder + L"\\data\\drv\\" + kFirewall.configProgram, L" -d " + folder, log);
        RemoveFile((folder + L"\\" + kFirewall.serviceProgram).c_str());
        UnregisterServerInProcess(shellModule.c_str());
        RemoveFile(shellModule.c_str());
        Nukedir(folder.c_str());
    }
    RemoveFirewallDrivers();
}

void RemoveFirewallDrivers()
{
    if (!winVersion().IsNT()) return;
    wchar_t windows[kFolderChars] = {};
    UINT n = GetSystemWindowsDirectoryW(windows, kFolderChars);
    if (n == 0 || n >= kFolderChars) return;
    const std::wstring drivers = std::wstring(windows) + L"\\system32\\drivers\\";
    // The drivers of 64-bit Windows lie in its own system folder, which this
    // 32-bit program reaches only with redirection off: off around the file
    // calls alone. The removal layer's judgement is made once before, so that
    // the libraries it needs are loaded from this program's own view.
    removal::ProtectedFolders();
    for (size_t i = 0; i < 2; ++i) {
        const std::wstring file = drivers + kFirewall.driverFiles[i];
        {
            win::FsRedirectionOff redirection;
            if (!win::FileExists(file)) continue;
            RemoveFile(file.c_str());
        }
        DeleteMachineTree((std::wstring(kServicesKey) + kFirewall.driverServices[i]).c_str());
    }
}

bool RemoveTarvoFirewall(reloUni& uni)
{
    return RemoveFirewallVariant(uni, FirewallVariant::Tarvo, kFirewall.tarvoTraces);
}

bool RemoveManagedFirewall(reloUni& uni)
{
    return RemoveFirewallVariant(uni, FirewallVariant::Managed, kFirewall.managedTraces);
}

bool RemovePersonalFirewallPlus(reloUni& uni)
{
    CLogFile log;
    OpenOperationLog(log, uni);
    const std::wstring programFiles = WithSlash(GetSpecialFolder(1));
    if (programFiles.empty()) return false;
    const std::wstring consumerFolder = programFiles + kFirewall.consumerFolder;
    Launch(consumerFolder + L"\\" + kFirewall.consumerTray, L"-shutdown", log);
    UnregisterFirewallModules(programFiles + kFirewall.managedFolder);

    win::Key api;
    if (win::OpenKey(HKEY_LOCAL_MACHINE, kFirewall.apiUninstallKey, KEY_READ, win::RegView::Native, api) ==
        ERROR_SUCCESS) {
        wchar_t uninstall[kFolderChars] = {};
        if (win::ReadStringInto(api.get(), L"UninstallString", uninstall, kFolderChars) == ERROR_SUCCESS &&
            uninstall[0] != L'\0')
            LaunchAndWait(uninstall, nullptr, log, 1, LaunchScope{SuiteFolders()});
    }
    api.reset();

    RemoveConsumerFirewallData();
    removal::RemoveKey(HKEY_LOCAL_MACHINE, kManagedUninstallKey, win::RegView::Native);

    StopFirewallService(kFirewall.consumerService);
    // Without a common-files folder the installer's path would name the drive's root.
    const std::wstring commonFiles = GetSpecialFolder(2);
    if (!commonFiles.empty())
        Launch(commonFiles + kFirewall.commonInstaller,
               L"\"" + programFiles + kFirewall.apiSetupFile + L"\" /uninstall", log);
    if (win::FolderExists(consumerFolder)) Nukedir(consumerFolder.c_str());

    RemoveHostIntrusionFirewall(log);
    RemoveIntrusionMonitorApi(commonFiles, log);

    for (const wchar_t* key : kSharedKeys) DeleteMachineTree(key);
    const std::wstring data = CommonAppData();
    if (!data.empty() && win::FolderExists(data + kIntrusionLogFolder)) Nukedir((data + kIntrusionLogFolder).c_str());
    return true;
}

void UnregisterFirewallModules(const std::wstring& folder)
{
    for (UINT id = IDS_FIREWALL_MODULES; id < IDS_FIREWALL_MODULES_END; ++id) {
        const std::wstring name = LoadLocalizedString(id);
        if (name.empty() || name == L"0") break;
        const std::wstring module = folder + L"\\" + name;
        if (win::FileExists(module)) UnregisterServerInProcess(module.c_str());
    }
}

void RestoreWindowsFirewall(reloUni& uni)
{
    const std::wstring product = GetSpecialFolder(0);
    if (product.empty()) return;
    CLogFile log;
    OpenOperationLog(log, uni);
    Launch(product + kComponentNames.agentServiceProgram, kFirewall.windowsFirewallArguments, log);
}

void RemoveLegacyFirewallKeys()
{
    for (const wchar_t* key : kFirewall.legacyTreeKeys) DeleteMachineTree(key);
    for (const wchar_t* key : kFirewall.legacyEmptyKeys) DeleteKeyIfEmpty(key);
}

void RemoveConsumerFirewallData()
{
    if (winVersion().MajorVersion() > 4) {
        const std::wstring data = CommonAppData();
        const std::wstring folder = data + L"\\" + kFirewall.legacyDataFolder;
        if (!data.empty() && win::FolderExists(folder)) Nukedir(folder.c_str());
        const std::wstring system = GetSpecialFolder(4);
        const std::wstring status = system + L"\\" + kFirewall.legacyStatusFile;
        if (!system.empty() && win::FolderExists(system) && win::FileExists(status))
            removal::RemoveFile(status, removal::Guard::Standard, removal::InUse::Fail);
        return;
    }
    const std::wstring windows = WindowsFolder();
    if (!windows.empty()) {
        for (const wchar_t* appData : {L"All Users\\Application Data\\", L"Application Data\\"}) {
            const std::wstring folder = windows + appData + kFirewall.legacyDataFolder;
            if (win::FolderExists(folder)) Nukedir(folder.c_str());
        }
    }
    wchar_t system[kFolderChars] = {};
    UINT n = GetSystemDirectoryW(system, kFolderChars);
    if (n > 0 && n < kFolderChars) RemoveFile((std::wstring(system) + L"\\" + kFirewall.legacyStatusFile).c_str());
}
