// A program that logs as the common library does, through the process-wide
// manager and the real configuration folder.
//   logging_child <text>...   one Info event per argument, with the last error
//                             appended. The first event also starts the library,
//                             which must neither disturb the error being logged
//                             nor the caller's: exit 0 when kept.
//   logging_child --lines <n> n Info events "line <i>" as fast as it can, then exits.
//   logging_child --late-lines <n>
//                             "first" at once, then "line <i>" n times as
//                             configured, then, from an exit handler that runs
//                             after the library's writer has shut down, n
//                             events "late <i>".

#include "Log.h"

#include <cstdlib>
#include <cwchar>

namespace {

int g_lateLines = 0;

void LogLateLines()
{
    for (int i = 0; i < g_lateLines; ++i) AGS_LOG(LogUtils::Info, L"late %d", i);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 3 && wcscmp(argv[1], L"--lines") == 0) {
        for (int i = 0, n = _wtoi(argv[2]); i < n; ++i) AGS_LOG(LogUtils::Info, L"line %d", i);
        return 0;
    }
    if (argc == 3 && wcscmp(argv[1], L"--late-lines") == 0) {
        // The library starts with a line written at once, before the handler is
        // registered; the asynchronous writer starts after it, so it shuts down first.
        LogUtils::LogEvent(__FILE__, __LINE__, LogUtils::ModeSynchronous, LogUtils::Info, "_T(\"AGSCommon\")",
                           LogUtils::getLogManager(), false)(L"AGSCommon", L"first");
        g_lateLines = _wtoi(argv[2]);
        std::atexit(LogLateLines);
        for (int i = 0; i < g_lateLines; ++i) AGS_LOG(LogUtils::Info, L"line %d", i);
        return 0;
    }
    for (int i = 1; i < argc; ++i) {
        SetLastError(ERROR_ACCESS_DENIED);
        AGS_LOG_WITH_ERROR(LogUtils::Info, GetLastError(), L"%s", argv[i]);
        if (GetLastError() != ERROR_ACCESS_DENIED) return 1;
    }
    return 0;
}
