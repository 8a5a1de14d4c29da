#include "ServerUnregistration.h"

#include "Handle.h"
#include "LaunchAndWait.h"
#include "Paths.h"
#include "PlatformInfo.h"
#include "Unregister.h"

namespace {

constexpr size_t kPatternChars = 520;
constexpr size_t kWindowsFolderChars = 261;
constexpr wchar_t kUserServiceMask[] = L"tvUsrSrv*.exe";
constexpr wchar_t kInvalidArguments[] = L"reloUni::unRegFileFromMask: Invalid Arguments!\r\n";

std::wstring WithSeparator(const wchar_t* folder)
{
    std::wstring text = folder;
    if (text.empty() || text.back() != L'\\') text += L'\\';
    return text;
}

// folder, a separator and the mask, cut to the pattern buffer as the shipped
// program's buffer cuts it.
std::wstring Pattern(const wchar_t* folder, const wchar_t* mask)
{
    return (WithSeparator(folder) + mask).substr(0, kPatternChars - 1);
}

// Calls found(path) for each match of the pattern, then logs an enumeration
// that ended with an unexpected error in the caller's words.
template <class Found>
void ForEachMatch(const wchar_t* folder, const std::wstring& pattern, const wchar_t* errorFormat, CLogFile& log,
                  Found found)
{
    WIN32_FIND_DATAW data{};
    win::FindHandle find(FindFirstFileW(pattern.c_str(), &data));
    if (!find) return;
    do {
        found((WithSeparator(folder) + data.cFileName).substr(0, kPatternChars - 1));
    } while (FindNextFileW(find.get(), &data));
    const DWORD error = GetLastError();
    if (error != ERROR_NO_MORE_FILES) log.Log(errorFormat, folder, pattern.c_str(), static_cast<int>(error));
}

}  // namespace

bool UnregisterServerWow64(const std::wstring& arguments)
{
    if (!IsWow64()) return false;
    wchar_t windows[kWindowsFolderChars] = {};
    const UINT n = GetWindowsDirectoryW(windows, kWindowsFolderChars);
    if (n == 0 || n >= kWindowsFolderChars) return false;
    LaunchLog launch(RunLog().Path());
    // Redirection is off around the start alone: the log and the judgement
    // see the 32-bit view, the start reaches the 64-bit tool.
    LaunchScope native;
    native.nativeSystemFolder = true;
    return LaunchAndWait(std::wstring(windows) + L"\\system32\\RegSvr32.exe", arguments.c_str(), launch.get(), 1,
                         native);
}

namespace miscHelper {

void UnregisterExe(const std::wstring& file, CLogFile& log)
{
    log.Log(L"Next file is: %s", file.c_str());
    if (file.empty()) {
        log.Log(L"NULL file name passed to miscHelper::UnregisterExe - unable to continue");
        return;
    }
    log.Log(L"Unregistering: %s", file.c_str());
    if (!win::FileExists(file)) return;
    LaunchLog launch(log.Path());
    LaunchAndWait(file, L" /UnregServer", launch.get(), 1);
}

void unRegFileFromMask(const wchar_t* folder, const wchar_t* mask, CLogFile& log)
{
    if (folder == nullptr || mask == nullptr) {
        log.Log(kInvalidArguments);
        return;
    }
    const std::wstring pattern = Pattern(folder, mask);
    log.Log(L"miscHelper::unRegFileFromMask: Searching for: %s", pattern.c_str());
    const bool wow64 = IsWow64();
    ForEachMatch(folder, pattern,
                 L"miscHelper::unRegFileFromMask: Error Parsing directory %s \r\n for %s \r\n Lasterror: %d \r\n", log,
                 [&](const std::wstring& path) {
                     log.Log(L"Found: %s", path.c_str());
                     if (!win::FileExists(path)) {
                         log.Log(L"miscHelper::unRegFileFromMask: Path to %s could not be found", path.c_str());
                     } else if (wow64) {
                         UnregisterServerWow64(L"/s /u \"" + path + L"\"");
                     } else {
                         UnregisterServerInProcess(path.c_str());
                     }
                 });
}

}  // namespace miscHelper

namespace CHelper {

void unRegFileFromMask(const wchar_t* folder, CLogFile& log)
{
    if (folder == nullptr) {
        log.Log(kInvalidArguments);
        return;
    }
    const std::wstring pattern = Pattern(folder, kUserServiceMask);
    log.Log(L"Looking for %s", pattern.c_str());
    log.Log(L"reloUni::unRegFileFromMask: Searching for: %s\r\n", pattern.c_str());
    ForEachMatch(folder, pattern,
                 L"CHelper::unRegFileFromMask: Error Parsing directory %s \r\n for %s \r\n Lasterror: %d \r\n", log,
                 [&](const std::wstring& path) {
                     log.Log(L"Found: %s", path.c_str());
                     if (win::FileExists(path)) miscHelper::UnregisterExe(path, log);
                     else log.Log(L"Path to %s could not be found", path.c_str());
                 });
}

}  // namespace CHelper
