#pragma once
// Flags of the whole process, shared by the entry, the older-suite removal and
// the common library's deletion and language helpers. Bytes, 0 or 1; written
// without locking, since the removal runs on one thread.

extern unsigned char g_RebootNeeded;  // a removal step left work for the next restart
extern unsigned char g_ForceReboot;   // option "f": restart without asking
// The user-interface language reads right to left: the common library sets it,
// the removal sequence lays out its message boxes by it.
extern unsigned char g_RightToLeft;
