#include "FileName.h"

#include "Log.h"
#include "PlatformInfo.h"
#include "ProcessFlags.h"
#include "Profile.h"
#include "RemovalCalls.h"
#include "TimeBudget.h"

#include <cwchar>
#include <string>

namespace {

constexpr size_t kFolderChars = 1023;     // folders of MakeTempName, short paths
constexpr size_t kWindowsFolderChars = 1024;
constexpr int kTempNameAttempts = 3;
constexpr DWORD kTempNamePauseMs = 100;
constexpr wchar_t kWinInit[] = L"WinInit.Ini";

bool IsNt()
{
    return GetPlatformVersion().dwPlatformId == VER_PLATFORM_WIN32_NT;
}

}  // namespace

bool SplitFolderAndName(const wchar_t* path, CMyString& folder, CMyString& name)
{
    const wchar_t* last = path ? wcsrchr(path, L'\\') : nullptr;
    if (last == nullptr) {
        folder.Assign(static_cast<const wchar_t*>(nullptr));
        name.Assign(path);
        return false;
    }
    folder.Assign(path, static_cast<size_t>(last - path));
    name.Assign(last + 1);
    return true;
}

void FileName::Set(const wchar_t* path)
{
    if (path != nullptr && wcschr(path, L'/') != nullptr) slashStyle_ = 1;
    path_.Assign(path);
}

void FileName::Append(const wchar_t* name)
{
    if (path_.IsNone() || name == nullptr) return;
    const wchar_t separator = Separator();
    std::wstring joined = path_.c_str();
    if (!joined.empty() && joined.back() == separator) joined.pop_back();
    if (*name == separator) ++name;
    joined += separator;
    joined += name;
    path_.Assign(joined.c_str(), joined.size());
}

const wchar_t* FileName::NamePart() const
{
    if (path_.IsNone()) return L"";
    const wchar_t* last = wcsrchr(path_.c_str(), Separator());
    return last ? last + 1 : path_.c_str();
}

bool FileName::MakeTempName(const wchar_t* folder)
{
    std::wstring where;
    if (folder != nullptr) {
        where.assign(folder, wcsnlen(folder, kFolderChars));
    } else {
        wchar_t temp[MAX_PATH + 1] = {};
        const DWORD units = GetTempPathW(MAX_PATH + 1, temp);
        if (units > 0 && units <= MAX_PATH) where = temp;
    }
    path_.Assign(static_cast<const wchar_t*>(nullptr));
    wchar_t name[MAX_PATH] = {};
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        if (attempt > 0) win::timing::Pause(kTempNamePauseMs);
        if (GetTempFileNameW(where.c_str(), L"TVO", 0, name) == 0) continue;
        Set(name);
        removal_calls::DeleteOneFile(name);
        return !path_.IsNone();
    }
    return false;
}

bool FileName::Delete()
{
    if (path_.IsNone()) return false;
    if (removal_calls::DeleteOneFile(path_.c_str())) return true;
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return true;
    AGS_LOG_WITH_ERROR(LogUtils::Warning, error, L"Failed to delete file %s", path_.c_str());
    return false;
}

bool FileName::IsDirectory() const
{
    if (path_.IsNone()) return false;
    const DWORD attributes = GetFileAttributesW(path_.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const wchar_t* p = path_.c_str();
    const size_t length = path_.Length();
    return (length == 2 || length == 3) && p[1] == L':' &&
           ((p[0] >= L'A' && p[0] <= L'Z') || (p[0] >= L'a' && p[0] <= L'z'));
}

bool FileName::ToShortPath()
{
    if (path_.IsNone()) return false;
    std::wstring folder = path_.c_str(), pattern;
    if (folder.find_first_of(L"*?") != std::wstring::npos) {
        const size_t last = folder.find_last_of(L"\\/");
        pattern = last == std::wstring::npos ? folder : folder.substr(last);
        folder = last == std::wstring::npos ? L"" : folder.substr(0, last);
    }
    wchar_t shortPath[kFolderChars] = {};
    const DWORD units = GetShortPathNameW(folder.c_str(), shortPath, static_cast<DWORD>(kFolderChars));
    if (units == 0 || units >= kFolderChars) return false;
    const std::wstring result = std::wstring(shortPath) + pattern;
    path_.Assign(result.c_str(), result.size());
    return true;
}

void FileName::MarkDeleteAfterReboot()
{
    if (path_.IsNone()) return;
    if (!IsNt()) {
        MarkInWinInit();
        return;
    }
    CMyString folder, name;
    SplitFolderAndName(path_.c_str(), folder, name);
    FileName aside;
    const bool named = aside.MakeTempName(folder.c_str());
    if (named && removal_calls::MoveAside(path_.c_str(), aside.c_str())) {
        if (removal_calls::DeleteAtRestart(aside.c_str())) g_RebootNeeded = 1;
        AGS_LOG(LogUtils::Debug, L"Marking <%s> file to delete after reboot", aside.c_str());
        return;
    }
    if (removal_calls::DeleteAtRestart(path_.c_str())) g_RebootNeeded = 1;
    AGS_LOG(LogUtils::Debug, L"Renaming failed ... Marking <%s> file to delete after reboot", path_.c_str());
}

// Windows without the NT kernel carries out WinInit.Ini during start-up:
// "NUL=<file>" in "rename" deletes the file, "<folder>=1" in "DIRNUL" the folder.
void FileName::MarkInWinInit()
{
    ToShortPath();
    if (!removal_calls::MayDelete(path_.c_str())) return;
    wchar_t windows[kWindowsFolderChars] = {};
    const UINT units = GetWindowsDirectoryW(windows, static_cast<UINT>(kWindowsFolderChars));
    if (units == 0 || units >= kWindowsFolderChars) return;
    FileName ini(windows);
    ini.Append(kWinInit);
    CProfile profile;
    if (!profile.Load(ini.c_str())) return;
    const bool folder = IsDirectory();
    CProfileSectionRef section = profile.GetSection(folder ? L"DIRNUL" : L"rename");
    if (folder) section->AddEntry(path_.c_str(), L"1");
    else section->AddEntry(L"NUL", path_.c_str());
    section.reset();
    if (profile.Save()) g_RebootNeeded = 1;
}
