// A program that logs as the common library does, through the process-wide
// manager and the real configuration folder: one Info event per argument.

#include "Log.h"

int wmain(int argc, wchar_t** argv)
{
    for (int i = 1; i < argc; ++i) AGS_LOG(LogUtils::Info, L"%s", argv[i]);
    return 0;
}
