#pragma once
// Small questions about paths that every removal step asks.

#include <string>

namespace win {

// Whether something exists at path: a file or folder (PathExists), a file
// only (FileExists), a folder only (FolderExists).
bool PathExists(const std::wstring& path);
bool FileExists(const std::wstring& path);
bool FolderExists(const std::wstring& path);

// Whether name is one file name with nothing that leads elsewhere: not empty,
// not "." or "..", no separator, drive, wildcard or other reserved character,
// no device name (with any extension), no trailing blank or dot. A name read
// from the registry is joined to a suite folder only when this holds.
bool IsBareFileName(const std::wstring& name);

}  // namespace win
