#include "Uninstall.h"

#include "Handle.h"
#include "Launch.h"
#include "Registry.h"
#include "MsiPackage.h"
#include "Removal.h"
#include "SweeperTables.h"
#include "TimeBudget.h"

namespace sweeper {

namespace {

// The view flag that reaches the 64-bit tree on a 64-bit Windows.
REGSAM View64() { return IsWow64() ? KEY_WOW64_64KEY : 0; }

void LogSystemMessage(SweeperLog& log, DWORD code)
{
    wchar_t* text = nullptr;
    DWORD n =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0x400, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    win::LocalMemory owner(text);
    // The system's texts end with a line end of their own; the log adds one.
    while (n > 0 && (text[n - 1] == L'\r' || text[n - 1] == L'\n')) text[--n] = L'\0';
    log.Write(n ? text : L"");
}

// Reads a REG_SZ value into a 260-byte buffer, as the suite's values are
// read: at most 129 characters, never cut.
LONG ReadShortString(HKEY key, const wchar_t* name, std::wstring& out)
{
    InstallFolderText buffer = {};
    LONG rc = win::ReadStringInto(key, name, buffer, kInstallFolderUnits);
    if (rc == ERROR_SUCCESS) out = buffer;
    return rc;
}

// Sweeper's own folder, where the self-protection switch ships.
std::wstring OwnFolder()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, n < MAX_PATH ? n : 0);
    const size_t cut = folder.find_last_of(L'\\');
    return cut == std::wstring::npos ? std::wstring() : folder.substr(0, cut);
}

}  // namespace

bool IsWow64()
{
    using Fn = BOOL(WINAPI*)(HANDLE, PBOOL);
    auto isWow64Process = reinterpret_cast<Fn>(GetProcAddress(GetModuleHandleW(L"kernel32"), "IsWow64Process"));
    BOOL wow = FALSE;
    return isWow64Process && isWow64Process(GetCurrentProcess(), &wow) && wow;
}

DWORD RunProcess(SweeperLog& log, const wchar_t* commandLine, DWORD waitMs)
{
    // A bare "msiexec.exe" is the system folder's; any other program is named
    // by its full path: nothing is found in the current or Sweeper's folder.
    namespace launch = win::launch;
    launch::CommandLine line;
    const launch::Judgement program = launch::Split(commandLine, line) ? launch::Judge(line.program) : launch::Judgement{};
    launch::StartOptions options;
    options.flags = DETACHED_PROCESS;
    options.show = SW_HIDE;
    win::ProcessInformation child;
    if (!launch::Start(program, commandLine, options, child)) {
        LogSystemMessage(log, GetLastError());
        log.Write(L"process launch failed!!");
        return kRunLaunchFailed;
    }
    if (win::timing::WaitForChild(child.process.get(), waitMs) == WAIT_TIMEOUT) return kRunTimedOut;
    DWORD code = 0;
    GetExitCodeProcess(child.process.get(), &code);
    if (code == ERROR_SUCCESS || code == ERROR_SUCCESS_REBOOT_REQUIRED) return 0;
    log.PrintfLong(L"process return code : %lu", code);
    LogSystemMessage(log, code);
    return code;
}

bool IsProductInstalled(const wchar_t* productCode)
{
    const bool wow = IsWow64();
    for (REGSAM view : {View64(), REGSAM{0}}) {
        HKEY raw = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ | view, &raw) != ERROR_SUCCESS) return false;
        win::Key key(raw);
        wchar_t name[256];
        for (DWORD index = 0;; ++index) {
            DWORD units = 256;
            if (RegEnumKeyExW(key.get(), index, name, &units, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            if (wcscmp(name, productCode) == 0) return true;
        }
        if (!wow) break;
    }
    return false;
}

void ReadInstallFolder(SweeperLog& log, const wchar_t* valueName, InstallFolderText& folder)
{
    HKEY raw = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kEndpointKey, 0, KEY_READ | KEY_WOW64_64KEY, &raw) != ERROR_SUCCESS) return;
    win::Key key(raw);
    InstallFolderText text = {};
    DWORD type = REG_NONE;
    LONG rc = win::ReadStringInto(key.get(), valueName, text, kInstallFolderUnits, &type);
    if (rc == ERROR_SUCCESS && type == REG_EXPAND_SZ) {
        const DWORD units = ExpandEnvironmentStringsW(text, folder, kInstallFolderUnits);
        if (units > 0 && units <= kInstallFolderUnits) return;
        rc = ERROR_MORE_DATA;
    }
    if (rc == ERROR_MORE_DATA) {
        log.Printf(L"!> %ls does not fit its buffer and is not used", valueName);
        folder[0] = L'\0';
    } else if (rc == ERROR_SUCCESS) {
        wcscpy(folder, text);
    }
}

bool Uninstaller::BuildCheck()
{
    if (isBeta_) return true;
    if (notBeta_) return false;
    HKEY raw = nullptr;
    std::wstring build, package;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCommonKey, 0, KEY_READ | View64(), &raw) != ERROR_SUCCESS) {
        isBeta_ = true;
        return true;
    }
    win::Key key(raw);
    if (ReadShortString(key.get(), L"BuildNumber", build) != ERROR_SUCCESS ||
        ReadShortString(key.get(), L"PackageNumber", package) != ERROR_SUCCESS) {
        isBeta_ = true;
        return true;
    }
    const std::wstring text = build + L"." + package;
    log_.Printf(L"EGP Build Number : %ls  ", text.c_str());
    if (!config_.dependencies.empty()) {
        for (const std::wstring& beta : config_.dependencies.front().RefCountBuildValues) {
            if (beta == text) {
                log_.Write(L"Retrieved Build Number matched with  Beta build number");
                isBeta_ = true;
                return true;
            }
        }
    }
    log_.Write(L"Not Beta build");
    notBeta_ = true;
    return false;
}

bool Uninstaller::UpdateReferenceCount(bool dependency)
{
    HKEY raw = nullptr;
    const REGSAM view = IsWow64() ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
    LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInstallerKey, 0, KEY_ALL_ACCESS | view, &raw);
    if (rc != ERROR_SUCCESS) {
        log_.Printf(L"Root key cannot be opened to read reference. GetLastError %lu dwRetVal %lu", GetLastError(),
                    static_cast<DWORD>(rc));
        log_.Write(L"Proceeding with uninstall as a special case");
        return true;
    }
    win::Key key(raw);
    DWORD count = 0;
    if (!dependency) {
        DWORD bytes = sizeof(count);
        rc = RegQueryValueExW(key.get(), L"InstallReferenceCount", nullptr, nullptr, reinterpret_cast<BYTE*>(&count),
                              &bytes);
        if (rc != ERROR_SUCCESS) {
            log_.Printf(L"Root key cannot be queried to read reference. GetLastError %lu dwRetVal %lu", GetLastError(),
                        static_cast<DWORD>(rc));
            return true;
        }
        log_.Printf(L"Reference count retrieved %lu", count);
        if (count != 1) return true;
        count = 2;
    }
    rc = RegSetValueExW(key.get(), L"InstallReferenceCount", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count),
                        sizeof(count));
    if (rc != ERROR_SUCCESS) {
        log_.Printf(L"Root key cannot be set to write reference. GetLastError %lu dwRetVal %lu", GetLastError(),
                    static_cast<DWORD>(rc));
        return false;
    }
    return true;
}

bool Uninstaller::SwitchSelfProtection(const std::wstring& platformFolder, bool enable)
{
    const wchar_t* name = enable ? L"EnableSP" : L"DisableSP";
    log_.Printf(L"%ls started", name);
    // The folder joins the library search only when it could be the suite's:
    // a configured folder that is a link, a protected folder or no full path
    // could hand the process another product's libraries.
    const win::removal::Judgement folder = win::removal::Judge(platformFolder);
    if (folder.allowed())
        SetDllDirectoryW(folder.path.c_str());
    else
        log_.Printf(L"!> Not searching a folder that is not the suite's for libraries : %ls", platformFolder.c_str());
    const wchar_t* suffix = L"x86";
    if (IsWow64()) {
        log_.Write(L">> Platform is 64-bit");
        suffix = L"x64";
    } else {
        log_.Write(L">> Platform is 32-bit");
    }
    // The switch ships beside Sweeper and starts from there alone.
    wchar_t command[2 * MAX_PATH];
    FormatInto(command, 2 * MAX_PATH, L"\"%ls\\Guardswitch_%ls.exe\" %ls", OwnFolder().c_str(), suffix,
               enable ? L"/enablesp" : L"/disablesp");
    DWORD result = RunProcess(log_, command, 600000);
    if (result == 0) {
        log_.Printf(L">> %ls succeeded", name);
        log_.Printf(L"%ls ended", name);
        return true;
    }
    log_.Printf(L">> Could not run command line to %ls SP", enable ? L"enable" : L"disable");
    log_.Printf(L"Return value : %d", static_cast<int>(result));
    log_.Printf(L"%ls ended", name);
    return false;
}

bool Uninstaller::DisableSelfProtection(const std::wstring& platformFolder)
{
    return SwitchSelfProtection(platformFolder, false);
}

bool Uninstaller::EnableSelfProtection(const std::wstring& platformFolder)
{
    return SwitchSelfProtection(platformFolder, true);
}

bool Uninstaller::UninstallEntry(size_t index, bool dependency)
{
    const UninstallerConfigurationInfo& entry = (dependency ? config_.dependencies : config_.modules)[index];
    log_.Printf(L"Removing %ls", entry.Name.c_str());
    if (!IsProductInstalled(entry.ProductCode.c_str())) {
        log_.Printf(L"%ls not installed", entry.Prefix.c_str());
        return true;
    }
    const bool beta = BuildCheck();
    if (beta) {
        log_.Write(L"Setting/Resetting Ref Count");
        if (!UpdateReferenceCount(dependency)) return false;
    } else if (entry.Name == kAgsConnectorName) {
        log_.Write(L"AGS Module is present on target. Attempting to disable EGP removal by editing MSI");
        if (EditPackage(L"0", kCommonInstallerProductCode, L"RemoveCommonInstaller", L"InstallExecuteSequence",
                        L"Condition"))
            log_.Write(L"msi modified succesfully");
        else
            log_.Write(L"msi could not be modified");
    } else {
        log_.Write(L"Using NOEGPRemove");
    }

    std::vector<CustomActionRecord> actions;
    if (!CollectCustomActions(entry.ProductCode.c_str(), actions)) return false;
    ApplyCustomActions(entry.ProductCode.c_str(), actions);

    wchar_t packageLog[SweeperLog::kFileUnits];
    log_.PackageLogName(packageLog, entry.Prefix.c_str());
    wchar_t command[520];
    FormatInto(command, 520, L"msiexec.exe /x \"%ls\" /qn /l*v \"%ls\" %ls", entry.ProductCode.c_str(), packageLog,
               beta ? L"" : L"NOEGPREMOVE=1");
    if (dependency) wcsncat(command, L" REMOVECOMMON=1", 520 - wcslen(command) - 1);
    log_.Write(command);

    log_.Write(L"Get Common Install Path");
    InstallFolderText installFolder = {};
    ReadInstallFolder(log_, IsWow64() ? L"szInstallDir64" : L"szInstallDir32", installFolder);
    const std::wstring platformFolder = installFolder + std::wstring(kPlatformFolderName);
    log_.Write(platformFolder.c_str());

    log_.Write(L"Disabling SP");
    if (!DisableSelfProtection(platformFolder)) log_.Write(L"Cannot disable SP");

    if (RunProcess(log_, command, config_.uninstallTimeoutMs) != 0) {
        log_.Write(L"Uninstallation did not work");
        return false;
    }
    log_.Write(L"Uninstallation Success");
    log_.Write(L"Enabling SP");
    if (!dependency && !EnableSelfProtection(platformFolder)) log_.Write(L"Cannot enable SP");
    return true;
}

}  // namespace sweeper
