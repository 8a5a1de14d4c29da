// A program that logs as the common library does, through the process-wide
// manager and the real configuration folder: one Info event per argument, with
// the last error appended. The first event also starts the library, which must
// neither disturb the error being logged nor the caller's: exit 0 when kept.

#include "Log.h"

int wmain(int argc, wchar_t** argv)
{
    for (int i = 1; i < argc; ++i) {
        SetLastError(ERROR_ACCESS_DENIED);
        AGS_LOG_WITH_ERROR(LogUtils::Info, GetLastError(), L"%s", argv[i]);
        if (GetLastError() != ERROR_ACCESS_DENIED) return 1;
    }
    return 0;
}
