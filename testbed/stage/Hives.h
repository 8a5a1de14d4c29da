#pragma once
// The stager's engine for the hives of users who are not logged on.

#include "SuiteStage.h"

namespace stage {

// Saves each user's hive file into his profile folder.
void LayUserHives(const Footprint& suite, std::vector<std::wstring>& problems);
// A hive the removal left loaded, and each hive file as it now loads.
void AuditUserHives(const Footprint& suite, Audit& audit);
// Unloads what a run left loaded; removes the hive files and their folders.
void UndoUserHives(const Footprint& suite);

}  // namespace stage
