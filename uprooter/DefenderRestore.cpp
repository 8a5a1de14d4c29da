#include "DefenderRestore.h"

#include "Handle.h"
#include "Launch.h"
#include "LogFile.h"
#include "PlatformInfo.h"
#include "Registry.h"

#include <shlobj.h>

namespace {

constexpr wchar_t kRecordKey[] = L"SOFTWARE\\Zelmar\\ManagedServices\\Quellor";
constexpr wchar_t kRecordValue[] = L"PrevWDStatus";
// The installed component that holds the library on Windows XP and Server 2003.
constexpr wchar_t kXpComponentKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components\\"
    L"2C0AE3FC5E402AD4F830763481A3E961";
constexpr wchar_t kXpComponentValue[] = L"4F57260AB42358E4596E782BDC274910";
constexpr wchar_t kDefenderBelowProgramFiles[] = L"\\Windows Defender";
constexpr wchar_t kLibraryBelowProgramFiles[] = L"\\Windows Defender\\MpClient.dll";
constexpr size_t kLibraryPathChars = 520;
constexpr LONG kEnabled = 1;

using StatusFn = HRESULT(WINAPI*)(LONG*);
using EnableFn = HRESULT(WINAPI*)(LONG);

// A string value of at most 520 characters; false for any other type or size.
bool ReadComponentPath(std::wstring& path)
{
    win::Key key;
    if (win::OpenKey(HKEY_LOCAL_MACHINE, kXpComponentKey, KEY_QUERY_VALUE, win::RegView::Native, key) != ERROR_SUCCESS)
        return false;
    wchar_t buffer[kLibraryPathChars + 1] = {};
    DWORD bytes = kLibraryPathChars * sizeof(wchar_t);
    DWORD type = REG_NONE;
    if (RegQueryValueExW(key.get(), kXpComponentValue, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    path = buffer;
    return true;
}

// A Windows 8 workstation keeps Defender as it is; a server goes on.
bool IsWindows8Workstation()
{
    const OSVERSIONINFOEXW& version = GetPlatformVersion();
    if (version.dwMajorVersion != 6 || version.dwMinorVersion != 2 ||
        version.dwOSVersionInfoSize != sizeof(OSVERSIONINFOEXW))
        return false;
    const int type = version.wProductType;
    if (type != VER_NT_DOMAIN_CONTROLLER && type != VER_NT_SERVER) {
        RunLog().Log(L"This is a Windows 8 client OS %d %ld %ld...", type, static_cast<long>(version.dwMajorVersion),
                     static_cast<long>(version.dwMinorVersion));
        RunLog().Log(L"Did not set Windows Defender state because this is Windows 8");
        return true;
    }
    RunLog().Log(L"This is a server OS %d %ld %ld...", type, static_cast<long>(version.dwMajorVersion),
                 static_cast<long>(version.dwMinorVersion));
    return false;
}

}  // namespace

bool FindDefenderLibrary(std::wstring& path)
{
    const OSVERSIONINFOEXW& version = GetPlatformVersion();
    if (version.dwMajorVersion == 5 && (version.dwMinorVersion == 1 || version.dwMinorVersion == 2)) {
        RunLog().Log(L"Detected WinXP or Win2K3Server...Trying to see if Windows Defender installed...");
        return ReadComponentPath(path);
    }
    if (version.dwMajorVersion == 5 || version.dwMajorVersion == 6) {
        RunLog().Log(L"Detected Vista...");
        wchar_t programFiles[MAX_PATH] = {};
        if (SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, programFiles) != S_OK)
            return false;
        path = std::wstring(programFiles) + kLibraryBelowProgramFiles;
        if (path.size() > kLibraryPathChars) path.resize(kLibraryPathChars);
        return true;
    }
    RunLog().Log(L"Detected Windows Defender unsupported operating system...");
    return false;
}

bool EnableDefender(LONG& state)
{
    std::wstring path;
    if (!FindDefenderLibrary(path)) {
        RunLog().Log(L"Windows Defender not installed...");
        return false;
    }
    RunLog().Log(L"Loading Windows Defender library %s ", path.c_str());
    // Only Windows Defender's own library: whatever else a registry value names stays unloaded.
    wchar_t programFiles[MAX_PATH] = {};
    std::vector<std::wstring> folders;
    if (SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, programFiles) == S_OK)
        folders.push_back(std::wstring(programFiles) + kDefenderBelowProgramFiles);
    const win::launch::Judgement judged = win::launch::Judge(path, folders);
    if (folders.empty() || (!judged.allowed() && judged.verdict != win::launch::Verdict::Missing)) {
        RunLog().Log(L"Refusing to load %s: %s", path.c_str(),
                     folders.empty() ? L"no Program Files folder" : win::launch::Reason(judged.verdict));
        return false;
    }
    win::Module library(win::launch::Load(judged));
    if (!library) {
        RunLog().Log(L"Windows Defender not installed...");
        return false;
    }
    RunLog().Log(L"Windows Defender found on this system...");
    if (IsWindows8Workstation()) return false;

    auto status = reinterpret_cast<StatusFn>(GetProcAddress(library.get(), "WDStatus"));
    auto enable = reinterpret_cast<EnableFn>(GetProcAddress(library.get(), "WDEnable"));
    if (!status || !enable) {
        RunLog().Log(L"Looks like WD install corrupted!...");
        return false;
    }
    RunLog().Log(L"Getting WD current status ...");
    if (FAILED(status(&state))) {
        RunLog().Log(L"Failed to get WD status ...GetLastError = %ld", static_cast<long>(GetLastError()));
        return false;
    }
    RunLog().Log(L"Got current WD status as %d...", static_cast<int>(state));
    if (state != kEnabled) {
        RunLog().Log(L"Setting WD status to %d...", static_cast<int>(kEnabled));
        if (FAILED(enable(kEnabled))) {
            RunLog().Log(L"Failed to set WD status to %d...GetLastError = %ld", static_cast<int>(kEnabled),
                         static_cast<long>(GetLastError()));
            return false;
        }
        RunLog().Log(L"Completed setting WD status to %d...", static_cast<int>(kEnabled));
    }
    return true;
}

void RestoreDefenderState()
{
    RunLog().Log(L"Restoring previous Windows Defender Status...");
    LONG recorded = -1;
    win::Key key;
    if (win::OpenKey(HKEY_LOCAL_MACHINE, kRecordKey, KEY_READ, win::RegView::Native, key) == ERROR_SUCCESS) {
        DWORD value = 0;
        if (win::ReadDword(key.get(), kRecordValue, value) == ERROR_SUCCESS) recorded = static_cast<LONG>(value);
    }
    RunLog().Log(L"Got Previous WDStatus as %ld", static_cast<long>(recorded));
    if (recorded != kEnabled) return;
    RunLog().Log(L"Restoring the previous windows defender status %d", static_cast<int>(kEnabled));
    LONG state = recorded;
    if (EnableDefender(state))
        RunLog().Log(L"Restored the previous windows defender status %d", static_cast<int>(recorded));
}
