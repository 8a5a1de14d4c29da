#include "LaunchAndWait.h"

#include "Handle.h"
#include "Launch.h"
#include "TimeBudget.h"

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
        if (win::timing::WaitForChild(process, kLaunchSliceMs) == WAIT_OBJECT_0) {
            log.Log(L"Uprooter.Exe, Completed successfully.");
            return true;
        }
        --remaining;
        log.Log(L"Uprooter.Exe, Timed out. %u seconds remains before we give up.", static_cast<unsigned>(remaining));
    }
    return false;
}

}  // namespace

bool LaunchAndWait(const std::wstring& program, const wchar_t* arguments, CLogFile& log, int shortPath,
                   const LaunchScope& scope)
{
    namespace launch = win::launch;
    launch::CommandLine line;
    const bool split = launch::Split(program, line);
    std::wstring commandLine = !split ? program : line.quoted ? line.written + line.rest
                                                              : ProgramText(line.program, shortPath) + line.rest;
    if (arguments != nullptr && arguments[0] != L'\0') commandLine = commandLine + L" " + arguments;
    log.Log(L"Uprooter.Exe, Trying to launch: %s", commandLine.c_str());

    launch::Judgement judged;
    judged.path = program;
    if (split) judged = launch::Judge(line.program, scope.folders);
    // A missing program fails as its start would.
    if (!judged.allowed() && judged.verdict != launch::Verdict::Missing)
        log.Log(L"Uprooter.Exe, Refusing to launch %s: %s", judged.path.c_str(), launch::Reason(judged.verdict));
    launch::StartOptions options;
    options.flags = kCreationFlags;
    options.show = SW_HIDE;
    options.nativeSystemFolder = scope.nativeSystemFolder;
    win::ProcessInformation child;
    if (launch::Start(judged, commandLine, options, child)) {
        log.Log(L"Uprooter.Exe, Launched OK");
        log.Log(L"Uprooter.Exe, We are waiting for execution to complete...");
        if (AwaitEnd(child.process.get(), log)) return true;
    }
    log.Log(L"Uprooter.Exe, *** ERROR *** launching program");
    return false;
}

LaunchAllowanceOverride::LaunchAllowanceOverride(DWORD slices) : previous_(g_waitSlices) { g_waitSlices = slices; }

LaunchAllowanceOverride::~LaunchAllowanceOverride() { g_waitSlices = previous_; }
