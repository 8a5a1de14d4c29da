#pragma once
// Inside the removal layer: canonical paths, the protected-folder sources and
// the observer's one entry point.

#include "Removal.h"

#include <memory>

namespace win::removal {

// Full path with the long name of every existing component (true letter case)
// and no trailing backslash. linkMet is set when an existing component is a
// link; error when a component could not be examined. False only when the
// text gives no full path.
bool MakeCanonical(const std::wstring& text, std::wstring& out, bool& linkMet, DWORD& error);

// The text in upper case, as paths are compared.
std::wstring Folded(const std::wstring& text);

// Only "X:\..." names a place on a local drive; everything else (relative,
// drive-relative, rooted without a drive, \\server, \\.\, \\?\, \??\) is not,
// and neither is a text with wildcards, quotes, stream names or control characters.
bool IsPlainDrivePath(const std::wstring& path);

// Whether path is folder or lies below it, without regard to case; the
// second form takes both already folded.
bool IsAtOrBelow(const std::wstring& path, const std::wstring& folder);
bool IsAtOrBelowFolded(const std::wstring& path, const std::wstring& folder);

// The Windows folder: the system's, and the per-user one where it differs.
std::vector<std::wstring> WindowsFolders();
// The protected folders as the system names them (not yet canonical).
std::vector<std::wstring> ProtectedFolderTexts();

// The protected folders and the Windows folders, canonical, for judging.
struct ProtectedTable {
    std::vector<std::wstring> folders;  // canonical
    std::vector<std::wstring> folded;   // the same, folded
    std::vector<std::wstring> windows;  // the Windows folders, canonical and folded
};
// Made on first use and again when the profile list or the profiles folder
// changes (an account added or removed); shared by every judgement until then.
std::shared_ptr<const ProtectedTable> CurrentProtectedTable();

// Deletes a file through a handle on the file itself (a link is opened, not
// followed) once the handle's final path is the canonical one; kRefusedLink
// when it is not. By path where the system lacks those calls (Windows XP).
// Returns the Win32 code.
DWORD DeleteThroughHandle(const std::wstring& canonical);

// Hands a record to the observer, if one is set.
void Notify(const Record& record);

}  // namespace win::removal
