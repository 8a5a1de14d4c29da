#include "ProcessFlags.h"

unsigned char g_RebootNeeded = 0;
unsigned char g_ForceReboot = 0;
unsigned char g_RightToLeft = 0;
