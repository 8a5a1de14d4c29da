#include "LaunchAndWait.h"

#include "Handle.h"

namespace {

constexpr DWORD kShortPathChars = 520;  // of a 521-character buffer
constexpr DWORD kCreationFlags = CREATE_DEFAULT_ERROR_MODE | CREATE_NEW_PROCESS_GROUP | NORMAL_PRIORITY_CLASS;

DWORD g_waitSlices = kLaunchWaitSlices;

// The program as it stands first on the command line: its short form when
// asked for and available, else the path itself, quoted if it holds a blank.
std::wstring ProgramText(const std::wstring& program, int shortPath)
{
    std::wstring text;
    if (shortPath == 1) {
        wchar_t buffer[kShortPathChars + 1] = {};
        DWORD n = GetShortPathNameW(program.c_str(), buffer, kShortPathChars);
        if (n != 0 && n <= kShortPathChars) text = buffer;
        else text = program.substr(0, kShortPathChars - 1);
    } else {
        text = program;
    }
    if (text.find(L' ') != std::wstring::npos && text.front() != L'"') text = L"\"" + text + L"\"";
    return text;
}

// Waits slice by slice, logging each time-out. True if the process ended.
bool AwaitEnd(HANDLE process, CLogFile& log)
{
    for (DWORD remaining = g_waitSlices; remaining > 0;) {
        if (WaitForSingleObject(process, kLaunchSliceMs) == WAIT_OBJECT_0) {
            log.Log(L"Uprooter.Exe, Completed successfully.");
            return true;
        }
        --remaining;
        log.Log(L"Uprooter.Exe, Timed out. %u seconds remains before we give up.", static_cast<unsigned>(remaining));
    }
    return false;
}

}  // namespace

bool LaunchAndWait(const std::wstring& program, const wchar_t* arguments, CLogFile& log, int shortPath)
{
    std::wstring commandLine = ProgramText(program, shortPath);
    if (arguments != nullptr && arguments[0] != L'\0') commandLine = commandLine + L" " + arguments;

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    log.Log(L"Uprooter.Exe, Trying to launch: %s", commandLine.c_str());

    PROCESS_INFORMATION raw{};
    if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, kCreationFlags, nullptr, nullptr,
                       &startup, &raw)) {
        win::ProcessInformation child;
        child.take(raw);
        log.Log(L"Uprooter.Exe, Launched OK");
        log.Log(L"Uprooter.Exe, We are waiting for execution to complete...");
        if (AwaitEnd(child.process.get(), log)) return true;
    }
    log.Log(L"Uprooter.Exe, *** ERROR *** launching program");
    return false;
}

LaunchAllowanceOverride::LaunchAllowanceOverride(DWORD slices) : previous_(g_waitSlices) { g_waitSlices = slices; }

LaunchAllowanceOverride::~LaunchAllowanceOverride() { g_waitSlices = previous_; }
