#pragma once
// Helpers of the stager's engine (the places themselves are in Footprint.h).

#include "Footprint.h"
#include "Handle.h"

#include <string>

namespace stage {

// "HKLM(64-bit view)\", "HKCR(32-bit view)\", or "HKLM\" on 32-bit Windows;
// "HKCU\" in every view.
std::wstring RootName(HKEY root, win::RegView view);

std::wstring Lower(std::wstring text);
bool StartsWith(const std::wstring& text, const std::wstring& prefix);
// entry is item or lies below it (names compared without letter case).
bool Names(const std::wstring& entry, const std::wstring& item);
std::wstring Parent(const std::wstring& path);
bool PathExists(const std::wstring& path);
// Starts the command line without a window and waits; the exit code, or the
// start's error.
DWORD RunAndWait(std::wstring commandLine);

}  // namespace stage
