#pragma once
// Starting and awaiting child programs, uninstalling a product by its code,
// and finding the program that started us.

#include <windows.h>
#include <tlhelp32.h>

#include <string>

// "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" and the product code as given.
std::wstring UninstallKeyPath(const std::wstring& productCode);

// Exit code reported when no child ran.
constexpr DWORD kNoChildExitCode = 16389;

// Starts the command line hidden from nothing (default show state), waits
// without a time limit. True if the child ended with 0, or if the command line
// is absent or empty (then nothing starts and exitCode stays 16389).
bool RunProcess(const wchar_t* commandLine, DWORD& exitCode);

// Runs the product's own "UninstallString" quietly ("/I" becomes "/X",
// " /qn " appended), retrying every 5 s, up to 60 times, while another
// installation is in progress (1618). True if the last run ended with 0.
bool UninstallProductFromGUID(const std::wstring& productCode);

// The pause between two of those runs: Sleep unless replaced. Tests put a
// short one in place to run the whole budget; returns the one it replaces.
using RetryPause = VOID(WINAPI*)(DWORD milliseconds);
RetryPause SetRetryPause(RetryPause pause);

// Finds the snapshot entry of a process. False if the snapshot entry points or
// the snapshot are unavailable, or the process is not in the snapshot.
bool GetProcessEntryById(DWORD processId, PROCESSENTRY32W& entry);

// The full path of the process's first module (its executable). False, with
// path untouched, if the module snapshot or its first entry cannot be had.
bool GetProcessMainModulePath(DWORD processId, std::wstring& path);
