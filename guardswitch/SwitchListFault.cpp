#include "SwitchListFault.h"

#include <windows.h>

#include <cstdio>

// Goes to the debugger output until the logging library is linked; then it
// becomes a LogEvent (source ".\argswitch", this line, severity Debug, module
// "TmpLogger", mode 2, not localised) called with the blade "TmpLogger".
void ReportSwitchListFault(int line, const char* text)
{
    char message[160];
    std::snprintf(message, sizeof(message), ".\\argswitch(%d): TmpLogger: %s", line, text);
    OutputDebugStringA(message);
}
