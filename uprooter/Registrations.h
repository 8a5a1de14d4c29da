#pragma once
// The registrations the older suite's uninstallers leave behind: Windows
// Installer records of the web-safety component, COM registrations, Run
// values, the suite's keys, context-menu handlers, the on-access scanner's
// service key, program groups and startup entries. Every deletion goes through
// the removal layer; none of these steps reports a result.

#include <string>

class reloUni;

// The web-safety component's Windows Installer records and uninstall keys.
void RemoveBrowserProtectionRegistrations(reloUni& uni);

// User notification data, COM registrations, Run values, the main key, the
// suite's keys and handlers, and the service key left without a start type.
void RemoveRegistrationLeftovers(reloUni& uni);

// The agent's recorded menu entry: the subfolder ("szMenuDir" followed by
// "szMenuSubDir") and the link, only when all three values are non-empty.
bool ReadMenuEntry(std::wstring& subfolder, std::wstring& link);

// The known program groups and the one the agent recorded under its "Menu" key.
void RemoveProgramGroups(reloUni& uni);

// Deletes Programs\<subfolder><link>.lnk and then the group folder
// Programs\<subfolder> with its content, in the common Programs folder on the
// NT family and the user's elsewhere. Refused with a log line, touching
// nothing, unless the group folder lies strictly below the Programs folder
// and the link is a bare name.
void DeleteStartMenuLink(const wchar_t* subfolder, const wchar_t* link, reloUni& uni);

// The Virtual PC exclusion values and the tray program's startup link.
void RemoveStartupEntries(reloUni& uni);

// A braced GUID packed as Windows Installer keys its records: the first three
// groups reversed, every following byte with its two hex digits swapped.
// Empty for text that is not a braced GUID.
std::wstring PackedCode(const wchar_t* braced);
