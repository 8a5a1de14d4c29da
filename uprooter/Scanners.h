#pragma once
// The older suite's e-mail and script scanners switched off, unhooked and
// removed, and its COM libraries, local servers and intrusion-prevention files
// unregistered and deleted. The removal object's methods RemoveOldScanners and
// uninstEmailScanner belong here too. File names read from the registry are
// taken only as bare names inside the suite's folders; any other is refused
// with a log line.

#include "reloUni.h"

#include <windows.h>

// The suite's scanner files and masks; docs/configuration.md lists the same.
struct ScannerNames {
    // The scanner engine library of cores before 14.2, in "\\Qengine" or "\\Qengine64".
    const wchar_t* oldEngineLibrary;
    // Masks of COM server modules unregistered below the install folder.
    const wchar_t* agentMasks[2];
    const wchar_t* engineMask;
    // In the system folder.
    const wchar_t* intrusionInterface;
};

constexpr ScannerNames kScannerNames = {
    L"qlScanEng.dll",
    {L"tvPlugin*.dll", L"tvAddin*.dll"},
    L"qlScnMod*.dll",
    L"\\BarAPI.dll",
};

// Sets "OpState" to 2 in the e-mail scan and script scan keys (old form, else
// new form), then gives the scanners three seconds to stop.
void DisableScannerOperation();

// Unregisters and deletes the script scanner libraries the suite's settings
// name, removes their values and the script scan keys.
void RemoveScriptScannerFiles(reloUni& uni);

// Unregisters the newer core's script scanner libraries with regsvr32: the
// 64-bit one first on 64-bit Windows, then the 32-bit one.
void uninstScriptScanner2(reloUni& uni);

// Unregisters the masked modules and the string table's COM libraries and
// local servers below the install folder.
void UnregisterComponentFiles(reloUni& uni);

// Unregisters the libraries (in-process) or local servers (" /UnregServer")
// named by the string table from first while below last, in folder; a list
// ends early at an empty entry or "0".
void UnregisterDllList(const std::wstring& folder, UINT first, UINT last, CLogFile& log);
void UnregisterExeList(const std::wstring& folder, UINT first, UINT last, CLogFile& log);

// Deletes the intrusion-prevention interface library and the string table's
// drivers; what cannot go now is left for the restart.
void RemoveIntrusionPreventionFiles(reloUni& uni);

