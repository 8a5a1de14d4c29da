#include "Deletion.h"

#include "Handle.h"
#include "Paths.h"
#include "PlatformInfo.h"
#include "ProcessFlags.h"
#include "RemovalCalls.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <string>

namespace {

// Buffers of the folder walk, in wide characters, terminator included.
constexpr size_t kPatternChars = 520;
constexpr size_t kFileChars = 276;
constexpr size_t kFolderChars = 520;
constexpr size_t kLineChars = 4096;

// Junction-like folders the system hides: hidden, system and reparse point.
constexpr DWORD kHiddenSystemLink = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_REPARSE_POINT;

constexpr int kRenameCandidates = 1000;

// Attributes that never stand in a deletion's way.
constexpr DWORD kPlainAttributes = FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_ARCHIVE;

// Formats into buffer; false when the text does not fit.
bool Format(wchar_t* buffer, size_t chars, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    const int written = _vsnwprintf(buffer, chars, format, args);
    va_end(args);
    if (written < 0 || static_cast<size_t>(written) >= chars) {
        buffer[chars - 1] = L'\0';
        return false;
    }
    return true;
}

// A path the removal layer refuses asks for no restart.
void LeaveForRestart(const wchar_t* path)
{
    if (MarkForDeleteAtRestart(path)) g_RebootNeeded = 1;
}

// The throw-away name for a file in folder: GetTempFileNameW's, else the first
// free "uni%05d.tmp" (the last candidate when all are taken).
std::wstring ThrowAwayName(const std::wstring& folder)
{
    wchar_t name[MAX_PATH] = {};
    if (GetTempFileNameW(folder.c_str(), L"uni", 0, name) != 0) {
        if (win::PathExists(name)) removal_calls::DeleteOneFile(name);
        return name;
    }
    std::wstring candidate;
    for (int i = 0; i < kRenameCandidates; ++i) {
        wchar_t file[16];
        _snwprintf(file, 16, L"uni%05d.tmp", i);
        file[15] = L'\0';
        candidate = folder + L"\\" + file;
        if (!win::PathExists(candidate.c_str())) break;
    }
    return candidate;
}

class Nuker {
public:
    explicit Nuker(const RunLogLine* log) : log_(log) {}

    void Folder(const wchar_t* folder)
    {
        if (folder == nullptr) return;
        const DWORD attributes = GetFileAttributesW(folder);
        if (attributes == INVALID_FILE_ATTRIBUTES) return;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && (attributes & kHiddenSystemLink) == kHiddenSystemLink) return;
        // Also a link, a drive root or a protected folder.
        if (!removal_calls::MayDelete(folder)) {
            Log(L"Nukedir - Refused to delete directory %s", folder);
            return;
        }
        wchar_t pattern[kPatternChars];
        if (!Format(pattern, kPatternChars, L"%s\\*.*", folder)) {
            Log(L"Nukedir - Path too long, not deleted: %s", folder);
            return;
        }
        Log(L"Nukedir - Begin deletion of directory %s", folder);
        Files(folder, pattern);
        Log(L"Nukedir - No more files in directory %s, recursing into subdirectories", folder);
        SubFolders(folder, pattern);
        Log(L"Nukedir - Removing directory %s, should be empty now.", folder);
        if (!removal_calls::RemoveOneFolder(folder)) {
            Log(L"Nukedir - Could not remove directory %s, Adding for pending delete operation.", folder);
            MarkForDeleteAtRestart(folder);
        }
    }

private:
    void Files(const wchar_t* folder, const wchar_t* pattern)
    {
        WIN32_FIND_DATAW data;
        win::FindHandle find(FindFirstFileW(pattern, &data));
        if (!find) return;
        do {
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            wchar_t path[kFileChars];
            if (!Format(path, kFileChars, L"%s\\%s", folder, data.cFileName)) {
                Log(L"Nukedir - Path too long, not deleted: %s", path);
                continue;
            }
            // Setting attributes on a link would reach what it points to.
            if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                Link(path);
                continue;
            }
            // Plain attributes need no reset; DeleteByRename answers true for a file already gone.
            if (data.dwFileAttributes & ~kPlainAttributes) SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
            Log(L"Nukedir - Deleting file %s", path);
            if (!removal_calls::DeleteOneFile(path) && !DeleteByRename(path)) {
                if (win::PathExists(path)) LeaveForRestart(path);
                Log(L"Nukedir - Could not delete file %s, adding to pending delete operations", path);
            }
        } while (FindNextFileW(find.get(), &data));
        Log(L"Nukedir - No more files in directory %s", folder);
    }

    void SubFolders(const wchar_t* folder, const wchar_t* pattern)
    {
        WIN32_FIND_DATAW data;
        win::FindHandle find(FindFirstFileW(pattern, &data));
        if (!find) return;
        do {
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
            if ((data.dwFileAttributes & kHiddenSystemLink) == kHiddenSystemLink) continue;
            if (wcscmp(data.cFileName, L".") == 0 || wcscmp(data.cFileName, L"..") == 0) continue;
            wchar_t path[kFolderChars];
            if (!Format(path, kFolderChars, L"%s\\%s", folder, data.cFileName)) {
                Log(L"Nukedir - Path too long, not deleted: %s", path);
                continue;
            }
            if (IsRootRecycleFolder(path)) continue;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                Link(path);
                continue;
            }
            Log(L"Nukedir - Traversing into %s", path);
            Folder(path);
        } while (FindNextFileW(find.get(), &data));
    }

    // A link inside the tree goes itself, never followed, so that the folders
    // holding it can go; one that cannot go now waits for the restart.
    void Link(const wchar_t* path)
    {
        Log(L"Nukedir - Not following link %s, removing the link itself", path);
        bool leftForRestart = false;
        if (!removal_calls::RemoveOneLink(path, leftForRestart)) {
            if (leftForRestart) g_RebootNeeded = 1;
            Log(L"Nukedir - Could not remove link %s, adding to pending delete operations", path);
        }
    }

    // The recycle folder at the root of a drive is never entered.
    static bool IsRootRecycleFolder(const wchar_t* path)
    {
        const wchar_t* slash = wcschr(path, L'\\');
        return slash != nullptr && _wcsnicmp(slash + 1, L"RECYCLED", 8) == 0;
    }

    void Log(const wchar_t* format, const wchar_t* path)
    {
        if (log_ == nullptr || !*log_) return;
        wchar_t line[kLineChars];
        Format(line, kLineChars, format, path);
        (*log_)(line);
    }

    const RunLogLine* log_;
};

}  // namespace

bool MarkForDeleteAtRestart(const wchar_t* path)
{
    if (GetPlatformVersion().dwPlatformId != VER_PLATFORM_WIN32_NT) return true;
    return removal_calls::DeleteAtRestart(path);
}

bool DeleteByRename(const wchar_t* path)
{
    if (path == nullptr || !win::PathExists(path)) return true;
    // The folder is judged before the throw-away name, which creates a file in it.
    if (!removal_calls::MayDelete(path)) return false;
    std::wstring folder = path;
    const size_t last = folder.find_last_of(L'\\');
    folder.resize(last == std::wstring::npos ? 0 : last);
    const std::wstring target = ThrowAwayName(folder);
    if (!removal_calls::MoveAside(path, target.c_str())) return false;
    if (!removal_calls::DeleteOneFile(target.c_str())) LeaveForRestart(target.c_str());
    return true;
}

bool RemoveFile(const wchar_t* path)
{
    if (path == nullptr || !win::PathExists(path)) return true;
    if (removal_calls::DeleteOneFile(path)) return true;
    if (DeleteByRename(path)) return true;
    if (win::PathExists(path)) LeaveForRestart(path);
    return false;
}

void Nukedir(const wchar_t* folder, const RunLogLine& log)
{
    Nuker(&log).Folder(folder);
}

void Nukedir(const wchar_t* folder)
{
    Nuker(nullptr).Folder(folder);
}

bool ShellDelete(const wchar_t* list)
{
    if (list == nullptr || *list == L'\0') return false;
    return removal_calls::ShellDeleteList(list) == 0;
}
