#include "PlatformInfo.h"

#include "Handle.h"
#include "Log.h"
#include "Registry.h"

#include <cstdio>
#include <vector>

namespace {

constexpr wchar_t kDefaultAgentVersion[] = L"10.0.0";
constexpr wchar_t kManagedServicesKey[] = L"SOFTWARE\\Zelmar\\ManagedServices";
constexpr wchar_t kAgentProgram[] = L"\\Agent\\tvAgtSvc.exe";

bool QueryFileVersion(std::vector<BYTE>& block, const wchar_t* subBlock, std::wstring& version)
{
    void* value = nullptr;
    UINT chars = 0;
    if (!VerQueryValueW(block.data(), subBlock, &value, &chars) || value == nullptr) return false;
    std::wstring text(static_cast<const wchar_t*>(value), wcsnlen(static_cast<const wchar_t*>(value), chars));
    if (text.size() > kPathChars - 1) text.resize(kPathChars - 1);
    version = text;
    return true;
}

struct OsNameRow {
    DWORD major;
    int minor;        // -1: any
    int productType;  // -1: any
    const wchar_t* name;
    int id;
};

// NT-family names, first match wins; 6.x other than a 6.1 workstation is "Windows Vista".
constexpr OsNameRow kOsNames[] = {
    {3, -1, -1, L"Windows NT 3.51", 2},  {4, -1, -1, L"Windows NT 4.0", 3},
    {5, 0, -1, L"Windows 2000", 4},      {5, 1, -1, L"Windows XP", 5},
    {5, 2, -1, L"Windows 2003 Family", 6}, {6, 1, VER_NT_WORKSTATION, L"Windows 7", 8},
    {6, -1, -1, L"Windows Vista", 7},
};

}  // namespace

winVersion::winVersion()
{
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) return;
    versionText_ = std::to_wstring(info.dwMajorVersion) + L"." + std::to_wstring(info.dwMinorVersion);
    if (info.dwPlatformId != VER_PLATFORM_WIN32_NT) return;
    nt_ = true;
    majorVersion_ = static_cast<int>(info.dwMajorVersion);
    for (const OsNameRow& entry : kOsNames) {
        if (entry.major != info.dwMajorVersion) continue;
        if (entry.minor >= 0 && static_cast<DWORD>(entry.minor) != info.dwMinorVersion) continue;
        if (entry.productType >= 0 && entry.productType != info.wProductType) continue;
        osName_ = entry.name;
        osId_ = entry.id;
        return;
    }
}

const OSVERSIONINFOEXW& GetPlatformVersion()
{
    static const OSVERSIONINFOEXW record = [] {
        OSVERSIONINFOEXW info{};
        info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXW);
        if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) {
            info = OSVERSIONINFOEXW{};
            info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
            GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info));
        }
        return info;
    }();
    return record;
}

bool IsWow64()
{
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    auto isWow64Process =
        reinterpret_cast<IsWow64ProcessFn>(GetProcAddress(GetModuleHandleA("kernel32"), "IsWow64Process"));
    if (isWow64Process == nullptr) {
        AGS_LOG(LogUtils::Debug, L"IsWow64Process API isn't defined in kernel32.");
        return false;
    }
    BOOL wow64 = FALSE;
    if (!isWow64Process(GetCurrentProcess(), &wow64)) {
        AGS_LOG(LogUtils::Warning, L"IsWow64Process failed with %d error", static_cast<int>(GetLastError()));
        return false;
    }
    return wow64 != FALSE;
}

bool GetFileVersionString(const std::wstring& file, std::wstring& version)
{
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (size == 0) return false;
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoW(file.c_str(), 0, size, block.data())) return false;

    struct Translation {
        WORD language;
        WORD codePage;
    };
    Translation* translations = nullptr;
    UINT bytes = 0;
    bool found = false;
    if (VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations),
                       &bytes) &&
        bytes >= sizeof(Translation)) {
        wchar_t subBlock[64];
        _snwprintf(subBlock, 63, L"\\StringFileInfo\\%04x%04x\\FileVersion", translations[0].language,
                   translations[0].codePage);
        subBlock[63] = L'\0';
        found = QueryFileVersion(block, subBlock, version);
    }
    if (!found) found = QueryFileVersion(block, L"\\StringFileInfo\\040904b0\\FileVersion", version);
    return found && !version.empty();
}

std::wstring GetAgentVersion()
{
    std::wstring version = kDefaultAgentVersion;
    win::Key key;
    if (win::OpenKey(HKEY_LOCAL_MACHINE, kManagedServicesKey, KEY_READ, win::RegView::Native, key) != ERROR_SUCCESS)
        return version;
    std::wstring folder;
    if (win::ReadString(key.get(), L"szInstallDir", folder) != ERROR_SUCCESS || folder.size() > kPathChars - 1)
        return version;
    // A found but empty FileVersion empties the text, which then counts as the older suite.
    GetFileVersionString(folder + kAgentProgram, version);
    return version;
}
