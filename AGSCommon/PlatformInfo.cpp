#include "PlatformInfo.h"

#include "FolderValue.h"
#include "Handle.h"
#include "Log.h"
#include "MUIHelper.h"
#include "ProcessFlags.h"
#include "Registry.h"
#include "SuiteKeys.h"

#include <shlobj.h>

#include <cstdio>
#include <vector>

RestartRequest g_RestartRequest = ExitWindowsEx;

namespace {

constexpr wchar_t kDefaultAgentVersion[] = L"10.0.0";
constexpr wchar_t kAgentProgram[] = L"\\Agent\\tvAgtSvc.exe";
constexpr wchar_t kAgentLanguageExport[] = L"TarvoAgt_l.Reg";
constexpr wchar_t kCurrentVersionKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
constexpr wchar_t kZuzadaZoziKey[] = L"SOFTWARE\\Zelmar\\ZuzadaZozi";
constexpr wchar_t kProductFolder[] = L"Zelmar\\Managed Quellor";
constexpr wchar_t kSystemCoreFolder[] = L"\\Zelmar\\AGSSYSCORE";
constexpr size_t kSystemFolderChars = 520;
constexpr LANGID kUsEnglish = 1033;
constexpr DWORD kLanguageExportRead = 9998;  // of a 10000-byte buffer
constexpr size_t kLanguageValueOffset = 16;  // "XmlLanguageID"="heb": from the name to the value
constexpr size_t kLanguageValueChars = 3;

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

bool IsNtFamily() { return GetPlatformVersion().dwPlatformId == VER_PLATFORM_WIN32_NT; }

// A folder of "SOFTWARE\\Microsoft\\Windows\\CurrentVersion"; empty if unreadable.
std::wstring CurrentVersionFolder(const wchar_t* name)
{
    std::wstring folder;
    ReadFolderValue(HKEY_LOCAL_MACHINE, kCurrentVersionKey, name, kPathChars, win::RegView::Native, folder);
    return folder;
}

// The shell's folder; false if the shell cannot answer.
bool ShellFolder(int csidl, std::wstring& folder)
{
    wchar_t path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return false;
    folder = path;
    return true;
}

std::wstring ShellOrRegistryFolder(int csidl, const wchar_t* registryName)
{
    std::wstring folder;
    return ShellFolder(csidl, folder) ? folder : CurrentVersionFolder(registryName);
}

std::wstring ProductFolder()
{
    std::wstring folder;
    if (!ShellFolder(CSIDL_PROGRAM_FILES, folder)) return {};
    if (folder.empty()) {
        // Without a program-files folder at all, "\\Zelmar\\..." would name the root of the current drive.
        folder = CurrentVersionFolder(L"ProgramFilesDir");
        return folder.empty() ? std::wstring() : folder + L"\\" + kProductFolder;
    }
    if (folder.back() != L'\\') folder += L'\\';
    return folder + kProductFolder;
}

std::wstring SystemFolder()
{
    wchar_t path[kSystemFolderChars] = {};
    UINT length = GetSystemDirectoryW(path, kSystemFolderChars);
    return length > 0 && length < kSystemFolderChars ? std::wstring(path, length) : std::wstring();
}

std::wstring SystemWindowsFolder()
{
    wchar_t path[kPathChars] = {};
    UINT length = GetSystemWindowsDirectoryW(path, kPathChars);
    return length > 0 && length < kPathChars ? std::wstring(path, length) : std::wstring();
}

// The string block that holds identifier, in exactly that language.
const WORD* FindStringBlock(HMODULE module, UINT identifier, LANGID language, DWORD& words)
{
    HRSRC info = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(identifier / 16 + 1), language);
    if (info == nullptr) return nullptr;
    HGLOBAL loaded = LoadResource(module, info);
    if (loaded == nullptr) return nullptr;
    words = SizeofResource(module, info) / sizeof(WORD);
    return static_cast<const WORD*>(LockResource(loaded));
}

// Entry index of a block of 16 length-prefixed strings; a block cut short gives nothing.
std::wstring StringFromBlock(const WORD* block, DWORD words, UINT index)
{
    DWORD at = 0;
    for (UINT i = 0; i < index && at < words; ++i) at += 1 + block[at];
    if (at >= words || at + 1 + block[at] > words) return {};
    return std::wstring(reinterpret_cast<const wchar_t*>(block + at + 1), block[at]);
}

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
    std::wstring version;
    ReadAgentVersion(version);
    return version;
}

bool ReadAgentVersion(std::wstring& version)
{
    version = kDefaultAgentVersion;
    win::Key key;
    if (win::OpenKey(HKEY_LOCAL_MACHINE, kManagedServicesKey, KEY_READ, win::RegView::Native, key) != ERROR_SUCCESS)
        return false;
    std::wstring folder;
    if (ReadFolderValue(key.get(), L"szInstallDir", kPathChars, folder) != ERROR_SUCCESS) return false;
    // A found but empty FileVersion empties the text, which then counts as the older suite.
    return GetFileVersionString(folder + kAgentProgram, version) || version.empty();
}

std::wstring GetSpecialFolder(int number)
{
    switch (number) {
    case 0: return ProductFolder();
    case 1: return ShellOrRegistryFolder(CSIDL_PROGRAM_FILES, L"ProgramFilesDir");
    case 2: return ShellOrRegistryFolder(CSIDL_PROGRAM_FILES_COMMON, L"CommonFilesDir");
    case 3: return SystemWindowsFolder();
    case 4: return SystemFolder();
    case 5: {
        std::wstring system = SystemFolder();
        return system.empty() ? system : system + L"\\Drivers";
    }
    default: return {};
    }
}

bool GetZuzadaZoziFolder(std::wstring& path)
{
    return ReadFolderValue(HKEY_LOCAL_MACHINE, kZuzadaZoziKey, IsWow64() ? L"szInstallDir64" : L"szInstallDir32",
                           kPathChars, win::RegView::Native, path) == ERROR_SUCCESS;
}

bool GetZuzadaZoziFolderFromCommonFiles(std::wstring& path)
{
    std::wstring common;
    if (ReadFolderValue(HKEY_LOCAL_MACHINE, kCurrentVersionKey, L"CommonFilesDir", kPathChars, win::RegView::Native,
                        common) != ERROR_SUCCESS)
        return false;
    path = common + kSystemCoreFolder;
    return true;
}

bool HasAdminRights()
{
    if (!IsNtFamily()) return true;
    win::ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    return static_cast<bool>(manager);
}

int RestartComputer()
{
    if (!IsNtFamily()) return g_RestartRequest(EWX_REBOOT, 0);
    HANDLE raw = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw)) {
        win::Handle token(raw);
        TOKEN_PRIVILEGES privileges{};
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        if (LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid)) {
            // Success with ERROR_NOT_ALL_ASSIGNED means the privilege is not held.
            AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
            if (GetLastError() == ERROR_SUCCESS) g_RestartRequest(EWX_REBOOT | EWX_FORCE, 0);
        }
    }
    return 0;
}

std::wstring LoadLocalizedString(UINT identifier, HMODULE module)
{
    if (module == nullptr) module = GetModuleHandleW(nullptr);
    LangUtils::CMUIHelper helper;
    DWORD words = 0;
    const WORD* block = nullptr;
    DWORD configured = 0;
    if (helper.ReadConfiguredLanguage(configured))
        block = FindStringBlock(module, identifier, static_cast<LANGID>(configured), words);
    if (block == nullptr) {
        LANGID user = GetUserDefaultUILanguage();
        block = FindStringBlock(module, identifier, user, words);
        if (block == nullptr && helper.MapToSupportedLanguage(user))
            block = FindStringBlock(module, identifier, user, words);
    }
    if (block == nullptr) block = FindStringBlock(module, identifier, kUsEnglish, words);
    return block == nullptr ? std::wstring() : StringFromBlock(block, words, identifier % 16);
}

bool IsRTLSupportRequired(std::wstring& language, const RunLogLine& log)
{
    log(L"Calling IsRTLSupportRequired()");
    win::Handle file(CreateFileW(kAgentLanguageExport, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        log(L"Could not open TarvoAgt_l.Reg");
        return false;
    }
    std::vector<wchar_t> buffer(kLanguageExportRead / sizeof(wchar_t) + 1, L'\0');
    DWORD read = 0;
    if (!ReadFile(file.get(), buffer.data(), kLanguageExportRead, &read, nullptr) || read == 0) {
        log(L"Could not read TarvoAgt_l.Reg");
        return false;
    }
    const size_t chars = read / sizeof(wchar_t);
    const std::wstring text(buffer.data(), wcsnlen(buffer.data(), chars));
    bool required = false;
    // Only what was read counts: a name at the very end has no value after it.
    const size_t name = text.find(L"XmlLanguageID");
    if (name != std::wstring::npos && name + kLanguageValueOffset + kLanguageValueChars <= text.size()) {
        const std::wstring value = text.substr(name + kLanguageValueOffset, kLanguageValueChars);
        if (_wcsicmp(value.c_str(), L"heb") == 0) {
            language = value;
            required = true;
        }
    }
    file.reset();
    log(L"Call End IsRTLSupportRequired()");
    return required;
}

void SetRtlLanguage(const RunLogLine& log)
{
    std::wstring language;
    if (!IsRTLSupportRequired(language, log)) return;
    g_RightToLeft = 1;
    win::Key key;
    if (win::CreateKey(HKEY_LOCAL_MACHINE, kAgentKey, KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE,
                       win::RegView::Native, key) == ERROR_SUCCESS)
        win::WriteString(key.get(), L"XmlLanguageID", language);
}
