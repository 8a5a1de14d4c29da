#pragma once
// Removing a folder tree for scratch state and staging, through the removal
// layer: never follows a link (junction or folder symbolic link) met inside
// the tree, refuses what the layer refuses. Read-only files are cleared first;
// failures are skipped.

#include <string>

namespace win {

// Removes path, a file or a folder with everything in it.
void RemoveTree(const std::wstring& path);

}  // namespace win
