#pragma once
// Uprooter's entry: prompt, single instance, and the choice between the older
// and the newer suite.

#include "LogFile.h"
#include "TimeBudget.h"

#include <windows.h>

#include <string>

// Runs the whole program; the result is the process exit code.
int UprooterMain(HINSTANCE instance);

// True if another Uprooter holds the machine-wide lock or the lock could not
// be created. The lock is taken on the first call and held until exit.
bool IsAnotherInstanceRunning();

// True if the installed agent's major version is below 10, or, when no
// agent's version can be read, if an older suite's removal is unfinished.
bool IsOlderProductInstalled();

// The mark of an older suite's removal under way: set before its first step,
// cleared after its last. IsOlderRemovalUnfinished is true while it is set or
// while the older suite's anti-virus core key is there.
// The mark also keeps the agent's menu entry, which ReadMarkedMenuEntry gives.
void MarkOlderRemovalUnfinished();
void ClearOlderRemovalMark();
bool IsOlderRemovalUnfinished();
bool ReadMarkedMenuEntry(std::wstring& subfolder, std::wstring& link);

// The leading number of a dotted version, read as wcstol reads it (0 when
// there is none).
long MajorVersion(const std::wstring& version);

// Starts Sweeper.exe from the program's folder with "/qn" and waits for it.
// True when Sweeper was found and a child process ran, whatever its exit
// code; false when it was not found or could not be started.
bool LaunchCleanupUtility();

// The run log's path: "Uprooter.log" in the folder of the program that
// started us, or in the root of the current drive when that is unknown.
std::wstring RunLogPathBesideParent();

// One run-log line: how long a step took, and how much of it went to child
// programs, to fixed waits and polls, and to the program's own work.
void LogStepTime(CLogFile& log, const wchar_t* step, const win::timing::Split& split);

// The older suite's removal. Returns the exit code: 1 when the caller is no
// administrator, else 0. The second form takes the command line to obey.
int RemoveOlderProduct(HINSTANCE instance);
int RemoveOlderProduct(HINSTANCE instance, const wchar_t* commandLine);

// The administrator check of the older suite's removal (HasAdminRights as
// shipped); a test that must see the refusal replaces it.
using AdminRightsCheck = bool (*)();
extern AdminRightsCheck g_AdminRightsCheck;
