#include "RemovalCalls.h"

#include "Handle.h"
#include "Log.h"
#include "Removal.h"

#include <shellapi.h>

#include <string>

namespace removal = win::removal;

namespace removal_calls {

namespace {

DWORD RefusalCode(const removal::Judgement& judgement)
{
    switch (judgement.verdict) {
    case removal::Verdict::Malformed: return removal::kRefusedMalformed;
    case removal::Verdict::ThroughLink: return removal::kRefusedLink;
    case removal::Verdict::Unverifiable: return judgement.error;
    default: return removal::kRefusedProtected;
    }
}

// The canonical path when the layer allows path; otherwise logs the refusal
// and sets its code.
bool Allowed(const wchar_t* path, std::wstring& canonical)
{
    const removal::Judgement judgement = removal::Judge(path ? path : L"");
    if (judgement.allowed()) {
        canonical = judgement.path;
        return true;
    }
    AGS_LOG(LogUtils::Warning, L"Removal refused for %s (verdict %d)", path ? path : L"(none)",
            static_cast<int>(judgement.verdict));
    SetLastError(RefusalCode(judgement));
    return false;
}

bool Answer(const removal::Record& record)
{
    if (record.outcome == removal::Outcome::Removed) return true;
    if (record.outcome == removal::Outcome::Refused)
        AGS_LOG(LogUtils::Warning, L"Removal refused for %s (verdict %d)", record.path.c_str(),
                static_cast<int>(record.verdict));
    SetLastError(record.error);
    return false;
}

bool TreeHoldsLink(const std::wstring& folder)
{
    WIN32_FIND_DATAW data;
    win::FindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &data));
    if (!find) return false;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return true;
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && TreeHoldsLink(folder + L"\\" + name)) return true;
    } while (FindNextFileW(find.get(), &data));
    return false;
}

}  // namespace

bool DeleteOneFile(const wchar_t* path)
{
    return Answer(removal::RemoveFile(path ? path : L"", removal::Guard::Standard, removal::InUse::Fail));
}

bool RemoveOneFolder(const wchar_t* path)
{
    return Answer(removal::RemoveEmptyFolder(path ? path : L"", removal::Guard::Standard));
}

bool RemoveOneLink(const wchar_t* path, bool& leftForRestart)
{
    const removal::Record record =
        removal::RemoveLink(path ? path : L"", removal::Guard::Standard, removal::InUse::LeaveForRestart);
    leftForRestart = record.outcome == removal::Outcome::LeftForRestart;
    return Answer(record);
}

bool MoveAside(const wchar_t* from, const wchar_t* to)
{
    std::wstring source, target;
    if (!Allowed(from, source) || !Allowed(to, target)) return false;
    return MoveFileExW(source.c_str(), target.c_str(), 0) != FALSE;
}

bool DeleteAtRestart(const wchar_t* path)
{
    std::wstring canonical;
    if (!Allowed(path, canonical)) return false;
    return removal::RegisterForRestart(canonical);
}

bool MayDelete(const wchar_t* path)
{
    std::wstring canonical;
    return Allowed(path, canonical);
}

int ShellDeleteList(const wchar_t* list)
{
    std::wstring judged;
    for (const wchar_t* path = list; path && *path; path += wcslen(path) + 1) {
        std::wstring canonical;
        if (!Allowed(path, canonical)) return ERROR_ACCESS_DENIED;
        const DWORD attributes = GetFileAttributesW(canonical.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
            TreeHoldsLink(canonical)) {
            AGS_LOG(LogUtils::Warning, L"Removal refused for %s: the tree holds a link", canonical.c_str());
            SetLastError(removal::kRefusedLink);
            return ERROR_ACCESS_DENIED;
        }
        judged += canonical;
        judged.push_back(L'\0');
    }
    judged.push_back(L'\0');
    SHFILEOPSTRUCTW operation{};
    operation.wFunc = FO_DELETE;
    operation.pFrom = judged.c_str();
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;
    return SHFileOperationW(&operation);
}

}  // namespace removal_calls
