#include "NetwardenCleanup.h"

#include "FileName.h"
#include "LaunchAndWait.h"
#include "LogFile.h"
#include "PlatformInfo.h"
#include "Removal.h"
#include "SuiteFolders.h"
#include "Unregister.h"

namespace {

namespace removal = win::removal;

constexpr wchar_t kUninstallValue[] = L"UninstallString";

bool IsFile(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void DeleteMachineTree(const wchar_t* path)
{
    removal::RemoveKeyTree(HKEY_LOCAL_MACHINE, path, win::RegView::Native);
}

// The key that names the uninstaller: the component key, else the uninstall
// entry. Logs why neither opened; false then.
bool OpenUninstallerKey(CLogFile& log, win::Key& key)
{
    LONG rc = win::OpenKey(HKEY_LOCAL_MACHINE, kNetwardenNames.componentKey, KEY_READ, win::RegView::Native, key);
    if (rc == ERROR_SUCCESS) return true;
    log.Log(L"netwardenCleanup::removeNW(void) - Could not find BrowseProtection key at %s, Retval = %d",
            kNetwardenNames.componentKey, static_cast<int>(rc));
    log.Log(L"checking Windows\\CurrentVersion\\Uninstall ");
    rc = win::OpenKey(HKEY_LOCAL_MACHINE, kNetwardenNames.uninstallKey, KEY_READ, win::RegView::Native, key);
    if (rc == ERROR_SUCCESS) return true;
    log.Log(L"netwardenCleanup::removeNW(void) - Could not find uninstall string in "
            L"Windows\\CurrentVersion\\Uninstall, Retval = %d",
            static_cast<int>(rc));
    return false;
}

}  // namespace

bool NetwardenRegistered()
{
    win::Key key;
    return win::OpenKey(HKEY_LOCAL_MACHINE, kNetwardenNames.uninstallKey, KEY_READ, win::RegView::Native, key) ==
           ERROR_SUCCESS;
}

netwardenCleanup::netwardenCleanup(CLogFile& log, bool installed) : log_(log), installed_(installed) {}

bool netwardenCleanup::removeNW()
{
    log_.Log(L"Removing NW...");
    if (!installed_) {
        log_.Log(L"netwardenCleanup::removeNW(void) - Net warden not installed");
        return false;
    }
    win::Key key;
    if (!OpenUninstallerKey(log_, key)) return false;

    wchar_t command[kPathChars] = {};
    const LONG rc = win::ReadStringInto(key.get(), kUninstallValue, command, kPathChars);
    if (rc != ERROR_SUCCESS) {
        log_.Log(L"netwardenCleanup::removeNW(void) - Query string value failed!! %d", static_cast<int>(rc));
        return false;
    }

    CLogFile launchLog;
    launchLog = log_.Path();
    launchLog.Open();
    log_.Log(L"Launching %s", command);
    // The stored command carries its own arguments and quoting; its program
    // starts only from the suite's folders.
    const bool launched = LaunchAndWait(command, nullptr, launchLog, 0, LaunchScope{SuiteFolders()});
    RemoveNetwardenLeftovers(*this);
    return launched;
}

bool RemoveNetwardenLeftovers(netwardenCleanup& cleanup)
{
    CLogFile& log = cleanup.Log();
    const std::wstring programFiles = GetSpecialFolder(1);
    const std::wstring enterprise = programFiles + kNetwardenNames.enterpriseFolder;
    log.Log(L"Got core install dir as %s", enterprise.c_str());
    const std::wstring folder = programFiles + kNetwardenNames.componentFolder;
    log.Log(L"Got AGS-NW install dir as %s", folder.c_str());

    // Without the program-files folder the path would name a folder of the
    // current drive's root, which is not the component's.
    const bool existed = !programFiles.empty() && FileName(folder.c_str()).IsDirectory();
    if (existed) {
        log.Log(L"Ok... %s is existing...", folder.c_str());
        const std::wstring module = folder + L"\\" + kNetwardenNames.subsystemModule;
        if (IsFile(module)) {
            UnregisterServerInProcess(module.c_str());
            log.Log(L"Ok... unregisterd %s...", module.c_str());
        }
        DeleteMachineTree(kNetwardenNames.componentKey);
    }
    for (const wchar_t* key : kNetwardenNames.leftoverKeys) DeleteMachineTree(key);
    return existed;
}

LONG RemoveCoreKey(const wchar_t* key, CLogFile& log, HKEY root, win::RegView view)
{
    const wchar_t* path = key ? key : L"";
    log.Log(L"Trying to remove core NW specific reg key %s...", path);
    // An empty path would name the root itself: the removal layer refuses it.
    const LONG rc = static_cast<LONG>(win::removal::RemoveKeyTree(root, path, view).error);
    if (rc == ERROR_SUCCESS) log.Log(L"Successfully removed %s...", path);
    return rc;
}
