#pragma once
// Deleting files and folders that the suite may still hold: delete now, else
// move aside under a throw-away name in the same folder and delete that, else
// leave it for the next restart (files before their folder) and set the
// reboot-needed flag. Every deletion goes through the removal layer, which
// refuses what is not safe to touch (a refusal is handled as a failure).

#include <windows.h>

#include <functional>

// True if the file is gone now (or never existed); false if it was left for
// deletion at the restart.
bool RemoveFile(const wchar_t* path);

// True if the file was moved to a throw-away "uni" name in its folder (and
// deleted there, or left there for the restart), or did not exist; false if
// the move failed.
bool DeleteByRename(const wchar_t* path);

// Registers a file or folder for deletion at the next restart on the NT
// family; does nothing elsewhere. Does not set the reboot-needed flag: its
// callers do, when it answers true. False when the removal layer refused the
// path or the registration failed.
bool MarkForDeleteAtRestart(const wchar_t* path);

// Where the logged Nukedir writes: one finished run-log line per call.
using RunLogLine = std::function<void(const wchar_t* line)>;

// Deletes a folder tree: the files of a folder, then its sub-folders depth
// first, then the folder; what cannot go is left for the restart. Never
// enters a link (a link inside goes itself; a link given as the folder is
// refused), nor a folder named "RECYCLED..." at the root of a drive.
void Nukedir(const wchar_t* folder, const RunLogLine& log);
// The same without any log line.
void Nukedir(const wchar_t* folder);

// Deletes a double-terminated list of paths through the shell, silently and
// without the recycle bin. True if the shell reported success; false for an
// empty list, or when a path is refused or a folder tree holds a link.
bool ShellDelete(const wchar_t* list);
