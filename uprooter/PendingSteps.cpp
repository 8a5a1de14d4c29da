#include "PendingSteps.h"

namespace pending {

void FindComponents(reloUni&) {}
void ExtendSearchPath(reloUni&) {}
void RestoreSearchPath(reloUni&) {}
void CloseTrayPrograms(reloUni&) {}
void StopAgentServices(reloUni&) {}
void RunComponentUninstallers(reloUni&) {}
void RestoreDefenderState(reloUni&) {}
void DeleteKeyFromAllUsers(reloUni&, const wchar_t*) {}
int CheckAndRestoreScriptEngine() { return 0; }

void RemoveTarvoFirewall(reloUni&) {}
void RemoveManagedFirewall(reloUni&) {}
void RemovePersonalFirewallPlus(reloUni&) {}
void RestoreWindowsFirewall(reloUni&) {}
void RemoveLegacyFirewallKeys(reloUni&) {}
void RemoveBrowserProtectionRegistrations(reloUni&) {}
void RemoveOldScanners(reloUni&) {}
void UnregisterComponentFiles(reloUni&) {}
void UnregisterAgentFolder(reloUni&) {}
void RemoveIntrusionPreventionFiles(reloUni&) {}
void RemoveRegistrationLeftovers(reloUni&) {}
void CleanMisDirectories(reloUni&) {}
void RemoveProgramGroups(reloUni&) {}
void RemoveStartupEntries(reloUni&) {}

}  // namespace pending
