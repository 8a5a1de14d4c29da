#include "FolderCleanup.h"

#include "Deletion.h"
#include "FolderValue.h"
#include "Handle.h"
#include "Paths.h"
#include "PlatformInfo.h"
#include "Removal.h"
#include "ServiceAccount.h"
#include "UserHives.h"

#include <shlobj.h>

#include <cwchar>
#include <cwctype>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kZelmar[] = L"Zelmar";

// The suite's own subfolders of each shared parent (docs/configuration.md).
constexpr const wchar_t* kDataOwned[] = {L"Intrulog", L"Managed Quellor", L"ZLLOGS",      L"ZPF",
                                         L"nwcore",   L"Netwarden",       L"SyscoreLogs", nullptr};
constexpr const wchar_t* kProgramOwned[] = {L"Managed Quellor", L"ZPF", L"Netwarden Enterprise", L"data", L"Temp",
                                            nullptr};
constexpr const wchar_t* kCommonFilesOwned[] = {L"Core",       L"FWDriver",   L"Intrulog", L"installer",
                                                L"ZuzadaZozi", L"AGSSYSCORE", nullptr};

// The installer's temporary folders; each '?' stands for exactly one character.
constexpr wchar_t kInstallerTempMask[] = L"TVO????.TMP";
// A file the system may hold open: left for the restart before its folder goes.
constexpr wchar_t kCatalogCache[] = L"\\Zelmar\\ZuzadaZozi\\trust_catcache";

constexpr wchar_t kCurrentVersionKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

// One Common Files location and the lines its pass writes.
struct CommonFilesPass {
    const wchar_t* variable;
    const wchar_t* registryValue;  // read first, in the 64-bit view; null: the variable only
    const wchar_t* heading;       // before the expansion, or null
    const wchar_t* expanded;      // with the expanded folder
    bool cacheOnlyIfPresent;      // the catalog cache is checked (and its scheduling logged) first
    bool logsCleaning;            // the selective cleaning and the parent's deletion are logged
    bool only64BitWindows;
};
constexpr CommonFilesPass kCommonFilesPasses[] = {
    {L"%CommonProgramFiles%", nullptr, nullptr,
     L"SmartCleanCommonFilesZelmarFolder: Searching for Zelmar subfolder in %s", true, true, false},
    // The variable exists only from Windows 7 on; the registry names the
    // 64-bit Common Files on every 64-bit Windows.
    {L"%CommonProgramW6432%", L"CommonFilesDir", L"SmartCleanCommonFilesZelmarFolder: Processing x64 zuzadazozi files",
     L"Expanded %%CommonProgramW6432%% to [%s]", false, true, true},
    {L"%CommonProgramFiles(x86)%", nullptr, nullptr, L"Expanded %%CommonProgramFiles(x86)%% to [%s]", false, false,
     true},
};

// Folders the system hides this way are links into other places: never
// entered, never deleted.
constexpr DWORD kJunctionLike = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN;

bool IsJunctionLike(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & kJunctionLike) == kJunctionLike;
}

bool IsFolder(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsDotEntry(const wchar_t* name) { return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0; }

std::wstring WithBackslash(const std::wstring& folder)
{
    return !folder.empty() && folder.back() == L'\\' ? folder : folder + L'\\';
}

// The search's own matching is looser than the mask: a '?' before the dot may
// match nothing, and short names match as well.
bool MatchesMask(const wchar_t* name, const wchar_t* mask)
{
    if (wcslen(name) != wcslen(mask)) return false;
    for (; *mask != L'\0'; ++name, ++mask) {
        if (*mask != L'?' && towupper(*name) != towupper(*mask)) return false;
    }
    return true;
}

void Nuke(CLogFile& log, const std::wstring& folder)
{
    Nukedir(folder.c_str(), [&log](const wchar_t* line) { log.Log(L"%s", line); });
}

// A full local path ("X:\\..."), without a closing backslash, into folder.
bool TakeFullFolder(const wchar_t* text, std::wstring& folder)
{
    if (text[0] == L'\0' || text[1] != L':' || text[2] != L'\\' || wcschr(text, L'%') != nullptr) return false;
    folder = text;
    if (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
    return true;
}

// A variable that names a folder, expanded, without a closing backslash. An
// unset variable or one that does not give a full local path is logged and
// answers false.
bool ExpandFolder(CLogFile& log, const wchar_t* variable, std::wstring& folder)
{
    wchar_t buffer[kPathChars] = {};
    const DWORD chars = ExpandEnvironmentStringsW(variable, buffer, kPathChars);
    if (chars == 0 || chars > kPathChars || !TakeFullFolder(buffer, folder)) {
        log.Log(L"%s does not name a folder, skipped", variable);
        return false;
    }
    return true;
}

// The pass's folder: the registry's 64-bit view where the pass names a value
// that holds a full path, else its variable.
bool PassFolder(CLogFile& log, const CommonFilesPass& pass, std::wstring& folder)
{
    std::wstring value;
    if (pass.registryValue != nullptr &&
        ReadFolderValue(HKEY_LOCAL_MACHINE, kCurrentVersionKey, pass.registryValue, kPathChars, win::RegView::Bit64,
                        value) == ERROR_SUCCESS &&
        TakeFullFolder(value.c_str(), folder))
        return true;
    return ExpandFolder(log, pass.variable, folder);
}

// The first list name that name matches, each comparison logged; null when none.
const wchar_t* OwnedMatch(CLogFile& log, const wchar_t* name, const wchar_t* const* owned)
{
    for (; owned != nullptr && *owned != nullptr; ++owned) {
        log.Log(L"reloUni::safeCleanFolder - Checking if %s is a match with %s", name, *owned);
        if (_wcsicmp(name, *owned) == 0) return *owned;
    }
    return nullptr;
}

// Starts the step's search for pattern in folder; empty, logged, for a
// junction-like folder or a search that cannot start.
win::FindHandle StartSearch(CLogFile& log, const wchar_t* step, const std::wstring& folder, const wchar_t* pattern,
                            WIN32_FIND_DATAW& data)
{
    if (IsJunctionLike(GetFileAttributesW(folder.c_str()))) {
        log.Log(L"%s - The folder %s is a junction point.", step, folder.c_str());
        return {};
    }
    const std::wstring search = WithBackslash(folder) + pattern;
    log.Log(L"%s - Using Search Filespec %s", step, search.c_str());
    win::FindHandle find(FindFirstFileW(search.c_str(), &data));
    if (!find) log.Log(L"%s - Could not retrieve search handle for %s", step, folder.c_str());
    return find;
}

void NukeRemembered(CLogFile& log, const std::vector<std::wstring>& folders)
{
    for (const auto& folder : folders) {
        if (!IsFolder(folder)) continue;
        log.Log(L"\t Nuking %s folder", folder.c_str());
        Nuke(log, folder);
    }
}

}  // namespace

void reloUni::CleanMisDirectories()
{
    log_.Log(L"\t****** reloUni::CleanMisDirectories - starting.");
    log_.Log(L"\r\nreloUni::CleanMisDirectories - removeMQLUserDroppings.\r\n");
    removeMQLUserDroppings(*this);
    log_.Log(L"\r\nreloUni::CleanMisDirectories - SmartCleanNWEDataFolder.\r\n");
    if (CompleteCleanup()) {
        log_.Log(L"\r\nreloUni::CleanMisDirectories - SmartCleanZelmarDataFolder.\r\n");
        SmartCleanZelmarDataFolder();
    } else {
        // The shared data folder holds the products' logs.
        log_.Log(L"\r\nreloUni::CleanMisDirectories - Skipping log folder.\r\n");
    }
    log_.Log(L"\r\nreloUni::CleanMisDirectories - SmartCleanZelmarProgramFolder.\r\n");
    SmartCleanZelmarProgramFolder();
    log_.Log(L"\r\nreloUni::CleanMisDirectories - SmartCleanCommonFilesZelmarFolder.\r\n");
    SmartCleanCommonFilesZelmarFolder(*this);
    log_.Log(L"\t****** reloUni::CleanMisDirectories - done.\r\n");
}

bool reloUni::safeCleanFolder(const std::wstring& folder, const wchar_t* const* owned)
{
    WIN32_FIND_DATAW data;
    win::FindHandle find = StartSearch(log_, L"reloUni::safeCleanFolder", folder, L"*.*", data);
    if (!find) return false;
    const std::wstring base = WithBackslash(folder);
    bool onlyOwned = true;
    std::vector<std::wstring> matched;
    do {
        const wchar_t* name = data.cFileName;
        log_.Log(L"reloUni::safeCleanFolder - Scanning %s: found %s", folder.c_str(), name);
        if (IsDotEntry(name)) continue;
        const std::wstring path = base + name;
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            log_.Log(L"reloUni::safeCleanFolder - The file %s will not be deleted, it is not ours to delete!",
                     path.c_str());
            onlyOwned = false;
            continue;
        }
        if (IsJunctionLike(data.dwFileAttributes)) continue;
        log_.Log(L"reloUni::safeCleanFolder - %s is a valid directory", name);
        if (OwnedMatch(log_, name, owned) == nullptr) {
            log_.Log(L"reloUni::safeCleanFolder - The subdirectory %s will not be deleted!", path.c_str());
            onlyOwned = false;
            continue;
        }
        log_.Log(L"reloUni::safeCleanFolder - Found matching directory: %s", path.c_str());
        matched.push_back(path);
    } while (FindNextFileW(find.get(), &data));
    find.reset();
    NukeRemembered(log_, matched);
    return onlyOwned;
}

void reloUni::removeRogueTVOTmpFolders(const std::wstring& folder)
{
    WIN32_FIND_DATAW data;
    win::FindHandle find = StartSearch(log_, L"reloUni::removeRogueTVOTmpFolders", folder, kInstallerTempMask, data);
    if (!find) return;
    const std::wstring base = WithBackslash(folder);
    std::vector<std::wstring> temporary;
    do {
        const wchar_t* name = data.cFileName;
        log_.Log(L"reloUni::removeRogueTVOTmpFolders - Scanning %s: found %s", folder.c_str(), name);
        if (IsDotEntry(name)) continue;
        const std::wstring path = base + name;
        if (!MatchesMask(name, kInstallerTempMask)) {
            log_.Log(L"reloUni::removeRogueTVOTmpFolders - %s does not match %s, left alone", path.c_str(),
                     kInstallerTempMask);
            continue;
        }
        // A link would lead the deletion (or the attribute reset) elsewhere.
        if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            log_.Log(L"reloUni::removeRogueTVOTmpFolders - %s is a link, left alone", path.c_str());
            continue;
        }
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            log_.Log(L"reloUni::removeRogueTVOTmpFolders - %s is a valid directory", name);
            log_.Log(L"reloUni::removeRogueTVOTmpFolders - removing directory: %s", path.c_str());
            temporary.push_back(path);
            continue;
        }
        log_.Log(L"removeRogueTVOTmpFolders - File %s found in parent folder %s, deleting", name, folder.c_str());
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        // Deletes, else moves aside, else leaves it for the restart.
        if (!RemoveFile(path.c_str()) && win::PathExists(path)) {
            log_.Log(L"removeRogueTVOTmpFolders- Could not delete %s, added to pending delete list.", path.c_str());
        }
    } while (FindNextFileW(find.get(), &data));
    find.reset();
    NukeRemembered(log_, temporary);
}

void reloUni::SmartCleanZelmarDataFolder()
{
    wchar_t data[MAX_PATH] = {};
    const bool found = SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, data));
    if (!found || !IsFolder(data)) {
        data[MAX_PATH - 1] = L'\0';
        log_.Log(L"reloUni::SmartCleanZelmarDataFolder: Unable to retrieve path for namespace object "
                 L"CSIDL_COMMON_APPDATA ( %s ) or folder does not exist!",
                 data);
        return;
    }
    log_.Log(L"reloUni::SmartCleanZelmarDataFolder - COMMON_APPDATA folder found to be %s", data);
    const std::wstring folder = WithBackslash(data) + kZelmar;
    if (!IsFolder(folder)) {
        log_.Log(L"reloUni::SmartCleanZelmarDataFolder: Could not locate valid directory: %s", folder.c_str());
        return;
    }
    log_.Log(L"reloUni::SmartCleanZelmarDataFolder: Cleaning data from CSIDL_COMMON_APPDATA\\Zelmar - %s",
             folder.c_str());
    if (safeCleanFolder(folder, kDataOwned)) {
        log_.Log(L"No protected sub-folders found, deleting parent %s", folder.c_str());
        Nuke(log_, folder);
    }
}

void reloUni::SmartCleanZelmarProgramFolder()
{
    std::wstring programFiles;
    if (!ExpandFolder(log_, L"%ProgramFiles%", programFiles)) return;
    log_.Log(L"reloUni::SmartCleanZelmarProgramFolder - Program Files folder found to be %s", programFiles.c_str());
    const std::wstring folder = WithBackslash(programFiles) + kZelmar;
    log_.Log(L"reloUni::SmartCleanZelmarProgramFolder Selectively cleaning data from %s", folder.c_str());
    if (!IsFolder(folder)) {
        log_.Log(L"%s is not a valid directory", folder.c_str());
        return;
    }
    log_.Log(L"reloUni::SmartCleanZelmarDataFolder: Cleaning data from %%ProgramFiles%%\\Zelmar - %s", folder.c_str());
    const bool onlyOwned = safeCleanFolder(folder, kProgramOwned);
    removeRogueTVOTmpFolders(folder);
    if (onlyOwned) {
        log_.Log(L"No protected sub-folders found, deleting parent %s", folder.c_str());
        Nuke(log_, folder);
    }
}

void SmartCleanCommonFilesZelmarFolder(reloUni& uni)
{
    CLogFile& log = uni.Log();
    const bool windows64 = IsWow64();
    for (const auto& pass : kCommonFilesPasses) {
        if (pass.only64BitWindows && !windows64) continue;
        if (pass.heading != nullptr) log.Log(L"%s", pass.heading);
        std::wstring location;
        if (!PassFolder(log, pass, location)) continue;
        log.Log(pass.expanded, location.c_str());

        const std::wstring cache = location + kCatalogCache;
        // Only an existing cache is registered: a path registered before it
        // exists could be made a link to anything by the restart.
        if (win::PathExists(cache)) {
            if (pass.cacheOnlyIfPresent)
                log.Log(L"SmartCleanCommonFilesZelmarFolder: Pre-deletion of file: %s", cache.c_str());
            MarkForDeleteAtRestart(cache.c_str());
        }

        const std::wstring folder = WithBackslash(location) + kZelmar;
        if (!IsFolder(folder)) continue;
        if (pass.logsCleaning) {
            log.Log(L"SmartCleanCommonFilesZelmarFolder: Selectively cleaning data from %s", folder.c_str());
        }
        if (!uni.safeCleanFolder(folder, kCommonFilesOwned)) continue;
        if (pass.logsCleaning) {
            log.Log(L"SmartCleanCommonFilesZelmarFolder: No protected sub-folders found, deleting parent %s",
                    folder.c_str());
        }
        Nuke(log, folder);
    }
}

void removeMQLUserDroppings(reloUni& uni)
{
    uni.Log().Log(L"Cleaning up ZelmarMQLUser profile dir");
    wchar_t profiles[kUserHiveChars] = {};
    GetProfilesFolder(L"ROOT", profiles);
    if (profiles[0] == L'\0') {
        uni.Log().Log(L"removeMQLUserDroppings - The profiles folder is unknown, nothing removed");
        return;
    }
    const std::wstring folder = std::wstring(profiles) + L"\\" + kServiceAccount;
    if (!IsFolder(folder)) return;
    // The removal layer protects every folder among the profiles; the service
    // account's own is the suite's leftover once the account is gone, and only then.
    std::optional<win::removal::ProtectionLift> lift;
    if (IsLocalAccountGone(kServiceAccount)) lift.emplace(folder);
    // Double-terminated for the shell: the string's own terminator ends the list.
    const std::wstring list = folder + L'\0';
    ShellDelete(list.c_str());
    Nuke(uni.Log(), folder);
}
