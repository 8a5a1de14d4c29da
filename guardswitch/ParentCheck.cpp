#include "ParentCheck.h"

#include "Handle.h"

#include <psapi.h>

#include <algorithm>
#include <cwchar>
#include <utility>

namespace {

constexpr DWORD kModuleRoom = 1024;

// Looks a process up in a fresh snapshot: 0 and its entry, or 5.
DWORD FindProcess(DWORD id, PROCESSENTRY32W& found)
{
    win::Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return ERROR_ACCESS_DENIED;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == id) {
            found = entry;
            return 0;
        }
    }
    return ERROR_ACCESS_DENIED;
}

// A text copied into a buffer of room units counts only when it ended before
// the last unit: one that fills the buffer may have been cut, and would name
// another file.
bool Fits(size_t length, size_t room) { return length > 0 && length + 1 < room; }

// When the process was created; false when it cannot be told.
bool CreationTime(HANDLE process, ULARGE_INTEGER& created)
{
    FILETIME creation{}, exit{}, kernel{}, user{};
    if (!GetProcessTimes(process, &creation, &exit, &kernel, &user)) return false;
    created.LowPart = creation.dwLowDateTime;
    created.HighPart = creation.dwHighDateTime;
    return true;
}

bool EndsWithNoCase(const wchar_t* text, size_t length, const wchar_t* tail)
{
    size_t n = wcslen(tail);
    return length >= n && _wcsicmp(text + length - n, tail) == 0;
}

// The temporary copy the installer makes of a custom-action library: a file
// name beginning with "MSI" and a path ending with "TMP".
bool IsCustomActionCopy(const wchar_t* path)
{
    size_t length = wcslen(path);
    if (length <= 3) return false;
    const wchar_t* slash = wcsrchr(path, L'\\');
    const wchar_t* name = slash ? slash + 1 : path;
    return _wcsnicmp(name, L"MSI", 3) == 0 && EndsWithNoCase(path, length, L"TMP");
}

}  // namespace

DWORD OpenParentProcess(DWORD id, HANDLE child, win::Handle& parent)
{
    win::Handle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id));
    ULARGE_INTEGER parentCreated{}, childCreated{};
    if (!process || !CreationTime(process.get(), parentCreated) || !CreationTime(child, childCreated) ||
        parentCreated.QuadPart >= childCreated.QuadPart)
        return ERROR_ACCESS_DENIED;
    parent = std::move(process);
    return 0;
}

DWORD FindParentProcess(ProcessIdentity& parent)
{
    PROCESSENTRY32W self{};
    if (DWORD status = FindProcess(GetCurrentProcessId(), self)) return status;
    PROCESSENTRY32W entry{};
    if (DWORD status = FindProcess(self.th32ParentProcessID, entry)) return status;
    if (!Fits(wcsnlen(entry.szExeFile, MAX_PATH), MAX_PATH)) return ERROR_ACCESS_DENIED;
    win::Handle process;
    if (DWORD status = OpenParentProcess(entry.th32ProcessID, GetCurrentProcess(), process)) return status;
    parent.id = entry.th32ProcessID;
    parent.image = entry.szExeFile;
    parent.process = std::move(process);
    return 0;
}

DWORD VerifyInstallerParent(const ProcessIdentity& parent, TrustValidation& trust)
{
    if (_wcsicmp(parent.image.c_str(), L"msiexec.exe") != 0 || !parent.process) return ERROR_ACCESS_DENIED;
    HMODULE modules[kModuleRoom] = {};
    DWORD needed = 0;
    if (!EnumProcessModules(parent.process.get(), modules, sizeof(modules), &needed)) return ERROR_ACCESS_DENIED;
    DWORD count = std::min<DWORD>(needed / sizeof(HMODULE), kModuleRoom);
    DWORD result = ERROR_ACCESS_DENIED;
    for (DWORD i = 0; i < count; ++i) {
        wchar_t path[MAX_PATH] = {};
        DWORD length = GetModuleFileNameExW(parent.process.get(), modules[i], path, MAX_PATH);
        if (!Fits(length, MAX_PATH) || !IsCustomActionCopy(path)) continue;
        result = trust.ValidateFile(path);
        if (result == 0) break;
    }
    return result;
}

DWORD VerifySweeperParent(const ProcessIdentity& parent, TrustValidation& trust)
{
    if (_wcsicmp(parent.image.c_str(), L"Sweeper.exe") != 0 || parent.id == 0) return ERROR_ACCESS_DENIED;
    return trust.ValidateProcess(parent.id);
}

bool VerifyCaller(TrustValidation& trust)
{
    ProcessIdentity parent;
    if (FindParentProcess(parent) != 0) return false;
    return VerifyInstallerParent(parent, trust) == 0 || VerifySweeperParent(parent, trust) == 0;
}
