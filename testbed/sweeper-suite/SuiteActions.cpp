// Custom-action library of the testbed suite packages.
#include <windows.h>
#include <msi.h>

// Fails whatever step runs it, so an uninstall stops unless the action's return
// code is ignored or the action is switched off.
extern "C" __declspec(dllexport) UINT __stdcall FailOnRemove(MSIHANDLE) { return ERROR_INSTALL_FAILURE; }
