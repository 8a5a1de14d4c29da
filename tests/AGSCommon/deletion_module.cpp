// A library the deletion tests load, so that its file is in use as a module is.
#include <windows.h>

extern "C" __declspec(dllexport) int DeletionModuleMarker() { return 1; }
