// Sweeper.exe: the configuration-driven uninstaller of the Zelmar Endpoint suite.
#include "SweeperMain.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int)
{
    return sweeper::RunSweeper(commandLine ? commandLine : L"");
}
