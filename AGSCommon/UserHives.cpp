#include "UserHives.h"

#include "Log.h"
#include "PlatformInfo.h"
#include "Registry.h"
#include "Removal.h"

#include <userenv.h>

#include <cwchar>
#include <utility>

namespace {

constexpr wchar_t kProfileList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr wchar_t kProfileImagePath[] = L"ProfileImagePath";
constexpr wchar_t kHiveNameFormat[] = L"MQLUserProfile%d";
constexpr wchar_t kHiveFile[] = L"\\NTUSER.DAT";
constexpr wchar_t kMakerKey[] = L"\\SOFTWARE\\Zelmar";
// Accounts whose hives are the system's own: never loaded.
constexpr const wchar_t* kServiceSids[] = {L"S-1-5-18", L"S-1-5-19", L"S-1-5-20"};

BeforeHiveUnload g_beforeUnload = nullptr;

bool IsServiceSid(const wchar_t* name)
{
    for (const wchar_t* sid : kServiceSids)
        if (_wcsicmp(name, sid) == 0) return true;
    return false;
}

// Sets one privilege of the token. True only if the adjustment reported no
// error at all: a privilege the token lacks leaves ERROR_NOT_ALL_ASSIGNED.
bool SetPrivilege(HANDLE token, const wchar_t* name, DWORD attributes)
{
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = attributes;
    if (!LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid)) return false;
    AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    return GetLastError() == ERROR_SUCCESS;
}

// The profile folder of one profile-list entry, expanded when stored as
// REG_EXPAND_SZ. Empty when it cannot be read or does not fit the buffer.
std::wstring ProfileFolder(HKEY profiles, const wchar_t* sid)
{
    win::Key profile;
    if (win::OpenKey(profiles, sid, KEY_READ, win::RegView::Native, profile) != ERROR_SUCCESS) return {};
    wchar_t stored[kUserHiveChars] = {};
    DWORD type = REG_NONE;
    if (win::ReadStringInto(profile.get(), kProfileImagePath, stored, kUserHiveChars, &type) != ERROR_SUCCESS)
        return {};
    if (type != REG_EXPAND_SZ) return stored;
    wchar_t expanded[kUserHiveChars] = {};
    const DWORD needed = ExpandEnvironmentStringsW(stored, expanded, kUserHiveChars);
    // A cut path would name another file.
    if (needed == 0 || needed > kUserHiveChars) return {};
    return expanded;
}

// Removes the key below one user's maker key, then the maker key if no key
// is left in it.
void DeleteKeyForUser(const wchar_t* user, const wchar_t* key, win::RegView view)
{
    const std::wstring makerPath = std::wstring(user) + kMakerKey;
    // A user may have made the key a registry link: it is opened itself, never
    // followed, so that nothing below the key it leads to goes.
    HKEY raw = nullptr;
    if (RegOpenKeyExW(HKEY_USERS, makerPath.c_str(), REG_OPTION_OPEN_LINK, KEY_ALL_ACCESS | view, &raw) !=
        ERROR_SUCCESS)
        return;
    win::Key maker(raw);
    // Keys opened below a link would still reach its target: the link goes itself.
    DWORD type = REG_NONE;
    if (RegQueryValueExW(maker.get(), L"SymbolicLinkValue", nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS &&
        type == REG_LINK) {
        maker.reset();
        win::removal::RemoveKeyTree(HKEY_USERS, makerPath, view);
        return;
    }
    win::removal::RemoveKeyTree(maker.get(), key, view);
    wchar_t name[kUserHiveChars] = {};
    DWORD chars = kUserHiveChars;
    if (RegEnumKeyExW(maker.get(), 0, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_NO_MORE_ITEMS)
        return;
    // The hive cannot be unloaded while a key inside it is open.
    maker.reset();
    win::removal::RemoveKeyTree(HKEY_USERS, makerPath, view);
}

void DeleteKeyForEveryUser(const wchar_t* key)
{
    const win::RegView view = IsWow64() ? win::RegView::Bit64 : win::RegView::Native;
    DWORD users = 0;
    if (RegQueryInfoKeyW(HKEY_USERS, nullptr, nullptr, nullptr, &users, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS)
        return;
    for (DWORD index = 0; index < users; ++index) {
        wchar_t user[kUserHiveChars] = {};
        DWORD chars = kUserHiveChars;
        if (RegEnumKeyExW(HKEY_USERS, index, user, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            continue;
        DeleteKeyForUser(user, key, view);
    }
}

// The hives loaded for the call and their removal again, whatever happens in between.
class LoadedHives {
public:
    LoadedHives() { LoadUserHives(names_); }
    ~LoadedHives()
    {
        if (g_beforeUnload) g_beforeUnload(names_);
        for (const std::wstring& name : names_) {
            // A hive left loaded stays in use until the restart: say which.
            const LONG rc = RegUnLoadKeyW(HKEY_USERS, name.c_str());
            if (rc != ERROR_SUCCESS)
                AGS_LOG(LogUtils::Warning, L"DeleteKeyFromAllUsers - Could not unload HKEY_USERS\\%s, error %ld",
                        name.c_str(), static_cast<long>(rc));
        }
    }
    LoadedHives(const LoadedHives&) = delete;
    LoadedHives& operator=(const LoadedHives&) = delete;

private:
    std::vector<std::wstring> names_;
};

}  // namespace

BeforeHiveUnload SetBeforeHiveUnload(BeforeHiveUnload hook) { return std::exchange(g_beforeUnload, hook); }

bool LoadUserHives(std::vector<std::wstring>& loaded)
{
    win::Key profiles;
    if (win::OpenKey(HKEY_LOCAL_MACHINE, kProfileList, KEY_ENUMERATE_SUB_KEYS, win::RegView::Native, profiles) !=
        ERROR_SUCCESS)
        return false;
    bool any = false;
    for (DWORD index = 0;; ++index) {
        wchar_t sid[kUserHiveChars] = {};
        DWORD chars = kUserHiveChars;
        const LONG rc = RegEnumKeyExW(profiles.get(), index, sid, &chars, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS || IsServiceSid(sid)) continue;
        const std::wstring folder = ProfileFolder(profiles.get(), sid);
        if (folder.empty()) continue;
        wchar_t name[kUserHiveChars] = {};
        _snwprintf(name, kUserHiveChars - 1, kHiveNameFormat, static_cast<int>(index));
        const std::wstring file = folder + kHiveFile;
        // A run ended while it held the hive loaded left it under this name:
        // taken over and unloaded, so that it loads afresh and goes again.
        RegUnLoadKeyW(HKEY_USERS, name);
        if (RegLoadKeyW(HKEY_USERS, name, file.c_str()) != ERROR_SUCCESS) continue;
        loaded.push_back(name);
        any = true;
    }
    return any;
}

void DeleteKeyFromAllUsers(const wchar_t* key)
{
    if (key == nullptr || key[0] == L'\0') return;
    win::Handle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.put())) return;
    if (!SetPrivilege(token.get(), SE_BACKUP_NAME, SE_PRIVILEGE_ENABLED)) return;
    const bool restore = SetPrivilege(token.get(), SE_RESTORE_NAME, SE_PRIVILEGE_ENABLED);
    if (restore) {
        LoadedHives hives;
        DeleteKeyForEveryUser(key);
    }
    SetPrivilege(token.get(), SE_BACKUP_NAME, 0);
    if (restore) SetPrivilege(token.get(), SE_RESTORE_NAME, 0);
}

void GetProfilesFolder(const wchar_t* selector, wchar_t* buffer)
{
    using Query = BOOL(WINAPI*)(LPWSTR, LPDWORD);
    static const struct {
        const wchar_t* selector;
        Query query;
    } kFolders[] = {
        {L"ROOT", GetProfilesDirectoryW},
        {L"ALLUSERS", GetAllUsersProfileDirectoryW},
        {L"DEFAULTUSER", GetDefaultUserProfileDirectoryW},
    };
    buffer[0] = L'\0';
    if (selector == nullptr) return;
    for (const auto& folder : kFolders) {
        if (wcscmp(selector, folder.selector) != 0) continue;
        DWORD chars = kUserHiveChars;
        // A failed query may leave part of a path behind.
        if (!folder.query(buffer, &chars)) buffer[0] = L'\0';
        return;
    }
}
