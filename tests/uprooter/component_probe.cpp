// Runs the agent service step in a process of its own, so that a test can make
// Wine report Windows without the NT kernel to it alone. Argument: the log.
#include "Components.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) return 2;
    reloUni uni;
    uni.Log() = argv[1];
    uni.Log().Open();
    uni.FindComponents();
    StopAgentServices(uni);
    return 0;
}
