#include "PendingSteps.h"

namespace pending {

void RemoveTarvoFirewall(reloUni&) {}
void RemoveManagedFirewall(reloUni&) {}
void RemovePersonalFirewallPlus(reloUni&) {}
void RestoreWindowsFirewall(reloUni&) {}
void RemoveLegacyFirewallKeys(reloUni&) {}
void RemoveBrowserProtectionRegistrations(reloUni&) {}
void UnregisterAgentFolder(reloUni&) {}
void RemoveRegistrationLeftovers(reloUni&) {}
void RemoveProgramGroups(reloUni&) {}
void RemoveStartupEntries(reloUni&) {}

}  // namespace pending
