// Leaves one file or folder for deletion at the next restart, as the common
// library does on the platform this program is told it runs on (Wine's
// per-program Version). Exit code: platform identifier * 10 + reboot-needed flag.
#include "FileName.h"
#include "PlatformInfo.h"
#include "ProcessFlags.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) return 100;
    FileName(argv[1]).MarkDeleteAfterReboot();
    return static_cast<int>(GetPlatformVersion().dwPlatformId) * 10 + g_RebootNeeded;
}
