// Reports the platform facts as this program sees them, one line each, into
// the file named by its argument. Started by the platform tests under the
// Windows versions that Wine reports per program.
#include "PlatformInfo.h"

#include <cstdio>

namespace {

UINT g_requestedFlags = 0xFFFFFFFF;

BOOL WINAPI RecordRestart(UINT flags, DWORD)
{
    g_requestedFlags = flags;
    return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) return 2;
    FILE* out = _wfopen(argv[1], L"w");
    if (out == nullptr) return 3;
    winVersion os;
    fwprintf(out, L"os=%ls|%d|%d|%d|%ls\n", os.OsName().c_str(), os.OsId(), os.IsNT() ? 1 : 0, os.MajorVersion(),
             os.VersionText().c_str());
    const OSVERSIONINFOEXW& record = GetPlatformVersion();
    fwprintf(out, L"platform=%lu|%lu.%lu\n", record.dwPlatformId, record.dwMajorVersion, record.dwMinorVersion);
    g_RestartRequest = RecordRestart;
    int result = RestartComputer();
    fwprintf(out, L"restart=%u|%d\n", g_requestedFlags, result);
    fclose(out);
    return 0;
}
