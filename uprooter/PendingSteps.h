#pragma once
// Steps of the older suite's removal that this build does not carry yet. Each
// stands in its place in the sequence, removes nothing and logs nothing; a
// step that lands replaces its entry here.

class reloUni;

namespace pending {

// The legacy personal firewalls, in the sequence's order.
void RemoveTarvoFirewall(reloUni& uni);
void RemoveManagedFirewall(reloUni& uni);
void RemovePersonalFirewallPlus(reloUni& uni);
void RestoreWindowsFirewall(reloUni& uni);
void RemoveLegacyFirewallKeys(reloUni& uni);

// Component actions.

}  // namespace pending
