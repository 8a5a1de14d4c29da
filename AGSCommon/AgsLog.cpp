#include "AgsLog.h"

#include "Handle.h"

#include <cstdio>

namespace ags {

// Until the configurable logging library is linked in, entries go to the
// debugger output, where a DBWIN listener or a debugger can read them.
void Log(const char* /*file*/, int /*line*/, Severity severity, const wchar_t* format, ...)
{
    win::LastErrorKeeper keep;
    wchar_t text[4096] = {};
    int used = _snwprintf(text, 64, L"AGSCommon [%d] ", static_cast<int>(severity));
    if (used < 0) used = 0;
    va_list args;
    va_start(args, format);
    _vsnwprintf(text + used, 4094 - used, format, args);
    va_end(args);
    text[4095] = L'\0';
    OutputDebugStringW(text);
}

}  // namespace ags
