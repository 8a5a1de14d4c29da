#pragma once
// Removing a folder tree for scratch state and staging. Never follows a link
// (junction or folder symbolic link): the link itself goes, what it points to
// stays. Read-only files are cleared first; failures are skipped.

#include <string>

namespace win {

// Removes path, a file or a folder with everything in it.
void RemoveTree(const std::wstring& path);

}  // namespace win
