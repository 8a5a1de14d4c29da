#pragma once
// Sweeper's entry and main flow: administrator check, configuration, command
// line, modules, dependencies, leftover removal when anything failed, outcome.

#include <windows.h>

#include <string>
#include <vector>

namespace sweeper {

// The token query the administrator check makes; GetTokenInformation unless a
// test puts another in place (the refusal path cannot be reached under Wine,
// whose process is always an administrator).
using TokenInformationQuery = BOOL(WINAPI*)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);
void SetTokenInformationQuery(TokenInformationQuery query);

// True when the process token holds the built-in Administrators group (its
// attributes are not looked at), and always on Windows 9x.
bool IsAdministrator();

// The command line's tokens: split at blanks and tabs; double quotes group
// and stay in the token.
std::vector<std::wstring> SplitCommandLine(const wchar_t* commandLine);

// The whole run; returns the process exit code (0, or 1 for no administrator
// or an unusable configuration).
int RunSweeper(const wchar_t* commandLine);

}  // namespace sweeper
