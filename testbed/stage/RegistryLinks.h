#pragma once
// The stager's engine for registry links.

#include "SuiteStage.h"

namespace stage {

void LayRegistryLinks(const Footprint& suite, std::vector<std::wstring>& problems);
// Each link that is still there (the link itself, whether or not its target
// is), or a key in its place.
void AuditRegistryLinks(const Footprint& suite, Audit& audit);
// Removes the links themselves: a deletion through a link would reach its target.
void UndoRegistryLinks(const Footprint& suite);
// The entry lies at or below a link (a snapshot follows links).
bool BelowRegistryLink(const Footprint& suite, const std::wstring& entry);

}  // namespace stage
