#pragma once
// The engine's parts for what a footprint has running: services (Services.cpp)
// and programs with windows (Programs.cpp). Lay adds what could not be laid to
// problems, Audit what is still there to present, one line each; Undo ends and
// removes whatever a run left.

#include "Footprint.h"

#include <string>
#include <vector>

namespace stage {

void LayServices(const Footprint& suite, std::vector<std::wstring>& problems);
void AuditServices(const Footprint& suite, std::vector<std::wstring>& present);
void UndoServices(const Footprint& suite);

void LayPrograms(const Footprint& suite, std::vector<std::wstring>& problems);
void AuditPrograms(const Footprint& suite, std::vector<std::wstring>& present);
void UndoPrograms(const Footprint& suite);

// Whether a process runs the program (its full path, without letter case);
// ends every such process.
bool IsRunning(const std::wstring& program);
void EndProcessesOf(const std::wstring& program);

}  // namespace stage
