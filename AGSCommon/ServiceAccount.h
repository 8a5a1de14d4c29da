#pragma once
// The suite's service account: its rights in the local security policy and
// the local account itself.

#include <windows.h>
#include <ntsecapi.h>
#include <lm.h>

class CLogFile;

// The local account the suite's user service ran under.
constexpr wchar_t kServiceAccount[] = L"ZelmarMQLUser";

// Removes all of the local account's rights (when its SID can be found) and
// then the account. Each failure is logged to log; the account deletion is
// tried even when the rights could not be removed. True only if the account
// was deleted.
bool DeleteUser(const wchar_t* account, CLogFile& log);

// True when the local machine knows no account of that name (the look-up
// answers ERROR_NONE_MAPPED); any other failure of the look-up is not taken
// as the account's absence.
bool IsLocalAccountGone(const wchar_t* account);

// The account calls: the look-up (always asked for "<computer>\<account>",
// so that only the local machine answers, never a domain) and those DeleteUser
// makes after it. Wine's account calls are stubs that always succeed and
// store nothing, and its look-up knows no account but its own, so tests put
// their own in place to see the other outcomes. Returns the calls it replaces.
struct AccountCalls {
    BOOL(WINAPI* lookupAccountName)(LPCWSTR, LPCWSTR, PSID, LPDWORD, LPWSTR, LPDWORD, PSID_NAME_USE);
    NTSTATUS(NTAPI* openPolicy)(PLSA_UNICODE_STRING, PLSA_OBJECT_ATTRIBUTES, ACCESS_MASK, PLSA_HANDLE);
    NTSTATUS(NTAPI* removeAccountRights)(LSA_HANDLE, PSID, BOOLEAN, PLSA_UNICODE_STRING, ULONG);
    NET_API_STATUS(NET_API_FUNCTION* userDel)(LPCWSTR, LPCWSTR);
};
AccountCalls SetAccountCalls(const AccountCalls& calls);
