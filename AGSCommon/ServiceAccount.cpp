#include "ServiceAccount.h"

#include "Handle.h"
#include "LogFile.h"

#include <string>
#include <utility>
#include <vector>

namespace {

// The lookup's buffers: a SID that needs more is not the local account's.
constexpr DWORD kSidBytes = 68;
constexpr DWORD kDomainChars = 128;

AccountCalls g_calls = {LookupAccountNameW, LsaOpenPolicy, LsaRemoveAccountRights, NetUserDel};

// The account's SID on the local machine only: the name is qualified with the
// computer's, since a bare name also finds a domain account of that name. The
// domain buffer grows once if the look-up asks for more. Returns the
// look-up's error, ERROR_SUCCESS when found.
DWORD LookupLocalSid(const wchar_t* account, BYTE (&sid)[kSidBytes])
{
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD computerChars = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(computer, &computerChars)) return GetLastError();
    const std::wstring qualified = std::wstring(computer) + L"\\" + account;
    std::vector<wchar_t> domain(kDomainChars);
    for (int attempt = 0; attempt < 2; ++attempt) {
        DWORD sidBytes = kSidBytes;
        DWORD domainChars = static_cast<DWORD>(domain.size());
        SID_NAME_USE use = SidTypeUnknown;
        if (g_calls.lookupAccountName(nullptr, qualified.c_str(), sid, &sidBytes, domain.data(), &domainChars, &use))
            return ERROR_SUCCESS;
        const DWORD error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER || sidBytes > kSidBytes) return error;
        if (domainChars > domain.size()) domain.resize(domainChars);
    }
    return ERROR_INSUFFICIENT_BUFFER;
}

void RemoveAllRights(PSID sid, CLogFile& log)
{
    LSA_OBJECT_ATTRIBUTES attributes{};
    win::LsaHandle policy;
    NTSTATUS status = g_calls.openPolicy(nullptr, &attributes, POLICY_LOOKUP_NAMES, policy.put());
    if (status != 0) {
        log.Log(L"LsaOpenPolicy failure, LsaStatus=0x%08x", static_cast<unsigned>(status));
        return;
    }
    status = g_calls.removeAccountRights(policy.get(), sid, TRUE, nullptr, 0);
    if (status != 0) log.Log(L"LsaRemoveAccountRights failure, LsaStatus=0x%08x", static_cast<unsigned>(status));
}

}  // namespace

AccountCalls SetAccountCalls(const AccountCalls& calls) { return std::exchange(g_calls, calls); }

bool IsLocalAccountGone(const wchar_t* account)
{
    if (account == nullptr || account[0] == L'\0') return false;
    BYTE sid[kSidBytes] = {};
    return LookupLocalSid(account, sid) == ERROR_NONE_MAPPED;
}

bool DeleteUser(const wchar_t* account, CLogFile& log)
{
    if (account == nullptr || account[0] == L'\0') {
        log.Log(L"INTERNAL - NULL or empty userid passed to DeleteUser");
        return false;
    }
    BYTE sid[kSidBytes] = {};
    if (LookupLocalSid(account, sid) == ERROR_SUCCESS) RemoveAllRights(sid, log);
    else log.Log(L"No SID for user <%s>", account);

    const NET_API_STATUS status = g_calls.userDel(nullptr, account);
    if (status == NERR_Success) {
        log.Log(L"Success removing user %s", account);
        return true;
    }
    log.Log(status == NERR_UserNotFound ? L"user %s not found" : L"Error deleting user %s", account);
    return false;
}
