#pragma once
// The older suite's personal firewalls, whichever generations are present:
// the variant below the Windows folder, the managed firewall, the consumer
// edition with its API package and the host-intrusion firewall, and the older
// consumer edition's data and keys. The sequence calls the five operations in
// this order and ignores their results.

#include "LogFile.h"

#include <string>

class reloUni;

// Each writes where the removal object's log does, through a log of its own.
// The first two are true if the firewall folder's path could be formed, the
// third if the program-files folder is known.
bool RemoveTarvoFirewall(reloUni& uni);
bool RemoveManagedFirewall(reloUni& uni);
bool RemovePersonalFirewallPlus(reloUni& uni);
void RestoreWindowsFirewall(reloUni& uni);
// Touches only keys; it writes no log line.
void RemoveLegacyFirewallKeys();

enum class FirewallVariant { Tarvo, Managed };

// The folder of a firewall variant; empty when its base folder is unknown.
std::wstring FindFirewallFolder(FirewallVariant variant);

// Shuts the firewall in folder down and removes the folder, but only when it
// holds its shell-service module; the drivers go in any case. The launches
// write to log.
void ShutDownAndRemoveFirewallFolder(const std::wstring& folder, CLogFile& log);

// Unregisters in process every module of the string table's firewall list
// that exists in folder.
void UnregisterFirewallModules(const std::wstring& folder);

// On the NT family, each firewall driver whose file is in the drivers folder
// loses the file and its service key.
void RemoveFirewallDrivers();

// The older consumer edition's data folders and status file.
void RemoveConsumerFirewallData();
