// A custom-action library of the suite in miniature: an installer loads it
// from a temporary copy named MSIxxxx.TMP, and the copy is what Guardswitch
// finds among its parent's modules.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
