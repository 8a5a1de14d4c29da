// Where things lie on the machine being staged, and small helpers the engine
// and the footprints share.
#include "Places.h"

#include <shlobj.h>

#include <algorithm>
#include <cwctype>

namespace stage {

using win::RegView;

bool IsWindows64()
{
    BOOL wow = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow);
    return wow != FALSE;
}

std::wstring Env(const wchar_t* name)
{
    wchar_t buffer[MAX_PATH] = {};
    DWORD n = GetEnvironmentVariableW(name, buffer, MAX_PATH);
    return n > 0 && n < MAX_PATH ? buffer : L"";
}

std::wstring ProgramFilesNative() { return IsWindows64() ? Env(L"ProgramW6432") : Env(L"ProgramFiles"); }
std::wstring ProgramFiles32() { return Env(L"ProgramFiles"); }
std::wstring CommonFilesNative() { return IsWindows64() ? Env(L"CommonProgramW6432") : Env(L"CommonProgramFiles"); }
std::wstring CommonFiles32() { return Env(L"CommonProgramFiles"); }

std::wstring CommonAppData()
{
    wchar_t buffer[MAX_PATH] = {};
    return SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, buffer) == S_OK ? buffer : L"";
}

std::wstring WindowsFolder()
{
    wchar_t buffer[MAX_PATH] = {};
    GetWindowsDirectoryW(buffer, MAX_PATH);
    return buffer;
}

std::vector<RegView> Views()
{
    if (IsWindows64()) return {RegView::Bit64, RegView::Bit32};
    return {RegView::Native};
}

RegView On(RegView view) { return IsWindows64() ? view : RegView::Native; }

std::wstring RootName(HKEY root, RegView view)
{
    if (root == HKEY_CURRENT_USER) return L"HKCU\\";  // one tree in both views
    const std::wstring name = root == HKEY_CLASSES_ROOT ? L"HKCR" : L"HKLM";
    switch (view) {
    case RegView::Bit64: return name + L"(64-bit view)\\";
    case RegView::Bit32: return name + L"(32-bit view)\\";
    default: return name + L"\\";
    }
}

std::wstring Lower(std::wstring text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towlower(c); });
    return text;
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix)
{
    return Lower(text.substr(0, prefix.size())) == Lower(prefix);
}

bool Names(const std::wstring& entry, const std::wstring& item)
{
    return Lower(entry) == Lower(item) || StartsWith(entry, item + L"\\");
}

std::wstring Parent(const std::wstring& path) { return path.substr(0, path.rfind(L'\\')); }

bool PathExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

DWORD RunAndWait(std::wstring commandLine)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &pi))
        return GetLastError();
    win::ProcessInformation child;
    child.take(pi);
    WaitForSingleObject(child.process.get(), INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(child.process.get(), &code);
    return code;
}

}  // namespace stage
