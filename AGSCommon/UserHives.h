#pragma once
// Per-user settings of the suite in every user's registry hive, including the
// hives of users who are not logged on, which are loaded for the call.

#include <windows.h>

#include <string>
#include <vector>

// Key-name and profile-path buffers, terminator included.
constexpr size_t kUserHiveChars = 260;

// Removes "SOFTWARE\\Zelmar\\<key>" with its tree below every key of
// HKEY_USERS (logged-on users' hives in place, the others loaded from their
// profile folders), and "SOFTWARE\\Zelmar" itself where nothing but values is
// left in it. Needs the backup and restore privileges, enabled for the call
// only; without them nothing is done. Every hive loaded here is unloaded
// again before the call returns. Reports nothing; an absent or empty key
// does nothing.
void DeleteKeyFromAllUsers(const wchar_t* key);

// Loads the NTUSER.DAT of every profile in the profile list (service accounts
// excepted) under HKEY_USERS as "MQLUserProfile<index>"; the names loaded are
// appended to loaded in load order. A hive already in use (its user is logged
// on) does not load, silently. True if at least one hive was loaded.
bool LoadUserHives(std::vector<std::wstring>& loaded);

// The profiles folder for "ROOT", the all-users profile for "ALLUSERS", the
// default user's for "DEFAULTUSER" into a buffer of 260 characters; the buffer
// is empty when the selector is unknown or the query fails.
void GetProfilesFolder(const wchar_t* selector, wchar_t* buffer);

// Runs with the loaded names after the deletions and before the hives are
// unloaded. For tests: a change inside a loaded hive can only be seen while it
// is loaded. Returns the hook it replaces; nullptr for none.
using BeforeHiveUnload = void (*)(const std::vector<std::wstring>& loaded);
BeforeHiveUnload SetBeforeHiveUnload(BeforeHiveUnload hook);
