#pragma once
// Flags of the whole process, shared by the entry and the older-suite removal.
// The right-to-left flag, g_RightToLeft, is set by the common library and so
// lives there.

#include "PlatformInfo.h"

extern unsigned char g_RebootNeeded;  // a removal step left work for the next restart
extern unsigned char g_ForceReboot;   // option "f": restart without asking
