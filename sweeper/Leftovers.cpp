#include "Leftovers.h"

#include "Handle.h"
#include "SweeperTables.h"
#include "Uninstall.h"

#include <shlobj.h>
#include <shlwapi.h>
#include <userenv.h>

#include <vector>

namespace sweeper {

namespace {

constexpr size_t kFilePathUnits = 264;
constexpr size_t kKeyPathUnits = 520;
constexpr size_t kKeyNameUnits = 260;

using RegDeleteKeyExFn = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
RegDeleteKeyExFn g_regDeleteKeyEx = nullptr;

std::wstring WithoutTrailingBackslashes(std::wstring path)
{
    while (!path.empty() && path.back() == L'\\') path.pop_back();
    return path;
}

std::vector<std::wstring> SystemFolders()
{
    std::vector<std::wstring> folders;
    wchar_t buffer[MAX_PATH];
    for (int csidl : {CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86, CSIDL_PROGRAM_FILES_COMMON,
                      CSIDL_PROGRAM_FILES_COMMONX86, CSIDL_COMMON_APPDATA, CSIDL_PROFILE})
        if (SUCCEEDED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer))) folders.push_back(buffer);
    // A 32-bit program is told the x86 folders; the 64-bit ones come from the environment.
    for (const wchar_t* name :
         {L"ProgramW6432", L"CommonProgramW6432", L"ProgramFiles", L"CommonProgramFiles", L"ProgramData"}) {
        DWORD units = GetEnvironmentVariableW(name, buffer, MAX_PATH);
        if (units > 0 && units < MAX_PATH) folders.push_back(buffer);
    }
    DWORD units = MAX_PATH;
    if (GetProfilesDirectoryW(buffer, &units)) folders.push_back(buffer);
    return folders;
}

// Whether path is folder or lies below it (no letter case).
bool IsAtOrBelow(const std::wstring& path, const std::wstring& folder)
{
    return path.size() >= folder.size() && _wcsnicmp(path.c_str(), folder.c_str(), folder.size()) == 0 &&
           (path.size() == folder.size() || path[folder.size()] == L'\\');
}

bool FullPath(const std::wstring& path, std::wstring& full)
{
    wchar_t buffer[MAX_PATH];
    DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH, buffer, nullptr);
    if (n == 0 || n >= MAX_PATH) return false;
    full = WithoutTrailingBackslashes(buffer);
    return true;
}

// Deletes one file; when it is in use, registers it for deletion at the restart.
void DeleteOneFile(SweeperLog& log, const wchar_t* path)
{
    SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
    log.Printf(L"Removing file : %ls", path);
    if (DeleteFileW(path)) {
        log.Write(L"File deleted succesfully");
        return;
    }
    DWORD error = GetLastError();
    log.Write(L"File could not be deleted");
    log.Printf(L"Last error while deleting file : %d", static_cast<int>(error));
    log.Write(L"Marking the file for deletion on reboot");
    if (MoveFileExW(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        log.Write(L"File Marked for deletion succesfully");
        return;
    }
    error = GetLastError();
    log.Write(L"File could not be marked for deletion");
    log.Printf(L"Last error while marking file for deletion : %d", static_cast<int>(error));
}

// A link to a folder goes itself; what it points to is not the suite's.
void RemoveLink(SweeperLog& log, const wchar_t* path)
{
    log.Printf(L"Not following link, removing the link itself : %ls", path);
    if (!RemoveDirectoryW(path)) log.Printf(L"!> Link could not be removed : %d", static_cast<int>(GetLastError()));
}

LONG DeleteKey(HKEY root, const wchar_t* path, REGSAM view)
{
    return g_regDeleteKeyEx ? g_regDeleteKeyEx(root, path, view, 0) : RegDeleteKeyW(root, path);
}

// Deletes root\path, and when that fails its children first, depth-first.
// path is the caller's 520-unit buffer; it holds the same text again on return.
bool DeleteKeyTree(SweeperLog& log, HKEY root, wchar_t (&path)[kKeyPathUnits], REGSAM access, REGSAM view)
{
    log.Write(path);
    LONG rc = DeleteKey(root, path, view);
    if (rc == ERROR_SUCCESS) {
        log.Write(L"Deleting regkey worked succesfully");
        return true;
    }
    log.Printf(L"Deleting registry did not work. Return code : %d. Will try recursively", static_cast<int>(rc));
    HKEY raw = nullptr;
    rc = RegOpenKeyExW(root, path, 0, IsWow64() ? access : (KEY_READ | KEY_WOW64_32KEY), &raw);
    if (rc == ERROR_FILE_NOT_FOUND) {
        log.Write(L"!> Key not found!");
        return true;
    }
    if (rc != ERROR_SUCCESS) {
        log.Write(L"!> Error opening key!");
        return false;
    }
    win::Key key(raw);
    log.Write(L"RegOpenKeyEx passed");
    const size_t ownLength = wcslen(path);
    size_t childStart = ownLength;
    if (ownLength == 0 || path[ownLength - 1] != L'\\') {
        if (ownLength + 1 >= kKeyPathUnits) return false;
        path[childStart++] = L'\\';
        path[childStart] = L'\0';
    }
    wchar_t child[kKeyNameUnits];
    DWORD units = kKeyNameUnits;
    while (RegEnumKeyExW(key.get(), 0, child, &units, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
        log.Write(L"RegEnumKeyEx passed");
        bool fits = childStart + wcslen(child) < kKeyPathUnits;
        if (fits) wcscpy(path + childStart, child);
        bool deleted = fits && DeleteKeyTree(log, root, path, access, view);
        path[childStart] = L'\0';
        if (!fits) log.Printf(L"!> Key path does not fit its buffer, skipped : %ls", child);
        if (!deleted) break;
        units = kKeyNameUnits;
    }
    path[ownLength] = L'\0';
    key.reset();
    if (DeleteKey(root, path, view) != ERROR_SUCCESS) return false;
    log.Write(L"Deleting regkey worked succesfully");
    return true;
}

}  // namespace

bool IsProtectedFolder(const std::wstring& folder)
{
    std::wstring full;
    if (folder.empty() || folder.find_first_of(L"*?") != std::wstring::npos || PathIsRelativeW(folder.c_str()) ||
        !FullPath(folder, full))
        return true;
    if (full.size() <= 2 || PathIsRootW((full + L"\\").c_str())) return true;
    wchar_t windows[MAX_PATH];
    std::wstring windowsFull;
    // Nothing of the suite lives in the Windows folder, and aliases such as
    // Sysnative reach the real system folder from there.
    if (GetWindowsDirectoryW(windows, MAX_PATH) && FullPath(windows, windowsFull) && IsAtOrBelow(full, windowsFull))
        return true;
    for (const std::wstring& system : SystemFolders()) {
        std::wstring protectedFull;
        // The folder itself, or one above it that holds it.
        if (FullPath(system, protectedFull) && IsAtOrBelow(protectedFull, full)) return true;
    }
    return false;
}

void DeleteAll(SweeperLog& log, const wchar_t* folder)
{
    wchar_t pattern[kFilePathUnits];
    if (FormatInto(pattern, kFilePathUnits, L"%ls\\*.*", folder)) {
        WIN32_FIND_DATAW data;
        win::FindHandle find(FindFirstFileW(pattern, &data));
        if (find) {
            do {
                if (wcscmp(data.cFileName, L".") == 0 || wcscmp(data.cFileName, L"..") == 0) continue;
                wchar_t path[kFilePathUnits];
                if (!FormatInto(path, kFilePathUnits, L"%ls\\%ls", folder, data.cFileName)) {
                    log.Printf(L"!> Path does not fit its buffer, skipped : %ls in %ls", data.cFileName, folder);
                    continue;
                }
                if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    DeleteOneFile(log, path);
                else if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                    RemoveLink(log, path);
                else
                    DeleteAll(log, path);
            } while (FindNextFileW(find.get(), &data));
        }
    } else {
        log.Printf(L"!> Path does not fit its buffer, skipped : %ls", folder);
    }
    RemoveDirectoryW(folder);
}

bool RemoveProductDirectory(SweeperLog& log, std::wstring folder)
{
    log.Write(L"Begin RemoveProductDirectory");
    log.Write(folder.c_str());
    if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    log.Write(folder.c_str());
    if (IsProtectedFolder(folder)) {
        log.Printf(L"!> Refusing to remove a folder that is not the suite's : %ls", folder.c_str());
        log.Write(L"End RemoveProductDirectory");
        return false;
    }
    bool existed = false;
    WIN32_FIND_DATAW data;
    {
        win::FindHandle find(FindFirstFileW(folder.c_str(), &data));
        if (!find) {
            log.Printf(L"!> DeleteAll Failed: %d", static_cast<int>(GetLastError()));
        } else {
            existed = true;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                RemoveLink(log, folder.c_str());
            else
                DeleteAll(log, folder.c_str());
        }
    }
    std::wstring current = folder;
    bool gone = false;
    {
        win::FindHandle find(FindFirstFileW(folder.c_str(), &data));
        if (!find) {
            gone = true;
            current = current.substr(0, current.find_last_of(L'\\'));
        } else {
            log.Printf(L"!> FindFirstFile Failed: %d", static_cast<int>(GetLastError()));
        }
    }
    while (current.find(L'\\') != std::wstring::npos && !IsProtectedFolder(current) &&
           RemoveDirectoryW(current.c_str()))
        current = current.substr(0, current.find_last_of(L'\\'));
    log.Write(L"End RemoveProductDirectory");
    return existed && gone;
}

bool RemoveRegistryKey(SweeperLog& log, const wchar_t* subkey)
{
    wchar_t path[kKeyPathUnits];
    if (!FormatInto(path, kKeyPathUnits, L"%ls", subkey)) return false;
    win::Module advapi(LoadLibraryW(L"AdvAPI32.dll"));
    if (advapi) {
        log.Write(L"AdvAPI32.dll loaded succesfully");
        g_regDeleteKeyEx = reinterpret_cast<RegDeleteKeyExFn>(GetProcAddress(advapi.get(), "RegDeleteKeyExW"));
        if (g_regDeleteKeyEx) {
            log.Write(L"GetProcAddress for RegDeleteKeyExW obtained succesfully");
        } else {
            log.Write(L"GetProcAddress for RegDeleteKeyExW could not be obtained");
            log.Printf(L"Last error : %d", static_cast<int>(GetLastError()));
        }
    } else {
        log.Write(L"AdvAPI32.dll could not be loaded");
        log.Printf(L"Last error : %d", static_cast<int>(GetLastError()));
    }
    bool result;
    if (IsWow64()) {
        log.Write(DeleteKeyTree(log, HKEY_LOCAL_MACHINE, path, KEY_ALL_ACCESS | KEY_WOW64_64KEY, KEY_WOW64_64KEY)
                      ? L">> Remove Endpoint Wow Registry Success in 64 bit!"
                      : L"!> Remove Endpoint Wow Registry Failed in 64 bit!");
        result = DeleteKeyTree(log, HKEY_LOCAL_MACHINE, path, KEY_ALL_ACCESS | KEY_WOW64_32KEY, KEY_WOW64_32KEY);
        log.Write(result ? L">> Remove Endpoint Registry Success in 64 bit!"
                         : L"!> Remove Endpoint Registry Failed in 64 bit!");
    } else {
        result = DeleteKeyTree(log, HKEY_LOCAL_MACHINE, path, KEY_ALL_ACCESS, 0);
        log.Write(result ? L">> Remove Endpoint Registry Success in 32 bit!"
                         : L"!> Remove Endpoint Registry Failed in 32 bit!");
    }
    return result;
}

void RemoveLeftovers(SweeperLog& log)
{
    log.Write(L"Removing Directories");
    if (IsWow64() && !RemoveProductDirectory(log, ReadInstallFolder(log, L"szInstallDir32")))
        log.Write(L"Removing Directories failed");
    if (!RemoveProductDirectory(log, ReadInstallFolder(log, L"szInstallDir64")))
        log.Write(L"Removing Directories failed");
    log.Write(L"Removing Registries");
    for (const wchar_t* key : kLeftoverKeys) RemoveRegistryKey(log, key);
}

}  // namespace sweeper
