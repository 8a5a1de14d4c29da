#include "ParentCheck.h"

#include "Handle.h"

#include <psapi.h>

#include <algorithm>
#include <cwchar>

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

DWORD FindParentProcess(ProcessIdentity& parent)
{
    PROCESSENTRY32W self{};
    if (DWORD status = FindProcess(GetCurrentProcessId(), self)) return status;
    PROCESSENTRY32W entry{};
    if (DWORD status = FindProcess(self.th32ParentProcessID, entry)) return status;
    parent.id = entry.th32ProcessID;
    parent.image = entry.szExeFile;
    return 0;
}

DWORD VerifyInstallerParent(const ProcessIdentity& parent, TrustValidation& trust)
{
    if (_wcsicmp(parent.image.c_str(), L"msiexec.exe") != 0) return ERROR_ACCESS_DENIED;
    win::Handle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, parent.id));
    if (!process) return ERROR_ACCESS_DENIED;
    HMODULE modules[kModuleRoom] = {};
    DWORD needed = 0;
    if (!EnumProcessModules(process.get(), modules, sizeof(modules), &needed)) return ERROR_ACCESS_DENIED;
    DWORD count = std::min<DWORD>(needed / sizeof(HMODULE), kModuleRoom);
    DWORD result = ERROR_ACCESS_DENIED;
    for (DWORD i = 0; i < count; ++i) {
        wchar_t path[MAX_PATH] = {};
        if (!GetModuleFileNameExW(process.get(), modules[i], path, MAX_PATH) || !IsCustomActionCopy(path)) continue;
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
