#pragma once
// The removal layer: the one way every program deletes files, folders,
// registry keys and values. It decides whether a path may be touched and how a
// tree is walked; the programs keep their own log lines through the listeners.
//
// - A path is judged in its canonical form (full, long, compared without
//   letter case). Refused: empty, relative and drive-relative paths, wildcards,
//   device, namespace and network forms, drive roots, a protected folder or any
//   folder above one (docs/removal.md), and any path with an existing
//   component that is a link (reparse point).
// - Links met inside a tree are removed themselves, never followed; so are
//   registry links below a key being removed.
// - Every walk ends: no item is visited twice, and an item that is reported
//   removed but stays is counted once as failed.
// - Every deletion's outcome reaches the process-wide observer.

#include "Registry.h"

#include <string>
#include <vector>

namespace win::removal {

enum class Kind { File, Folder, Link, Key, KeyLink, Value };
enum class Outcome { Removed, AlreadyAbsent, LeftForRestart, Refused, Failed };

// Why a path may or may not be touched.
enum class Verdict {
    Allowed,
    Malformed,        // empty, relative, drive-relative, wildcards, device, namespace or network form
    DriveRoot,
    Protected,        // a protected folder or a folder above one
    InWindowsFolder,  // the Windows folder or below, under Guard::OutsideWindows
    ThroughLink,      // an existing component is a link
    Unverifiable,     // a component could not be examined (its error is kept)
};

enum class Guard {
    Standard,        // below a protected folder is allowed
    OutsideWindows,  // additionally nothing at or below the Windows folder
};

// What to do with a file that cannot be deleted now (in use, read-only for us).
enum class InUse { Fail, LeaveForRestart };

// One deletion, as the observer and the listeners see it.
struct Record {
    Kind kind = Kind::File;
    Outcome outcome = Outcome::Failed;
    DWORD error = ERROR_SUCCESS;         // the deletion's Win32 code (0 when removed)
    DWORD restartError = ERROR_SUCCESS;  // a file that could not be left for the restart: that call's code
    Verdict verdict = Verdict::Allowed;  // why a refused item was refused
    std::wstring path;                   // canonical file path, or the key path below root
    HKEY root = nullptr;                 // keys and values
    RegView view = RegView::Native;      // keys and values
    std::wstring value;                  // values: the value's name

    bool gone() const { return outcome == Outcome::Removed || outcome == Outcome::AlreadyAbsent; }
};

// Win32 codes the layer gives to its own findings.
inline constexpr DWORD kRefusedMalformed = ERROR_INVALID_NAME;      // 123
inline constexpr DWORD kRefusedProtected = ERROR_ACCESS_DENIED;     // 5: protected, Windows folder, drive root
inline constexpr DWORD kRefusedLink = 681;                          // ERROR_STOPPED_ON_SYMLINK
inline constexpr DWORD kStillPresent = ERROR_CAN_NOT_COMPLETE;      // 1003: reported removed, still there

// Sees every deletion of the process with its outcome.
class Observer {
public:
    virtual void Seen(const Record& record) = 0;

protected:
    ~Observer() = default;
};

// Registers a canonical path for deletion at the restart. First every folder
// on its way up to the nearest protected folder that an account other than
// Administrators, SYSTEM and the installer service may change gets an access
// list of Administrators and SYSTEM alone (that folder only, by handle), so
// that no user can swap one for a link before the restart. False, with
// nothing registered, when a list could not be set or the registration failed.
bool RegisterForRestart(const std::wstring& canonical);

// Sees each folder whose access list was set before a registration for the
// restart, with the list as written (SDDL). Wine keeps no access lists of
// files (docs/wine.md), so tests read them here. Returns the previous one.
using AccessListWritten = void (*)(const std::wstring& folder, const std::wstring& sddl);
AccessListWritten SetAccessListObserver(AccessListWritten observer);

// Sets the process-wide observer (nullptr: none) and returns the previous one.
// Set it before removal starts; it is not guarded against other threads.
Observer* SetObserver(Observer* observer);

// --- Paths ---------------------------------------------------------------------

struct Judgement {
    Verdict verdict = Verdict::Malformed;
    std::wstring path;  // canonical form when it could be made, else the text given
    DWORD error = ERROR_SUCCESS;
    bool allowed() const { return verdict == Verdict::Allowed; }
};

Judgement Judge(const std::wstring& path, Guard guard = Guard::Standard);

// The protected folders of this machine and user, canonical (docs/removal.md).
std::vector<std::wstring> ProtectedFolders();

// Lifts the protection the table gives one folder, for the object's life: the
// folder may then be removed with what lies in it. Only that folder: a
// protected folder above or below it stays protected. For a folder protected
// only for where it lies, such as a deleted account's own profile folder
// among the profiles. Nothing is lifted (active() false) for a folder that is
// not there or is reached through a link, or while another lift holds. Set up
// and ended on the thread that removes; not guarded against other threads.
class ProtectionLift {
public:
    explicit ProtectionLift(const std::wstring& folder);
    ~ProtectionLift();
    ProtectionLift(const ProtectionLift&) = delete;
    ProtectionLift& operator=(const ProtectionLift&) = delete;
    bool active() const { return active_; }

private:
    bool active_ = false;
};

// --- Files and folders -------------------------------------------------------------

// Hooks of a folder-tree walk. Called for items below the tree's top and for the top.
class TreeListener {
public:
    // Before an entry is touched; false skips it (nothing deleted, nothing recorded).
    virtual bool Entering(const std::wstring& path, bool folder)
    {
        (void)path;
        (void)folder;
        return true;
    }
    // After each file, link and folder, then after the top.
    virtual void Done(const Record& record) { (void)record; }

protected:
    ~TreeListener() = default;
};

// Deletes one file (read-only attribute cleared first).
Record RemoveFile(const std::wstring& path, Guard guard, InUse inUse);

// Removes one empty folder.
Record RemoveEmptyFolder(const std::wstring& path, Guard guard);

// Deletes a folder with everything in it, depth-first, then the folder. A
// missing path is AlreadyAbsent; a file is left alone (Failed, ERROR_DIRECTORY).
// The result is the top's.
Record RemoveFolderTree(const std::wstring& path, Guard guard, InUse inUse, TreeListener* listener = nullptr);

// Removes a link itself (a folder link as a folder, a file link as a file);
// what it leads to stays. The folder holding it is judged like any path (no
// link on the way, Sweeper's guard), but may be a protected folder; the link's
// own path must not be one. A path that is not a link is left alone (Failed,
// ERROR_NOT_A_REPARSE_POINT). InUse::LeaveForRestart registers a link that
// cannot go now for deletion at the restart.
Record RemoveLink(const std::wstring& path, Guard guard, InUse inUse);

// --- Registry ----------------------------------------------------------------------

// Hooks of a key-tree walk, in the walk's order for each key.
class KeyListener {
public:
    // Before a key is touched; false skips it (counted as failed, not recorded).
    virtual bool Entering(const std::wstring& path)
    {
        (void)path;
        return true;
    }
    // The first deletion of the key, before its subkeys.
    virtual void FirstAttempt(const Record& record) { (void)record; }
    // Opening the key to list its subkeys (after a failed first attempt).
    virtual void Opened(LONG rc) { (void)rc; }
    // Once per listing of subkeys, when there is at least one.
    virtual void SubkeysFound() {}
    // The deletion after the subkeys went.
    virtual void SecondAttempt(const Record& record) { (void)record; }
    // Whether the walk goes on with the next subkey after one could not be removed.
    virtual bool GoOnAfterFailedSubkey() { return true; }

protected:
    ~KeyListener() = default;
};

// Deletes root\path in the view when it has no subkeys. A registry link is
// deleted itself (its target stays).
Record RemoveKey(HKEY root, const std::wstring& path, RegView view);

// Deletes root\path with everything below it in the view; registry links below
// are deleted themselves, never followed.
Record RemoveKeyTree(HKEY root, const std::wstring& path, RegView view, KeyListener* listener = nullptr);

// Deletes one value of root\path in the view.
Record RemoveValue(HKEY root, const std::wstring& path, RegView view, const wchar_t* name);

}  // namespace win::removal
