// Reports the platform facts as this program sees them into the file named by
// its argument. Started by the platform tests under the Windows versions that
// Wine reports per program; its restart request is recorded, never made.
#include "PlatformInfo.h"

#include <cstdio>

namespace {

UINT g_requestedFlags = 0xFFFFFFFF;
BOOL g_privilegeEnabled = FALSE;

BOOL WINAPI RecordRestart(UINT flags, DWORD)
{
    g_requestedFlags = flags;
    HANDLE token = nullptr;
    PRIVILEGE_SET set{};
    set.PrivilegeCount = 1;
    LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &set.Privilege[0].Luid);
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        PrivilegeCheck(token, &set, &g_privilegeEnabled);
        CloseHandle(token);
    }
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
    fwprintf(out, L"restart=%u|%d|%d\n", g_requestedFlags, result, g_privilegeEnabled ? 1 : 0);
    fclose(out);
    return 0;
}
