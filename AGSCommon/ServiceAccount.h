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

// The calls DeleteUser makes after the SID lookup. Wine's are stubs that
// always succeed and store nothing, so tests put their own in place to see
// the other outcomes. Returns the calls it replaces.
struct AccountCalls {
    NTSTATUS(NTAPI* openPolicy)(PLSA_UNICODE_STRING, PLSA_OBJECT_ATTRIBUTES, ACCESS_MASK, PLSA_HANDLE);
    NTSTATUS(NTAPI* removeAccountRights)(LSA_HANDLE, PSID, BOOLEAN, PLSA_UNICODE_STRING, ULONG);
    NET_API_STATUS(NET_API_FUNCTION* userDel)(LPCWSTR, LPCWSTR);
};
AccountCalls SetAccountCalls(const AccountCalls& calls);
