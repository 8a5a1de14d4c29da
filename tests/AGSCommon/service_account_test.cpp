// Removing the service account. The look-up is Wine's real one, recorded (a
// stand-in answers for an account Wine cannot hold, or fails otherwise); the
// policy and account calls are recorded stand-ins, because Wine's always succeed.
#include "ServiceAccount.h"
#include "RunLogCapture.h"

#include <gtest/gtest.h>

#include <sddl.h>

using testing_support::Narrow;

namespace {

struct Calls {
    std::vector<std::wstring> lookedUp;  // the names asked for
    DWORD lookupError = ERROR_SUCCESS;   // not 0: every look-up fails with it
    NTSTATUS openStatus = 0;
    NTSTATUS removeStatus = 0;
    NET_API_STATUS deleteStatus = NERR_Success;
    int opens = 0;
    std::vector<std::wstring> rightsRemoved;  // string SIDs, all rights asked for
    std::vector<std::wstring> deleted;
} g;

BOOL WINAPI LookupName(LPCWSTR system, LPCWSTR name, PSID sid, LPDWORD sidBytes, LPWSTR domain, LPDWORD domainChars,
                       PSID_NAME_USE use)
{
    g.lookedUp.push_back(system ? L"<remote>" : name);
    if (g.lookupError == ERROR_SUCCESS) return LookupAccountNameW(system, name, sid, sidBytes, domain, domainChars, use);
    SetLastError(g.lookupError);
    return FALSE;
}

NTSTATUS NTAPI OpenPolicy(PLSA_UNICODE_STRING system, PLSA_OBJECT_ATTRIBUTES attributes, ACCESS_MASK access,
                          PLSA_HANDLE policy)
{
    ++g.opens;
    if (g.openStatus != 0) return g.openStatus;
    // A real handle, so that the caller's owner has something to close.
    return LsaOpenPolicy(system, attributes, access, policy);
}

NTSTATUS NTAPI RemoveRights(LSA_HANDLE, PSID sid, BOOLEAN allRights, PLSA_UNICODE_STRING rights, ULONG count)
{
    wchar_t* text = nullptr;
    if (allRights && rights == nullptr && count == 0 && ConvertSidToStringSidW(sid, &text)) {
        g.rightsRemoved.push_back(text);
        LocalFree(text);
    }
    return g.removeStatus;
}

NET_API_STATUS NET_API_FUNCTION UserDel(LPCWSTR server, LPCWSTR name)
{
    g.deleted.push_back(server ? L"<remote>" : name);
    return g.deleteStatus;
}

std::wstring Computer()
{
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD chars = MAX_COMPUTERNAME_LENGTH + 1;
    GetComputerNameW(name, &chars);
    return name;
}

std::wstring CurrentUser()
{
    wchar_t name[256] = {};
    DWORD chars = 256;
    GetUserNameW(name, &chars);
    return name;
}

std::wstring StringSid(const std::wstring& account)
{
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sidBytes = sizeof(sid);
    wchar_t domain[256];
    DWORD domainChars = 256;
    SID_NAME_USE use;
    wchar_t* text = nullptr;
    if (!LookupAccountNameW(nullptr, account.c_str(), sid, &sidBytes, domain, &domainChars, &use) ||
        !ConvertSidToStringSidW(sid, &text))
        return L"";
    std::wstring result = text;
    LocalFree(text);
    return result;
}

class ServiceAccount : public ::testing::Test {
protected:
    RunLogCapture run{L"account"};
    AccountCalls previous{};

    void SetUp() override
    {
        g = Calls{};
        previous = SetAccountCalls({LookupName, OpenPolicy, RemoveRights, UserDel});
    }
    void TearDown() override { SetAccountCalls(previous); }
};

using Lines = std::vector<std::string>;

TEST_F(ServiceAccount, AbsentAccountLogsNoSidThenNotFound)
{
    g.deleteStatus = NERR_UserNotFound;
    EXPECT_FALSE(DeleteUser(kServiceAccount, run.log()));
    EXPECT_EQ(run.Lines(), (Lines{"No SID for user <ZelmarMQLUser>", "user ZelmarMQLUser not found"}));
    EXPECT_EQ(g.opens, 0);
    EXPECT_EQ(g.deleted, std::vector<std::wstring>{kServiceAccount});
    // Only the local machine is asked: a bare name would also find a domain account.
    EXPECT_EQ(g.lookedUp, std::vector<std::wstring>{Computer() + L"\\" + kServiceAccount});
}

// The account is gone only when the local machine knows no such account: a
// look-up that fails otherwise proves nothing.
TEST_F(ServiceAccount, GoneOnlyWhenTheLocalMachineKnowsNoSuchAccount)
{
    EXPECT_TRUE(IsLocalAccountGone(kServiceAccount));
    EXPECT_FALSE(IsLocalAccountGone(CurrentUser().c_str()));
    EXPECT_FALSE(IsLocalAccountGone(L""));
    g.lookupError = RPC_S_SERVER_UNAVAILABLE;
    EXPECT_FALSE(IsLocalAccountGone(kServiceAccount));
}

TEST_F(ServiceAccount, FoundAccountLosesAllItsRightsThenGoes)
{
    const std::wstring user = CurrentUser();
    EXPECT_TRUE(DeleteUser(user.c_str(), run.log()));
    EXPECT_EQ(run.Lines(), Lines{"Success removing user " + Narrow(user)});
    ASSERT_EQ(g.rightsRemoved.size(), 1u);
    EXPECT_EQ(g.rightsRemoved[0], StringSid(user));
    EXPECT_EQ(g.deleted, std::vector<std::wstring>{user});
}

TEST_F(ServiceAccount, PolicyThatWillNotOpenStillLetsTheAccountDeletionRun)
{
    const std::wstring user = CurrentUser();
    g.openStatus = static_cast<NTSTATUS>(0xC0000022);
    g.deleteStatus = ERROR_ACCESS_DENIED;
    EXPECT_FALSE(DeleteUser(user.c_str(), run.log()));
    EXPECT_EQ(run.Lines(), (Lines{"LsaOpenPolicy failure, LsaStatus=0xc0000022", "Error deleting user " + Narrow(user)}));
    EXPECT_TRUE(g.rightsRemoved.empty());
    EXPECT_EQ(g.deleted.size(), 1u);
}

TEST_F(ServiceAccount, FailedRightsRemovalIsLoggedAndTheAccountStillGoes)
{
    const std::wstring user = CurrentUser();
    g.removeStatus = static_cast<NTSTATUS>(0xC0000034);
    EXPECT_TRUE(DeleteUser(user.c_str(), run.log()));
    EXPECT_EQ(run.Lines(), (Lines{"LsaRemoveAccountRights failure, LsaStatus=0xc0000034",
                                  "Success removing user " + Narrow(user)}));
}

TEST_F(ServiceAccount, EmptyNameDoesNothing)
{
    EXPECT_FALSE(DeleteUser(L"", run.log()));
    EXPECT_FALSE(DeleteUser(nullptr, run.log()));
    EXPECT_EQ(run.Lines(), Lines(2, "INTERNAL - NULL or empty userid passed to DeleteUser"));
    EXPECT_TRUE(g.deleted.empty());
}

}  // namespace
