#include "PendingSteps.h"

namespace pending {

void RemoveTarvoFirewall(reloUni&) {}
void RemoveManagedFirewall(reloUni&) {}
void RemovePersonalFirewallPlus(reloUni&) {}
void RestoreWindowsFirewall(reloUni&) {}
void RemoveLegacyFirewallKeys(reloUni&) {}

}  // namespace pending
