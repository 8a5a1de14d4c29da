#include "Leftovers.h"

#include "Handle.h"
#include "Launch.h"
#include "SweeperTables.h"
#include "Uninstall.h"

namespace sweeper {

namespace {

using win::removal::Kind;
using win::removal::Outcome;
using win::removal::Record;

constexpr size_t kFilePathUnits = 264;
constexpr size_t kKeyPathUnits = 520;
constexpr wchar_t kSearchSuffix[] = L"\\*.*";

// Nothing of the suite lives in the Windows folder, and aliases such as
// Sysnative reach the real system folder from there.
constexpr win::removal::Guard kGuard = win::removal::Guard::OutsideWindows;

// The Sweeper's lines for the files and links of a folder tree.
class FolderLog final : public win::removal::TreeListener {
public:
    explicit FolderLog(SweeperLog& log) : log_(log) {}

    bool Entering(const std::wstring& path, bool folder) override
    {
        // File paths are built in 264 units; a folder's search pattern adds "\*.*".
        if (path.size() + (folder ? wcslen(kSearchSuffix) : 0) < kFilePathUnits) return true;
        log_.Printf(L"!> Path does not fit its buffer, skipped : %ls", path.c_str());
        return false;
    }

    void Done(const Record& r) override
    {
        if (r.kind == Kind::File) File(r);
        if (r.kind == Kind::Link) {
            log_.Printf(L"Not following link, removing the link itself : %ls", r.path.c_str());
            if (!r.gone()) log_.Printf(L"!> Link could not be removed : %d", static_cast<int>(r.error));
        }
    }

private:
    void File(const Record& r)
    {
        log_.Printf(L"Removing file : %ls", r.path.c_str());
        if (r.outcome == Outcome::Removed) {
            log_.Write(L"File deleted succesfully");
            return;
        }
        log_.Write(L"File could not be deleted");
        log_.Printf(L"Last error while deleting file : %d", static_cast<int>(r.error));
        if (r.outcome == Outcome::AlreadyAbsent) return;
        log_.Write(L"Marking the file for deletion on reboot");
        if (r.outcome == Outcome::LeftForRestart) {
            log_.Write(L"File Marked for deletion succesfully");
            return;
        }
        log_.Write(L"File could not be marked for deletion");
        log_.Printf(L"Last error while marking file for deletion : %d", static_cast<int>(r.restartError));
    }

    SweeperLog& log_;
};

// The Sweeper's lines for a key tree, in the walk's order.
class KeyLog final : public win::removal::KeyListener {
public:
    explicit KeyLog(SweeperLog& log) : log_(log) {}

    bool Entering(const std::wstring& path) override
    {
        if (path.size() >= kKeyPathUnits) {
            log_.Printf(L"!> Key path does not fit its buffer, skipped : %ls", path.c_str());
            return false;
        }
        log_.Write(path.c_str());
        return true;
    }
    void FirstAttempt(const Record& r) override
    {
        if (r.outcome == Outcome::Removed)
            log_.Write(L"Deleting regkey worked succesfully");
        else
            log_.Printf(L"Deleting registry did not work. Return code : %d. Will try recursively",
                        static_cast<int>(r.error));
    }
    void Opened(LONG rc) override
    {
        log_.Write(rc == ERROR_SUCCESS          ? L"RegOpenKeyEx passed"
                   : rc == ERROR_FILE_NOT_FOUND ? L"!> Key not found!"
                                                : L"!> Error opening key!");
    }
    void SubkeysFound() override { log_.Write(L"RegEnumKeyEx passed"); }
    void SecondAttempt(const Record& r) override
    {
        if (r.outcome == Outcome::Removed) log_.Write(L"Deleting regkey worked succesfully");
    }
    // A subkey that stays ends its parent's listing; the parent then stays too.
    bool GoOnAfterFailedSubkey() override { return false; }

private:
    SweeperLog& log_;
};

bool DeleteKeyTree(SweeperLog& log, const wchar_t* path, win::RegView view)
{
    KeyLog keyLog(log);
    return win::removal::RemoveKeyTree(HKEY_LOCAL_MACHINE, path, view, &keyLog).gone();
}

// The lookup is logged as support staff know it; the deletion itself uses the
// removal layer's own run-time lookup of the same function.
void LogDeleteKeyExLookup(SweeperLog& log)
{
    win::Module advapi(win::launch::LoadSystemLibrary(L"AdvAPI32.dll"));
    if (!advapi) {
        log.Write(L"AdvAPI32.dll could not be loaded");
        log.Printf(L"Last error : %d", static_cast<int>(GetLastError()));
        return;
    }
    log.Write(L"AdvAPI32.dll loaded succesfully");
    if (GetProcAddress(advapi.get(), "RegDeleteKeyExW")) {
        log.Write(L"GetProcAddress for RegDeleteKeyExW obtained succesfully");
    } else {
        log.Write(L"GetProcAddress for RegDeleteKeyExW could not be obtained");
        log.Printf(L"Last error : %d", static_cast<int>(GetLastError()));
    }
}

}  // namespace

Record DeleteAll(SweeperLog& log, const std::wstring& folder)
{
    FolderLog folderLog(log);
    if (folder.size() + wcslen(kSearchSuffix) >= kFilePathUnits) {
        log.Printf(L"!> Path does not fit its buffer, skipped : %ls", folder.c_str());
        Record r;
        r.kind = Kind::Folder;
        r.path = folder;
        r.error = ERROR_FILENAME_EXCED_RANGE;
        return r;
    }
    return win::removal::RemoveFolderTree(folder, kGuard, win::removal::InUse::LeaveForRestart, &folderLog);
}

bool RemoveProductDirectory(SweeperLog& log, std::wstring folder)
{
    log.Write(L"Begin RemoveProductDirectory");
    log.Write(folder.c_str());
    if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    log.Write(folder.c_str());
    const Record top = DeleteAll(log, folder);
    if (top.outcome == Outcome::Refused) {
        log.Printf(L"!> Refusing to remove a folder that is not the suite's : %ls", folder.c_str());
        log.Write(L"End RemoveProductDirectory");
        return false;
    }
    const bool existed = top.outcome != Outcome::AlreadyAbsent;
    if (!existed) log.Printf(L"!> DeleteAll Failed: %d", static_cast<int>(top.error));
    std::wstring current = folder;
    bool gone = false;
    {
        WIN32_FIND_DATAW data;
        win::FindHandle find(FindFirstFileW(folder.c_str(), &data));
        if (!find) {
            gone = true;
            current = current.substr(0, current.find_last_of(L'\\'));
        } else {
            log.Printf(L"!> FindFirstFile Failed: %d", static_cast<int>(GetLastError()));
        }
    }
    // Empty parents go while the layer lets them: never a protected folder or a drive.
    while (current.find(L'\\') != std::wstring::npos &&
           win::removal::RemoveEmptyFolder(current, kGuard).outcome == Outcome::Removed)
        current = current.substr(0, current.find_last_of(L'\\'));
    log.Write(L"End RemoveProductDirectory");
    return existed && gone;
}

bool RemoveRegistryKey(SweeperLog& log, const wchar_t* subkey)
{
    if (wcslen(subkey) >= kKeyPathUnits) return false;
    LogDeleteKeyExLookup(log);
    bool result;
    if (IsWow64()) {
        log.Write(DeleteKeyTree(log, subkey, win::RegView::Bit64) ? L">> Remove Endpoint Wow Registry Success in 64 bit!"
                                                                  : L"!> Remove Endpoint Wow Registry Failed in 64 bit!");
        result = DeleteKeyTree(log, subkey, win::RegView::Bit32);
        log.Write(result ? L">> Remove Endpoint Registry Success in 64 bit!"
                         : L"!> Remove Endpoint Registry Failed in 64 bit!");
    } else {
        result = DeleteKeyTree(log, subkey, win::RegView::Native);
        log.Write(result ? L">> Remove Endpoint Registry Success in 32 bit!"
                         : L"!> Remove Endpoint Registry Failed in 32 bit!");
    }
    return result;
}

void RemoveLeftovers(SweeperLog& log)
{
    log.Write(L"Removing Directories");
    // One buffer for both reads: a read that cannot open the key leaves it as it was.
    InstallFolderText folder = {};
    if (IsWow64()) {
        ReadInstallFolder(log, L"szInstallDir32", folder);
        if (!RemoveProductDirectory(log, folder)) log.Write(L"Removing Directories failed");
    }
    ReadInstallFolder(log, L"szInstallDir64", folder);
    if (!RemoveProductDirectory(log, folder)) log.Write(L"Removing Directories failed");
    log.Write(L"Removing Registries");
    for (const wchar_t* key : kLeftoverKeys) RemoveRegistryKey(log, key);
}

}  // namespace sweeper
