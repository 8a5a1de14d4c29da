#pragma once
// The stager's engine for shell links (.lnk files): laid through the shell's
// link object, audited, undone. SuiteStage.cpp calls one function per phase.

#include "SuiteStage.h"

#include <string>
#include <vector>

namespace stage {

void LayShortcuts(const Footprint& suite, std::vector<std::wstring>& problems);
// The suite's links still there, and another product's links that are gone or
// no longer lead to their target.
void AuditShortcuts(const Footprint& suite, std::vector<std::wstring>& stillPresent,
                    std::vector<std::wstring>& plantedMissing);
// Deletes every link laid, and a folder that staging made for one when it is empty.
void UndoShortcuts(const Footprint& suite, const Snapshot& before);
// Whether entry names one of the suite's links (planted: another product's).
bool NamesShortcut(const Footprint& suite, const std::wstring& entry, bool planted);

}  // namespace stage
