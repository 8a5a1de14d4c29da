// The protected-folder table (docs/removal.md): folders a removal never takes,
// nor any folder above them. Made once per process and again when an account
// comes or goes, so that judging a path costs no more than comparing texts.
#include "RemovalPaths.h"

#include <shlobj.h>
#include <userenv.h>

#include <algorithm>

namespace win::removal {

namespace {

// Shell folders of the machine and of the current user.
constexpr int kShellFolders[] = {
    CSIDL_WINDOWS,          CSIDL_SYSTEM,           CSIDL_SYSTEMX86,           CSIDL_PROGRAM_FILES,
    CSIDL_PROGRAM_FILESX86, CSIDL_PROGRAM_FILES_COMMON, CSIDL_PROGRAM_FILES_COMMONX86, CSIDL_COMMON_APPDATA,
    CSIDL_PROFILE,          CSIDL_PROGRAMS,         CSIDL_COMMON_PROGRAMS,     CSIDL_STARTMENU,
    CSIDL_COMMON_STARTMENU, CSIDL_STARTUP,          CSIDL_COMMON_STARTUP,      CSIDL_DESKTOPDIRECTORY,
    CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_PERSONAL,  CSIDL_COMMON_DOCUMENTS,    CSIDL_APPDATA,
    CSIDL_LOCAL_APPDATA,
};

// A 32-bit program is told the x86 folders by the shell; the 64-bit ones and
// the profile folders come from the environment.
constexpr const wchar_t* kEnvironmentFolders[] = {
    L"ProgramW6432", L"CommonProgramW6432", L"ProgramFiles", L"ProgramFiles(x86)", L"CommonProgramFiles",
    L"CommonProgramFiles(x86)", L"ProgramData", L"ALLUSERSPROFILE", L"PUBLIC", L"USERPROFILE", L"APPDATA",
    L"LOCALAPPDATA", L"SystemRoot", L"windir", L"TEMP", L"TMP",
};

// Below the system Windows folder.
constexpr const wchar_t* kWindowsSubfolders[] = {
    L"System32", L"System32\\drivers", L"SysWOW64", L"SysWOW64\\drivers", L"Sysnative", L"Sysnative\\drivers",
    L"System", L"Installer",
};

constexpr wchar_t kProfileList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

// The 64-bit Program Files and Common Files as the registry records them: the
// environment names them only from Windows 7 on (ProgramW6432).
constexpr wchar_t kCurrentVersion[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
constexpr const wchar_t* kRegistryFolders[] = {L"ProgramFilesDir", L"CommonFilesDir", L"ProgramFilesDir (x86)",
                                              L"CommonFilesDir (x86)"};

std::wstring Expanded(const std::wstring& text)
{
    DWORD units = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    if (units == 0) return text;
    std::wstring out(units, L'\0');
    units = ExpandEnvironmentStringsW(text.c_str(), out.data(), units);
    out.resize(units ? units - 1 : 0);
    return out;
}

void AddIfSet(std::vector<std::wstring>& folders, std::wstring folder)
{
    if (!folder.empty()) folders.push_back(std::move(folder));
}

// Every profile the machine knows, and every folder in the profiles folder
// (Public, Default, All Users and the accounts without a ProfileList entry).
void AddProfiles(std::vector<std::wstring>& folders)
{
    wchar_t buffer[MAX_PATH];
    DWORD units = MAX_PATH;
    if (GetProfilesDirectoryW(buffer, &units)) {
        const std::wstring profiles = buffer;
        folders.push_back(profiles);
        WIN32_FIND_DATAW data;
        FindHandle find(FindFirstFileW((profiles + L"\\*").c_str(), &data));
        if (find) {
            do {
                const std::wstring name = data.cFileName;
                if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != L"." && name != L"..")
                    folders.push_back(profiles + L"\\" + name);
            } while (FindNextFileW(find.get(), &data));
        }
    }
    Key list;
    if (OpenKey(HKEY_LOCAL_MACHINE, kProfileList, KEY_READ, RegView::Native, list) != ERROR_SUCCESS) return;
    for (const wchar_t* name : {L"ProfilesDirectory", L"Default", L"Public", L"ProgramData"}) {
        std::wstring value;
        if (ReadString(list.get(), name, value) == ERROR_SUCCESS) AddIfSet(folders, Expanded(value));
    }
    wchar_t sid[256];
    for (DWORD index = 0;; ++index) {
        DWORD sidUnits = 256;
        if (RegEnumKeyExW(list.get(), index, sid, &sidUnits, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        Key profile;
        std::wstring image;
        if (OpenKey(list.get(), sid, KEY_QUERY_VALUE, RegView::Native, profile) == ERROR_SUCCESS &&
            ReadString(profile.get(), L"ProfileImagePath", image) == ERROR_SUCCESS)
            AddIfSet(folders, Expanded(image));
    }
}

void AddRegistryFolders(std::vector<std::wstring>& folders)
{
    for (RegView view : {RegView::Native, RegView::Bit64}) {
        Key key;
        if (OpenKey(HKEY_LOCAL_MACHINE, kCurrentVersion, KEY_QUERY_VALUE, view, key) != ERROR_SUCCESS) continue;
        for (const wchar_t* name : kRegistryFolders) {
            std::wstring value;
            if (ReadString(key.get(), name, value) == ERROR_SUCCESS) AddIfSet(folders, Expanded(value));
        }
    }
}

// Canonical forms of texts, each once; texts that name no folder below a
// drive root are dropped.
std::vector<std::wstring> Canonical(const std::vector<std::wstring>& texts)
{
    std::vector<std::wstring> folders, seen;
    for (const std::wstring& text : texts) {
        // The sources overlap much; each text is made canonical once.
        std::wstring folded = Folded(text);
        if (std::find(seen.begin(), seen.end(), folded) != seen.end()) continue;
        seen.push_back(std::move(folded));
        std::wstring canonical;
        bool linkMet = false;
        DWORD error = 0;
        if (MakeCanonical(text, canonical, linkMet, error) && canonical.size() > 3) folders.push_back(canonical);
    }
    return folders;
}

std::vector<std::wstring> AllFolded(std::vector<std::wstring> texts)
{
    for (std::wstring& text : texts) text = Folded(text);
    return texts;
}

// Tells when the machine's accounts may have changed: the profile list's key
// or the profiles folder's entries. Without a watch (it could not be set up),
// every question answers yes, and the table is made afresh each time.
class ProfileWatch {
public:
    bool Changed()
    {
        if (!armed_) return Arm();
        // Asking is a call into the system, as costly as a deletion: at most
        // once per tick of the system's clock (every 16 ms or less).
        const DWORD now = GetTickCount();
        if (now == lastAsked_) return false;
        lastAsked_ = now;
        HANDLE handles[] = {listEvent_.get(), folder_.get()};
        if (WaitForMultipleObjects(2, handles, FALSE, 0) == WAIT_TIMEOUT) return false;
        return Arm();
    }

private:
    // Sets both watches up afresh; answers true (the table is to be made).
    bool Arm()
    {
        armed_ = false;
        list_.reset();
        folder_.reset();
        if (!listEvent_) listEvent_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!listEvent_) return true;
        ResetEvent(listEvent_.get());
        wchar_t profiles[MAX_PATH];
        DWORD units = MAX_PATH;
        if (OpenKey(HKEY_LOCAL_MACHINE, kProfileList, KEY_NOTIFY, RegView::Native, list_) != ERROR_SUCCESS ||
            RegNotifyChangeKeyValue(list_.get(), TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                                    listEvent_.get(), TRUE) != ERROR_SUCCESS ||
            !GetProfilesDirectoryW(profiles, &units))
            return true;
        folder_.reset(FindFirstChangeNotificationW(profiles, FALSE, FILE_NOTIFY_CHANGE_DIR_NAME));
        armed_ = static_cast<bool>(folder_);
        return true;
    }

    bool armed_ = false;
    DWORD lastAsked_ = 0;
    Key list_;
    Handle listEvent_;
    ChangeNotification folder_;
};

class TableCache {
public:
    TableCache() { InitializeCriticalSection(&lock_); }
    ~TableCache() { DeleteCriticalSection(&lock_); }

    std::shared_ptr<const ProtectedTable> Current()
    {
        EnterCriticalSection(&lock_);
        // Asked first, so that the first call arms the watch before the table is made.
        const bool changed = watch_.Changed();
        if (!table_ || changed) {
            auto made = std::make_shared<ProtectedTable>();
            made->folders = Canonical(ProtectedFolderTexts());
            made->folded = AllFolded(made->folders);
            made->windows = AllFolded(Canonical(WindowsFolders()));
            table_ = std::move(made);
        }
        std::shared_ptr<const ProtectedTable> current = table_;
        LeaveCriticalSection(&lock_);
        return current;
    }

private:
    CRITICAL_SECTION lock_;
    ProfileWatch watch_;
    std::shared_ptr<const ProtectedTable> table_;
};

}  // namespace

std::shared_ptr<const ProtectedTable> CurrentProtectedTable()
{
    static TableCache cache;
    return cache.Current();
}

std::vector<std::wstring> ProtectedFolders() { return CurrentProtectedTable()->folders; }

std::vector<std::wstring> WindowsFolders()
{
    std::vector<std::wstring> folders;
    wchar_t buffer[MAX_PATH];
    // The system's folder stays right on a terminal server, where the plain
    // query gives a per-user folder; both are kept.
    UINT units = GetSystemWindowsDirectoryW(buffer, MAX_PATH);
    if (units > 0 && units < MAX_PATH) folders.push_back(buffer);
    units = GetWindowsDirectoryW(buffer, MAX_PATH);
    if (units > 0 && units < MAX_PATH) folders.push_back(buffer);
    return folders;
}

std::vector<std::wstring> ProtectedFolderTexts()
{
    std::vector<std::wstring> folders;
    wchar_t buffer[MAX_PATH];
    const std::vector<std::wstring> windows = WindowsFolders();
    for (const std::wstring& folder : windows) {
        folders.push_back(folder);
        for (const wchar_t* sub : kWindowsSubfolders) folders.push_back(folder + L"\\" + sub);
    }
    UINT units = GetSystemDirectoryW(buffer, MAX_PATH);
    if (units > 0 && units < MAX_PATH) folders.push_back(buffer);
    using Wow64DirectoryFn = UINT(WINAPI*)(LPWSTR, UINT);
    auto wow64Directory = reinterpret_cast<Wow64DirectoryFn>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetSystemWow64DirectoryW"));
    if (wow64Directory) {
        units = wow64Directory(buffer, MAX_PATH);
        if (units > 0 && units < MAX_PATH) folders.push_back(buffer);
    }
    for (int csidl : kShellFolders)
        if (SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer) == S_OK) AddIfSet(folders, buffer);
    for (const wchar_t* name : kEnvironmentFolders) {
        DWORD n = GetEnvironmentVariableW(name, buffer, MAX_PATH);
        if (n > 0 && n < MAX_PATH) folders.push_back(buffer);
    }
    DWORD n = GetTempPathW(MAX_PATH, buffer);
    if (n > 0 && n < MAX_PATH) folders.push_back(buffer);
    AddRegistryFolders(folders);
    AddProfiles(folders);
    return folders;
}

}  // namespace win::removal
