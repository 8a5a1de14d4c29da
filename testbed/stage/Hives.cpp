// The hives of users who are not logged on: files saved from a key the stager
// builds, loaded again for the audit. Saving and loading hives needs the
// backup and restore privileges, which the stager enables for itself.
#include "Hives.h"

#include "Places.h"

#include <cwchar>

namespace stage {

namespace {

constexpr wchar_t kHiveFile[] = L"\\NTUSER.DAT";
constexpr wchar_t kPlantedValue[] = L"Owner";
constexpr wchar_t kPlantedText[] = L"Other Product, not the suite's";
// The names Uprooter loads hives under, followed by a number.
constexpr wchar_t kRemovalHivePrefix[] = L"MQLUserProfile";

std::wstring HiveFile(const UserHiveItem& hive) { return hive.profileFolder + kHiveFile; }
std::wstring Unique(const wchar_t* name) { return name + std::to_wstring(GetCurrentProcessId()); }

bool EnableHivePrivileges()
{
    win::Handle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.put())) return false;
    for (const wchar_t* name : {SE_BACKUP_NAME, SE_RESTORE_NAME}) {
        TOKEN_PRIVILEGES privileges{};
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        if (!LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid) ||
            !AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr) ||
            GetLastError() != ERROR_SUCCESS)
            return false;
    }
    return true;
}

// Under Wine a change made inside a loaded hive never reaches its file.
bool HiveChangesReachTheFile()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr;
}

bool SubkeyExists(HKEY root, const std::wstring& path)
{
    win::Key key;
    return win::OpenKey(root, path, KEY_READ, win::RegView::Native, key) == ERROR_SUCCESS;
}

bool HoldsPlanted(HKEY root, const std::wstring& path)
{
    win::Key key;
    std::wstring text;
    return win::OpenKey(root, path, KEY_READ, win::RegView::Native, key) == ERROR_SUCCESS &&
           win::ReadString(key.get(), kPlantedValue, text) == ERROR_SUCCESS && text == kPlantedText;
}

// The hive's keys built below a key of the current user's, then saved.
bool SaveHive(const UserHiveItem& hive)
{
    const std::wstring source = L"Software\\" + Unique(L"zlstage-hive-");
    bool built = true;
    for (const std::vector<std::wstring>* keys : {&hive.keys, &hive.plantedKeys})
        for (const std::wstring& path : *keys) {
            win::Key key;
            built = built &&
                    win::CreateKey(HKEY_CURRENT_USER, source + L"\\" + path, KEY_ALL_ACCESS, win::RegView::Native, key) ==
                        ERROR_SUCCESS &&
                    win::WriteString(key.get(), kPlantedValue,
                                     keys == &hive.plantedKeys ? kPlantedText : L"the older suite's") == ERROR_SUCCESS;
        }
    win::Key top;
    const std::wstring file = HiveFile(hive);
    DeleteFileW(file.c_str());  // a save does not overwrite
    built = built && win::OpenKey(HKEY_CURRENT_USER, source, KEY_READ, win::RegView::Native, top) == ERROR_SUCCESS &&
            RegSaveKeyW(top.get(), file.c_str(), nullptr) == ERROR_SUCCESS;
    top.reset();
    win::DeleteTree(HKEY_CURRENT_USER, source, win::RegView::Native);
    return built;
}

// The subkeys of HKEY_USERS that Uprooter loaded and did not unload.
std::vector<std::wstring> LeftLoaded()
{
    std::vector<std::wstring> names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD chars = 256;
        if (RegEnumKeyExW(HKEY_USERS, index, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        if (_wcsnicmp(name, kRemovalHivePrefix, wcslen(kRemovalHivePrefix)) == 0) names.push_back(name);
    }
    return names;
}

}  // namespace

void LayUserHives(const Footprint& suite, std::vector<std::wstring>& problems)
{
    if (suite.userHives.empty()) return;
    if (!EnableHivePrivileges()) {
        problems.push_back(L"cannot enable the backup and restore privileges for the users' hives");
        return;
    }
    for (const UserHiveItem& hive : suite.userHives) {
        CreateDirectoryW(hive.profileFolder.c_str(), nullptr);
        if (!SaveHive(hive)) problems.push_back(L"cannot lay the hive " + HiveFile(hive));
    }
}

void AuditUserHives(const Footprint& suite, Audit& audit)
{
    if (suite.userHives.empty()) return;
    for (const std::wstring& name : LeftLoaded()) audit.stillPresent.push_back(L"HKU\\" + name + L" is still loaded");
    EnableHivePrivileges();
    const std::wstring check = Unique(L"zlstage-audit-");
    for (const UserHiveItem& hive : suite.userHives) {
        const std::wstring file = HiveFile(hive);
        if (RegLoadKeyW(HKEY_USERS, check.c_str(), file.c_str()) != ERROR_SUCCESS) {
            RegDeleteKeyW(HKEY_USERS, check.c_str());  // Wine may leave an empty key for a failed load
            audit.plantedMissing.push_back(file + L" does not load");
            continue;
        }
        // Under Wine the file keeps what was deleted inside the loaded hive:
        // only another product's keys can be checked there.
        if (HiveChangesReachTheFile())
            for (const std::wstring& key : hive.keys)
                if (SubkeyExists(HKEY_USERS, check + L"\\" + key)) audit.stillPresent.push_back(file + L":\\" + key);
        for (const std::wstring& key : hive.plantedKeys)
            if (!HoldsPlanted(HKEY_USERS, check + L"\\" + key)) audit.plantedMissing.push_back(file + L":\\" + key);
        RegUnLoadKeyW(HKEY_USERS, check.c_str());
    }
}

void UndoUserHives(const Footprint& suite)
{
    if (suite.userHives.empty()) return;
    EnableHivePrivileges();
    // A hive left loaded stays so for the whole session and blocks the next load.
    for (const std::wstring& name : LeftLoaded()) RegUnLoadKeyW(HKEY_USERS, name.c_str());
    for (const UserHiveItem& hive : suite.userHives) {
        DeleteFileW(HiveFile(hive).c_str());
        RemoveDirectoryW(hive.profileFolder.c_str());
    }
}

}  // namespace stage
