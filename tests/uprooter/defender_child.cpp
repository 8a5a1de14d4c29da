// Restores the Defender state as the removal does, with the run log at the
// path given: defender_child.exe <run log>. A test runs it under a Windows
// version chosen through Wine's per-program settings.
#include "DefenderRestore.h"
#include "LogFile.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) return 2;
    RunLog() = argv[1];
    RunLog().Open();
    RestoreDefenderState();
    return 0;
}
