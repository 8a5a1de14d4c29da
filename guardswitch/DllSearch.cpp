#include "DllSearch.h"

#include <windows.h>

#include <cwchar>

namespace {

bool g_currentFolderOut = false;

}  // namespace

bool TakeCurrentFolderOutOfDllSearch()
{
    // Looked up, since Windows XP has it only from SP1 on. An empty DLL folder
    // would take the current folder out on Windows, but Wine 8 keeps searching
    // it then; a real folder takes its place on both.
    using SetDllDirectoryFn = BOOL(WINAPI*)(LPCWSTR);
    auto setDllDirectory =
        reinterpret_cast<SetDllDirectoryFn>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDllDirectoryW"));
    wchar_t folder[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(nullptr, folder, MAX_PATH);
    wchar_t* slash = length > 0 && length < MAX_PATH ? wcsrchr(folder, L'\\') : nullptr;
    if (!setDllDirectory || !slash) return false;
    slash[1] = L'\0';  // the backslash stays, so that "C:\" does not become the drive's current folder
    g_currentFolderOut = setDllDirectory(folder) != FALSE;
    return g_currentFolderOut;
}

bool CurrentFolderOutOfDllSearch() { return g_currentFolderOut; }
