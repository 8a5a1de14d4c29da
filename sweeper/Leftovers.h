#pragma once
// Removal of what the installers left: the suite's install folders (locked
// files are left for the next restart) and its registry keys in both views.

#include "SweeperLog.h"

#include <string>

namespace sweeper {

// Removes both install folders and the suite's keys. Results are only logged.
void RemoveLeftovers(SweeperLog& log);

// Whether a folder must never be deleted: empty or relative text, wildcards, a
// drive root, the Windows folder or anything in it (the system folders), a
// well-known folder (Program Files, Common Files, ProgramData, the profiles
// folder, the user's profile) or a folder above one.
bool IsProtectedFolder(const std::wstring& folder);

// Deletes the folder with all it holds, then its parents while they are empty.
// Refuses protected folders (logged). True when the folder is gone afterwards.
bool RemoveProductDirectory(SweeperLog& log, std::wstring folder);

// Deletes the folder's files and subfolders depth-first and then the folder.
// Read-only files are reset first; files in use are left for the restart.
// Links (reparse points) are removed themselves, never followed. Paths that do
// not fit 264 units are skipped with a log line.
void DeleteAll(SweeperLog& log, const wchar_t* folder);

// Deletes HKLM\subkey with everything below it, in both views on a 64-bit
// Windows. The result is that of the last view.
bool RemoveRegistryKey(SweeperLog& log, const wchar_t* subkey);

}  // namespace sweeper
