#pragma once
// Flags of the whole process, shared by the entry and the older-suite removal.

extern unsigned char g_RebootNeeded;  // a removal step left work for the next restart
extern unsigned char g_ForceReboot;   // option "f": restart without asking
extern unsigned char g_RightToLeft;   // the user-interface language reads right to left
