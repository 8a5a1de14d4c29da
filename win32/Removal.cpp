// The removal layer: judging paths, and deleting files and folder trees.
#include "RemovalPaths.h"

#include <unordered_map>
#include <utility>

namespace win::removal {

namespace {

Observer* g_observer = nullptr;
std::wstring g_lifted;  // canonical; empty while no protection is lifted

// The letter case of folders met on the way of earlier judgements, by their
// path as given (folded). Only the case comes from here: every component is
// still examined for links at every judgement.
class LetterCase {
public:
    LetterCase() { InitializeCriticalSection(&lock_); }
    ~LetterCase() { DeleteCriticalSection(&lock_); }

    // Sets out to the folder's path in its true case, when known.
    bool Find(const std::wstring& path, std::wstring& out)
    {
        EnterCriticalSection(&lock_);
        const auto found = folders_.find(Folded(path));
        const bool known = found != folders_.end();
        if (known) out = found->second;
        LeaveCriticalSection(&lock_);
        return known;
    }
    void Keep(const std::wstring& path, const std::wstring& trueCase)
    {
        EnterCriticalSection(&lock_);
        if (folders_.size() >= kMostFolders) folders_.clear();
        folders_[Folded(path)] = trueCase;
        LeaveCriticalSection(&lock_);
    }

private:
    static constexpr size_t kMostFolders = 4096;
    CRITICAL_SECTION lock_;
    std::unordered_map<std::wstring, std::wstring> folders_;
};

LetterCase g_letterCase;

bool IsMissing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

bool FullPath(const std::wstring& text, std::wstring& full)
{
    DWORD units = GetFullPathNameW(text.c_str(), 0, nullptr, nullptr);
    if (units == 0) return false;
    std::wstring buffer(units, L'\0');
    units = GetFullPathNameW(text.c_str(), units, buffer.data(), nullptr);
    if (units == 0 || units >= buffer.size()) return false;
    buffer.resize(units);
    while (buffer.size() > 2 && buffer.back() == L'\\') buffer.pop_back();
    full = buffer;
    return true;
}

Record Refusal(Kind kind, const Judgement& judgement)
{
    Record r;
    r.kind = kind;
    r.outcome = Outcome::Refused;
    r.verdict = judgement.verdict;
    r.path = judgement.path;
    switch (judgement.verdict) {
    case Verdict::Malformed: r.error = kRefusedMalformed; break;
    case Verdict::ThroughLink: r.error = kRefusedLink; break;
    case Verdict::Unverifiable: r.error = judgement.error; break;
    default: r.error = kRefusedProtected; break;
    }
    return r;
}

Record Result(Kind kind, const std::wstring& path, bool ok, DWORD error)
{
    Record r;
    r.kind = kind;
    r.path = path;
    r.outcome = ok ? Outcome::Removed : IsMissing(error) ? Outcome::AlreadyAbsent : Outcome::Failed;
    r.error = ok ? ERROR_SUCCESS : error;
    return r;
}

Record RemoveOneFolder(const std::wstring& path)
{
    const bool ok = RemoveDirectoryW(path.c_str()) != FALSE;
    return Result(Kind::Folder, path, ok, ok ? ERROR_SUCCESS : GetLastError());
}

// What could not go now is registered for deletion at the restart, when asked.
Record LeftForRestartIfFailed(Record r, InUse inUse)
{
    if (r.outcome != Outcome::Failed || inUse != InUse::LeaveForRestart) return r;
    if (RegisterForRestart(r.path))
        r.outcome = Outcome::LeftForRestart;
    else
        r.restartError = GetLastError();
    return r;
}

Record RemoveOneFile(const std::wstring& path, InUse inUse)
{
    const DWORD error = DeleteThroughHandle(path);
    if (error == kRefusedLink) {
        Judgement moved;
        moved.verdict = Verdict::ThroughLink;
        moved.path = path;
        return Refusal(Kind::File, moved);
    }
    return LeftForRestartIfFailed(Result(Kind::File, path, error == ERROR_SUCCESS, error), inUse);
}

// A link goes itself: a folder link as a folder, a file link as a file (which
// removes the link on Windows); its attributes are left alone, since setting
// them may reach the target.
Record RemoveOneLink(const std::wstring& path, bool folder, InUse inUse)
{
    const bool ok = (folder ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str())) != FALSE;
    return LeftForRestartIfFailed(Result(Kind::Link, path, ok, ok ? ERROR_SUCCESS : GetLastError()), inUse);
}

bool IsProtectedOrAbove(const std::wstring& canonical)
{
    const std::wstring path = Folded(canonical);
    for (const std::wstring& folder : CurrentProtectedTable()->folded)
        if (IsAtOrBelowFolded(folder, path)) return true;
    return false;
}

// The link's canonical path: its folder judged as any path (which may be a
// protected folder or a drive root, since only the link goes), its own name
// a plain one. Refused otherwise.
Record JudgeLink(const std::wstring& path, Guard guard, std::wstring& canonical)
{
    const size_t cut = path.find_last_of(L"\\/");
    const std::wstring name = cut == std::wstring::npos ? std::wstring() : path.substr(cut + 1);
    // "C:\link": the folder is the root of the drive.
    Judgement folder = Judge(cut == std::wstring::npos ? std::wstring() : path.substr(0, cut == 2 ? 3 : cut), guard);
    if (name.empty() || name == L"." || name == L".." || !IsPlainDrivePath(path)) folder.verdict = Verdict::Malformed;
    if (folder.verdict == Verdict::Protected || folder.verdict == Verdict::DriveRoot) folder.verdict = Verdict::Allowed;
    if (!folder.allowed()) {
        folder.path = path;
        return Refusal(Kind::Link, folder);
    }
    bool linkMet = false;
    DWORD error = ERROR_SUCCESS;
    const std::wstring joined = folder.path + (folder.path.back() == L'\\' ? L"" : L"\\") + name;
    if (!MakeCanonical(joined, canonical, linkMet, error)) canonical = joined;
    Judgement own;
    own.path = canonical;
    own.verdict = error != ERROR_SUCCESS ? Verdict::Unverifiable : IsProtectedOrAbove(canonical) ? Verdict::Protected
                                                                                                  : Verdict::Allowed;
    own.error = error;
    return own.allowed() ? Record{} : Refusal(Kind::Link, own);
}

void Report(const Record& record, TreeListener* listener)
{
    Notify(record);
    if (listener) listener->Done(record);
}

// Everything inside folder, depth-first; the folder itself stays.
void RemoveContents(const std::wstring& folder, InUse inUse, TreeListener* listener)
{
    WIN32_FIND_DATAW data;
    FindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &data));
    if (!find) return;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring path = folder + L"\\" + name;
        const bool directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const bool link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if (listener && !listener->Entering(path, directory && !link)) continue;
        if (link) {
            Report(RemoveOneLink(path, directory, InUse::Fail), listener);
        } else if (directory) {
            RemoveContents(path, inUse, listener);
            Report(RemoveOneFolder(path), listener);
        } else {
            Report(RemoveOneFile(path, inUse), listener);
        }
    } while (FindNextFileW(find.get(), &data));
}

// Judges path and, when it may be touched, acts on its canonical form.
template <typename Act>
Record Judged(const std::wstring& path, Guard guard, Kind kind, Act act)
{
    const Judgement j = Judge(path, guard);
    return j.allowed() ? act(j.path) : Refusal(kind, j);
}

}  // namespace

Observer* SetObserver(Observer* observer) { return std::exchange(g_observer, observer); }

void Notify(const Record& record)
{
    if (g_observer) g_observer->Seen(record);
}

std::wstring Folded(const std::wstring& text)
{
    std::wstring folded = text;
    if (!folded.empty()) CharUpperBuffW(folded.data(), static_cast<DWORD>(folded.size()));
    return folded;
}

bool IsAtOrBelowFolded(const std::wstring& p, const std::wstring& f)
{
    return p.size() >= f.size() && p.compare(0, f.size(), f) == 0 && (p.size() == f.size() || p[f.size()] == L'\\');
}

bool IsPlainDrivePath(const std::wstring& path)
{
    if (path.size() < 3) return false;
    const wchar_t letter = path[0];
    if (!((letter >= L'A' && letter <= L'Z') || (letter >= L'a' && letter <= L'z'))) return false;
    if (path[1] != L':' || (path[2] != L'\\' && path[2] != L'/')) return false;
    if (path.find_first_of(L"*?<>\"|:", 2) != std::wstring::npos) return false;
    for (wchar_t c : path)
        if (c < 0x20) return false;
    return true;
}

bool IsAtOrBelow(const std::wstring& path, const std::wstring& folder)
{
    return IsAtOrBelowFolded(Folded(path), Folded(folder));
}

bool MakeCanonical(const std::wstring& text, std::wstring& out, bool& linkMet, DWORD& error)
{
    linkMet = false;
    error = ERROR_SUCCESS;
    std::wstring full;
    if (!FullPath(text, full) || full.size() < 2 || full[1] != L':') return false;
    out.assign(1, static_cast<wchar_t>(towupper(full[0])));
    out += L':';
    size_t start = 3;
    bool exists = true;
    while (start < full.size()) {
        size_t end = full.find(L'\\', start);
        if (end == std::wstring::npos) end = full.size();
        const std::wstring component = full.substr(start, end - start);
        start = end + 1;
        if (component.empty()) continue;
        const std::wstring candidate = out + L"\\" + component;
        if (exists) {
            const DWORD attributes = GetFileAttributesW(candidate.c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES) {
                const DWORD code = GetLastError();
                if (!IsMissing(code)) error = code;
                exists = false;
            } else {
                if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) linkMet = true;
                // A short name always holds a tilde; any other name is its own
                // long form, and only its letter case is asked of the listing:
                // once per folder on the way, never for the last component.
                const bool shortName = component.find(L'~') != std::wstring::npos;
                if (!shortName && end == full.size()) {
                    out = candidate;
                    continue;
                }
                if (!shortName && g_letterCase.Find(candidate, out)) continue;
                WIN32_FIND_DATAW data;
                FindHandle find(FindFirstFileW(candidate.c_str(), &data));
                if (find) {
                    out += L"\\";
                    out += data.cFileName;
                    if (!shortName) g_letterCase.Keep(candidate, out);
                    continue;
                }
                if (shortName) error = GetLastError();
            }
        }
        out = candidate;
    }
    if (out.size() == 2) out += L'\\';
    return true;
}

Judgement Judge(const std::wstring& path, Guard guard)
{
    Judgement j;
    j.path = path;
    if (!IsPlainDrivePath(path)) return j;
    bool linkMet = false;
    if (!MakeCanonical(path, j.path, linkMet, j.error)) return j;
    if (j.path.size() <= 3) {
        j.verdict = Verdict::DriveRoot;
        return j;
    }
    if (linkMet) {
        j.verdict = Verdict::ThroughLink;
        return j;
    }
    if (j.error != ERROR_SUCCESS) {
        j.verdict = Verdict::Unverifiable;
        return j;
    }
    const std::shared_ptr<const ProtectedTable> table = CurrentProtectedTable();
    const std::wstring folded = Folded(j.path);
    if (guard == Guard::OutsideWindows) {
        for (const std::wstring& windows : table->windows) {
            if (IsAtOrBelowFolded(folded, windows)) {
                j.verdict = Verdict::InWindowsFolder;
                return j;
            }
        }
    }
    const std::wstring lifted = g_lifted.empty() ? std::wstring() : Folded(g_lifted);
    for (const std::wstring& folder : table->folded) {
        if (IsAtOrBelowFolded(folder, folded) && folder != lifted) {
            j.verdict = Verdict::Protected;
            return j;
        }
    }
    j.verdict = Verdict::Allowed;
    return j;
}

ProtectionLift::ProtectionLift(const std::wstring& folder)
{
    std::wstring canonical;
    bool linkMet = false;
    DWORD error = ERROR_SUCCESS;
    if (!g_lifted.empty() || !IsPlainDrivePath(folder) || !MakeCanonical(folder, canonical, linkMet, error) ||
        linkMet || error != ERROR_SUCCESS || canonical.size() <= 3)
        return;
    const DWORD attributes = GetFileAttributesW(canonical.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    g_lifted = canonical;
    active_ = true;
}

ProtectionLift::~ProtectionLift()
{
    if (active_) g_lifted.clear();
}

Record RemoveFile(const std::wstring& path, Guard guard, InUse inUse)
{
    const Record r = Judged(path, guard, Kind::File, [inUse](const std::wstring& canonical) {
        const DWORD attributes = GetFileAttributesW(canonical.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return Result(Kind::File, canonical, false, ERROR_DIRECTORY);
        return RemoveOneFile(canonical, inUse);
    });
    Notify(r);
    return r;
}

Record RemoveEmptyFolder(const std::wstring& path, Guard guard)
{
    const Record r = Judged(path, guard, Kind::Folder, RemoveOneFolder);
    Notify(r);
    return r;
}

Record RemoveFolderTree(const std::wstring& path, Guard guard, InUse inUse, TreeListener* listener)
{
    const Record r = Judged(path, guard, Kind::Folder, [inUse, listener](const std::wstring& canonical) {
        const DWORD attributes = GetFileAttributesW(canonical.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return Result(Kind::Folder, canonical, false, GetLastError());
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return Result(Kind::Folder, canonical, false, ERROR_DIRECTORY);
        RemoveContents(canonical, inUse, listener);
        return RemoveOneFolder(canonical);
    });
    Report(r, listener);
    return r;
}

Record RemoveLink(const std::wstring& path, Guard guard, InUse inUse)
{
    std::wstring canonical;
    Record r = JudgeLink(path, guard, canonical);
    if (r.outcome != Outcome::Refused) {
        const DWORD attributes = GetFileAttributesW(canonical.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES)
            r = Result(Kind::Link, canonical, false, GetLastError());
        else if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            r = Result(Kind::Link, canonical, false, ERROR_NOT_A_REPARSE_POINT);
        else
            r = RemoveOneLink(canonical, (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0, inUse);
    }
    Notify(r);
    return r;
}

}  // namespace win::removal
