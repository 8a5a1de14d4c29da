#pragma once
// Inside the removal layer: canonical paths, the protected-folder sources and
// the observer's one entry point.

#include "Removal.h"

namespace win::removal {

// Full path with the long name of every existing component (true letter case)
// and no trailing backslash. linkMet is set when an existing component is a
// link; error when a component could not be examined. False only when the
// text gives no full path.
bool MakeCanonical(const std::wstring& text, std::wstring& out, bool& linkMet, DWORD& error);

// Whether path is folder or lies below it, without regard to case.
bool IsAtOrBelow(const std::wstring& path, const std::wstring& folder);

// The Windows folder: the system's, and the per-user one where it differs.
std::vector<std::wstring> WindowsFolders();
// The protected folders as the system names them (not yet canonical).
std::vector<std::wstring> ProtectedFolderTexts();

// Hands a record to the observer, if one is set.
void Notify(const Record& record);

}  // namespace win::removal
