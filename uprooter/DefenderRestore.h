#pragma once
// Windows Defender's state as the older suite found it: the suite recorded
// whether Defender was enabled, and the removal enables it again through
// Defender's own client library. Every line goes to the process-wide run log.

#include <windows.h>

#include <string>

// Reads "PrevWDStatus" and, when it records an enabled Defender, enables it.
void RestoreDefenderState();

// Loads Defender's client library and enables Defender unless it is already
// enabled; state receives what the library reported. True if Defender is
// enabled afterwards. Leaves the state alone on a Windows 8 workstation.
bool EnableDefender(LONG& state);

// The client library's path for this version of Windows (not tested for
// existence); at most 520 characters. False when none could be determined.
bool FindDefenderLibrary(std::wstring& path);
