#pragma once
// The common library's deletions reach the file system here and nowhere else:
// one call per kind, each judged by the removal layer (win32/Removal.h), which
// refuses malformed paths, protected folders and paths through links. They
// answer as the Win32 call they stand for: true, or false with the reason in
// GetLastError (the layer's code when it refused).

#include <windows.h>

namespace removal_calls {

// DeleteFileW (a read-only attribute is cleared first).
bool DeleteOneFile(const wchar_t* path);
// RemoveDirectoryW on an empty folder.
bool RemoveOneFolder(const wchar_t* path);
// A link itself, never what it leads to; one that cannot go now is registered
// for deletion at the restart (on the NT family), which answers false too and
// sets leftForRestart.
bool RemoveOneLink(const wchar_t* path, bool& leftForRestart);
// MoveFileExW without flags: no replacing, same volume.
bool MoveAside(const wchar_t* from, const wchar_t* to);
// MoveFileExW(path, none, MOVEFILE_DELAY_UNTIL_REBOOT).
bool DeleteAtRestart(const wchar_t* path);
// Whether the layer lets path be deleted; for deletions that are only written
// down (the WinInit.Ini branch).
bool MayDelete(const wchar_t* path);
// SHFileOperationW(FO_DELETE) of a double-terminated list; returns its code.
// Refused as a whole (ERROR_ACCESS_DENIED without a call) when any path is
// refused or any folder tree holds a link: the shell follows folder links and
// would delete what they lead to.
int ShellDeleteList(const wchar_t* list);

}  // namespace removal_calls
