#pragma once
// The older suite's running parts: its tray programs and its agent's services,
// closed and stopped before its uninstallers run. Discovery and the
// uninstallers themselves are methods of reloUni.

#include "reloUni.h"

#include <windows.h>

#include <string>

// The suite's install folder: the anti-virus product folder of the platform
// facts ("Zelmar\\Managed Quellor" in Program Files), empty when unknown.
std::wstring SuiteInstallFolder();

// Tells the tray program " /CloseAll", then ends the suite's other desktop
// programs by image name, the tray program's own image between the two groups.
void CloseTrayPrograms(reloUni& uni);

// Stops the agent's services (through " /Stop" and by ending its programs on
// Windows without the NT kernel), then deletes four services with sc.exe.
void StopAgentServices(reloUni& uni);
