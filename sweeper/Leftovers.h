#pragma once
// Removal of what the installers left: the suite's install folders (locked
// files are left for the next restart) and its registry keys in both views.
// Every deletion goes through the removal layer, which refuses what is not the
// suite's and never follows a link; these functions add the Sweeper's lines.

#include "Removal.h"
#include "SweeperLog.h"

#include <string>

namespace sweeper {

// Removes both install folders and the suite's keys. Results are only logged.
void RemoveLeftovers(SweeperLog& log);

// Deletes the folder with all it holds, then its parents while they are empty.
// Refuses (logged) what the removal layer refuses, and anything at or below the
// Windows folder. True when the folder existed and is gone afterwards.
bool RemoveProductDirectory(SweeperLog& log, std::wstring folder);

// Deletes the folder's files and subfolders depth-first and then the folder.
// Read-only files are reset first; files in use are left for the restart.
// Links (reparse points) are removed themselves, never followed. Paths that do
// not fit 264 units are skipped with a log line. The result is the folder's.
win::removal::Record DeleteAll(SweeperLog& log, const std::wstring& folder);

// Deletes HKLM\subkey with everything below it, in both views on a 64-bit
// Windows. Registry links below it go themselves. The result is that of the last view.
bool RemoveRegistryKey(SweeperLog& log, const wchar_t* subkey);

}  // namespace sweeper
