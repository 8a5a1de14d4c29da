#pragma once
// Unregistering the suite's COM server modules before their files go.

#include <windows.h>

// Loads the module into this process and calls its DllUnregisterServer, with
// COM initialised for the thread and without the system's error boxes for a
// missing or unreadable file; the module is released, COM uninitialised and
// the error mode restored afterwards. A module that does not load or lacks
// the export is passed over.
void UnregisterServerInProcess(const wchar_t* module);
