#include "SweeperMain.h"

#include "Handle.h"
#include "Leftovers.h"
#include "SweeperConfig.h"
#include "SweeperLog.h"
#include "SweeperTables.h"
#include "TimeBudget.h"
#include "Uninstall.h"

#include <string>
#include <vector>

namespace sweeper {

namespace {

TokenInformationQuery g_tokenQuery = GetTokenInformation;

// The text goes through printf-style formatting first; none of the texts holds a '%'.
void ShowMessage(const wchar_t* text, UINT icon)
{
    wchar_t message[1024];
    FormatInto(message, 1024, text);
    MessageBoxW(nullptr, message, kMessageCaption, MB_OK | icon | MB_SETFOREGROUND | MB_TOPMOST);
}

// One line per step: how long it took, and how much of that went to child
// programs, to fixed waits and polls, and to Sweeper's own work.
void LogTime(SweeperLog& log, const std::wstring& step, const win::timing::Split& split)
{
    log.Write((L"Timing: " + win::timing::Describe(step.c_str(), split)).c_str());
}

}  // namespace

std::vector<std::wstring> SplitCommandLine(const wchar_t* commandLine)
{
    std::vector<std::wstring> tokens;
    std::wstring current;
    bool quoted = false, inToken = false;
    for (const wchar_t* p = commandLine; *p; ++p) {
        if (*p == L'"') quoted = !quoted;
        if (!quoted && (*p == L' ' || *p == L'\t')) {
            if (inToken) tokens.push_back(current);
            current.clear();
            inToken = false;
            continue;
        }
        current.push_back(*p);
        inToken = true;
    }
    if (inToken) tokens.push_back(current);
    return tokens;
}

void SetTokenInformationQuery(TokenInformationQuery query) { g_tokenQuery = query ? query : GetTokenInformation; }

bool IsAdministrator()
{
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    if (!GetVersionExW(&version)) return false;
    if (version.dwPlatformId == VER_PLATFORM_WIN32s || version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) return true;

    win::Handle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
    DWORD size = 0;
    if (!g_tokenQuery(token.get(), TokenGroups, nullptr, 0, &size) && GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return false;
    win::GlobalMemory buffer(GlobalAlloc(GPTR, size));
    if (!buffer || !g_tokenQuery(token.get(), TokenGroups, buffer.get(), size, &size)) return false;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    win::Sid administrators;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                  administrators.put()))
        return false;
    const auto* groups = static_cast<const TOKEN_GROUPS*>(buffer.get());
    for (DWORD i = 0; i < groups->GroupCount; ++i)
        if (EqualSid(groups->Groups[i].Sid, administrators.get())) return true;
    return false;
}

int RunSweeper(const wchar_t* commandLine)
{
    SweeperLog& log = GetSweeperLog();
    log.Write(L"Starting Sweeper");
    win::timing::Clock whole, step;

    if (!IsAdministrator()) {
        const wchar_t* text = L" Zelmar Endpoint Sweeper requires administrator rights. Uninstaller cannot continue.";
        log.Write(text);
        // The command line is not read yet, so even "/qn" gets the box.
        ShowMessage(text, MB_ICONERROR);
        return 1;
    }

    CSweeperConfigInfoParser parser(L",", log);
    if (!parser.ReadConfiguration()) {
        log.Write(L"Cannot read configuration XML");
        return 1;
    }

    log.Printf(L"Commandline : %ls  ", commandLine);
    bool silent = false;
    for (const std::wstring& token : SplitCommandLine(commandLine)) {
        if (_wcsicmp(token.c_str(), L"/qn") == 0) {
            silent = true;
            log.Write(L"Uninstalling silently");
        }
    }

    const SweeperConfiguration& config = TheConfiguration();
    Uninstaller uninstaller(log, config);
    bool clean = true;
    LogTime(log, L"start and configuration", step.Lap());
    log.Write(L"Removing Modules");
    for (size_t i = 0; i < config.modules.size(); ++i) {
        if (!uninstaller.UninstallEntry(i, false)) {
            log.Printf(L"Module  %ls uninstallation failed", config.modules[i].Name.c_str());
            clean = false;
        }
        LogTime(log, L"module " + config.modules[i].Name, step.Lap());
    }
    log.Write(L"Removed Modules");
    log.Write(L"Removing Dependencies");
    if (config.dependencies.empty()) log.Write(L"No Dependencies are configured to uninstall);");
    for (size_t i = 0; i < config.dependencies.size(); ++i) {
        if (!uninstaller.UninstallEntry(i, true)) clean = false;
        LogTime(log, L"dependency " + config.dependencies[i].Name, step.Lap());
    }
    log.Write(L"Removed Dependencies");

    const wchar_t* done = L"Sweeper has successfully removed Zelmar Endpoint guard. Please restart your system.";
    const wchar_t* attempted = L"Sweeper has attempted to clean up Zelmar Endpoint guard. Please restart your system.";
    if (clean) {
        log.Write(L"Clean uninstallation completed successfully");
    } else {
        log.Write(L"Cleaning up left overs");
        RemoveLeftovers(log);
        LogTime(log, L"leftovers", step.Lap());
        log.Write(attempted);
    }
    // The message box waits for the user, which is no part of the removal's time.
    LogTime(log, L"Sweeper", whole.Lap());
    if (!silent) ShowMessage(clean ? done : attempted, clean ? MB_ICONINFORMATION : MB_ICONERROR);
    return 0;
}

}  // namespace sweeper
