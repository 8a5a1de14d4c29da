// Removing a key from every user's hive: the current user's hive in place, a
// logged-off user's hive loaded from a fabricated profile and unloaded again.
// Wine never writes a change made inside a loaded hive back to its file, so the
// deletion is seen from the hook that runs just before the unload.
#include "UserHives.h"
#include "Scratch.h"

#include <gtest/gtest.h>

#include "Removal.h"

#include <sddl.h>
#include <userenv.h>

#include <algorithm>

using namespace testing_support;

namespace {

constexpr wchar_t kProfileList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
const std::wstring kPid = std::to_wstring(GetCurrentProcessId());
const std::wstring kKey = L"zltest-hives-" + kPid;
const std::wstring kOther = L"zltest-other-" + kPid;

// The test's own saves and loads need these; the call under test disables them again.
void EnableBackupAndRestore()
{
    win::Handle token;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.put()));
    for (const wchar_t* name : {SE_BACKUP_NAME, SE_RESTORE_NAME}) {
        TOKEN_PRIVILEGES p{};
        p.PrivilegeCount = 1;
        p.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        ASSERT_TRUE(LookupPrivilegeValueW(nullptr, name, &p.Privileges[0].Luid));
        ASSERT_TRUE(AdjustTokenPrivileges(token.get(), FALSE, &p, 0, nullptr, nullptr));
    }
}

bool KeyExists(HKEY root, const std::wstring& path)
{
    win::Key key;
    return win::OpenKey(root, path, KEY_READ, win::RegView::Bit64, key) == ERROR_SUCCESS;
}

std::wstring ReadKeepValue(HKEY root, const std::wstring& user)
{
    win::Key key;
    std::wstring value;
    if (win::OpenKey(root, user + L"\\SOFTWARE\\Vendor\\Keep", KEY_READ, win::RegView::Bit64, key) == ERROR_SUCCESS)
        win::ReadString(key.get(), L"Keep", value);
    return value;
}

// What the hook found in each hive loaded for the call.
struct LoadedView {
    std::wstring name;
    bool keyGone = false;
    bool makerGone = false;
    bool otherKept = false;
    std::wstring keep;
};
std::vector<LoadedView> g_seen;

void InspectLoaded(const std::vector<std::wstring>& loaded)
{
    for (const std::wstring& name : loaded) {
        const std::wstring maker = name + L"\\SOFTWARE\\Zelmar";
        g_seen.push_back({name, !KeyExists(HKEY_USERS, maker + L"\\" + kKey), !KeyExists(HKEY_USERS, maker),
                          KeyExists(HKEY_USERS, maker + L"\\" + kOther), ReadKeepValue(HKEY_USERS, name)});
    }
}

// Unloads the first hive loaded for the call before the call does, so that
// the call's own unload fails (Wine unloads a hive even with a key in it open).
std::wstring g_taken;
void TakeFirstLoaded(const std::vector<std::wstring>& loaded)
{
    InspectLoaded(loaded);
    if (!loaded.empty() && RegUnLoadKeyW(HKEY_USERS, loaded[0].c_str()) == ERROR_SUCCESS) g_taken = loaded[0];
}

class UserHives : public ::testing::Test {
protected:
    ScratchDir dir{L"hives"};
    ScopedEnv root{L"ZL_HIVE_ROOT", dir.path()};
    const std::wstring hive = dir / L"user\\NTUSER.DAT";
    const std::wstring source = L"Software\\zltest-hive-source-" + kPid;
    BeforeHiveUnload previous = nullptr;
    std::vector<std::wstring> profiles;  // fabricated profile-list entries
    const bool makerExisted = KeyExists(HKEY_CURRENT_USER, L"SOFTWARE\\Zelmar");

    void SetUp() override
    {
        g_seen.clear();
        EnableBackupAndRestore();
        CreateDirectoryW((dir / L"user").c_str(), nullptr);
        previous = SetBeforeHiveUnload(InspectLoaded);
    }
    void TearDown() override
    {
        SetBeforeHiveUnload(previous);
        // A hive the call failed to unload would poison the prefix for every later run.
        EnableBackupAndRestore();
        for (const std::wstring& sid : profiles) {
            RegUnLoadKeyW(HKEY_USERS, HiveName(sid).c_str());
            win::DeleteTree(HKEY_LOCAL_MACHINE, ProfileKey(sid), win::RegView::Native);
        }
        win::DeleteTree(HKEY_CURRENT_USER, source, win::RegView::Native);
        for (const std::wstring& k : {kKey, kOther})
            win::DeleteTree(HKEY_CURRENT_USER, L"SOFTWARE\\Zelmar\\" + k, win::RegView::Native);
        if (!makerExisted) RegDeleteKeyW(HKEY_CURRENT_USER, L"SOFTWARE\\Zelmar");  // fails unless left empty
    }

    static std::wstring ProfileKey(const std::wstring& sid) { return std::wstring(kProfileList) + L"\\" + sid; }

    // A user's hive file with the suite's key, optionally a second suite key,
    // and another vendor's key.
    void MakeHive(bool withOther)
    {
        for (const std::wstring& path :
             {L"\\SOFTWARE\\Zelmar\\" + kKey + L"\\Settings", std::wstring(L"\\SOFTWARE\\Vendor\\Keep")}) {
            win::Key k;
            ASSERT_EQ(win::CreateKey(HKEY_CURRENT_USER, source + path, KEY_ALL_ACCESS, win::RegView::Native, k), 0);
            win::WriteString(k.get(), L"Keep", L"yes");
        }
        win::Key maker;
        ASSERT_EQ(win::OpenKey(HKEY_CURRENT_USER, source + L"\\SOFTWARE\\Zelmar", KEY_ALL_ACCESS,
                               win::RegView::Native, maker), 0);
        win::WriteDword(maker.get(), L"dwValueOnly", 1);  // values alone do not keep the maker key
        if (withOther) {
            win::Key other;
            ASSERT_EQ(win::CreateKey(maker.get(), kOther, KEY_ALL_ACCESS, win::RegView::Native, other), 0);
        }
        win::Key top;
        ASSERT_EQ(win::OpenKey(HKEY_CURRENT_USER, source, KEY_READ, win::RegView::Native, top), 0);
        ASSERT_EQ(RegSaveKeyW(top.get(), hive.c_str(), nullptr), ERROR_SUCCESS);
        top.reset();
        maker.reset();
        win::DeleteTree(HKEY_CURRENT_USER, source, win::RegView::Native);
    }

    // A profile-list entry whose folder is stored as given, with the type given.
    void AddProfile(const std::wstring& sid, const std::wstring& folder, DWORD type)
    {
        win::Key k;
        ASSERT_EQ(win::CreateKey(HKEY_LOCAL_MACHINE, ProfileKey(sid), KEY_ALL_ACCESS, win::RegView::Native, k), 0);
        profiles.push_back(sid);
        win::WriteString(k.get(), L"ProfileImagePath", folder, type);
    }

    // The hive name the call loads a profile under: its place in the list.
    static std::wstring HiveName(const std::wstring& sid)
    {
        win::Key list;
        EXPECT_EQ(win::OpenKey(HKEY_LOCAL_MACHINE, kProfileList, KEY_READ, win::RegView::Native, list), 0);
        for (DWORD i = 0;; ++i) {
            wchar_t name[260];
            DWORD chars = 260;
            if (RegEnumKeyExW(list.get(), i, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                return L"";
            if (_wcsicmp(name, sid.c_str()) == 0) return L"MQLUserProfile" + std::to_wstring(i);
        }
    }

    // The hive file loads again and the other vendor's key is in it.
    std::wstring KeepValueInFile()
    {
        EnableBackupAndRestore();
        const std::wstring check = L"zltest-hive-check-" + kPid;
        if (RegLoadKeyW(HKEY_USERS, check.c_str(), hive.c_str()) != ERROR_SUCCESS) return L"<not loaded>";
        std::wstring keep = ReadKeepValue(HKEY_USERS, check);
        RegUnLoadKeyW(HKEY_USERS, check.c_str());
        return keep;
    }
};

TEST_F(UserHives, LoggedOffUsersHiveFromAnExpandedPathIsCleanedAndUnloaded)
{
    MakeHive(true);
    const std::wstring sid = L"S-1-5-21-4242-4242-4242-" + kPid;
    AddProfile(sid, L"%ZL_HIVE_ROOT%\\user", REG_EXPAND_SZ);
    const std::wstring name = HiveName(sid);

    DeleteKeyFromAllUsers(kKey.c_str());

    auto seen = std::find_if(g_seen.begin(), g_seen.end(), [&](const LoadedView& v) { return v.name == name; });
    ASSERT_NE(seen, g_seen.end()) << "the profile's hive was not loaded as " << Narrow(name);
    EXPECT_TRUE(seen->keyGone);
    EXPECT_TRUE(seen->otherKept);  // the maker key still holds a key: it stays
    EXPECT_EQ(seen->keep, L"yes");
    EXPECT_FALSE(KeyExists(HKEY_USERS, name)) << "hive left loaded";
    EXPECT_EQ(KeepValueInFile(), L"yes");
}

// A hive that will not unload is named in the common library's log.
TEST_F(UserHives, AHiveThatWillNotUnloadIsLogged)
{
    MakeHive(false);
    const std::wstring sid = L"S-1-5-21-4444-4444-4444-" + kPid;
    AddProfile(sid, dir / L"user", REG_SZ);
    const std::wstring name = HiveName(sid), log = dir / L"common.log";
    MachineLogConfig config("[AGSCommon]\r\nenabled=1\r\ntype=File\r\nfilter=*.AGSCommon.Warning\r\nformat=%l %m\r\n"
                            "encoding=ANSI\r\nfilename=" + Narrow(log) + "\r\n");
    g_taken.clear();
    SetBeforeHiveUnload(TakeFirstLoaded);

    DeleteKeyFromAllUsers(kKey.c_str());

    ASSERT_EQ(g_taken, name) << "the profile's hive was not loaded, or did not unload for the test";
    const std::vector<std::string> lines = SplitLines(ReadFileBytes(log));
    EXPECT_NE(std::find_if(lines.begin(), lines.end(), [&](const std::string& line) {
                  return line.rfind("Warning DeleteKeyFromAllUsers - Could not unload HKEY_USERS\\" + Narrow(name) +
                                    ", error ", 0) == 0;
              }),
              lines.end())
        << ReadFileBytes(log);
}

TEST_F(UserHives, MakerKeyWithOnlyValuesLeftGoesWithTheKey)
{
    MakeHive(false);
    const std::wstring sid = L"S-1-5-21-4343-4343-4343-" + kPid;
    AddProfile(sid, dir / L"user", REG_SZ);

    DeleteKeyFromAllUsers(kKey.c_str());

    const std::wstring name = HiveName(sid);
    auto seen = std::find_if(g_seen.begin(), g_seen.end(), [&](const LoadedView& v) { return v.name == name; });
    ASSERT_NE(seen, g_seen.end());
    EXPECT_TRUE(seen->makerGone);
    EXPECT_EQ(seen->keep, L"yes");
    EXPECT_FALSE(KeyExists(HKEY_USERS, name));
}

// A run ended while it held a user's hive loaded left it under the call's
// name: the next call takes it over, cleans it and unloads it.
TEST_F(UserHives, HiveLeftLoadedByAnEndedRunIsTakenOverAndUnloaded)
{
    MakeHive(false);
    const std::wstring sid = L"S-1-5-21-4444-4444-4444-" + kPid;
    AddProfile(sid, dir / L"user", REG_SZ);
    const std::wstring name = HiveName(sid);
    ASSERT_EQ(RegLoadKeyW(HKEY_USERS, name.c_str(), hive.c_str()), ERROR_SUCCESS);

    DeleteKeyFromAllUsers(kKey.c_str());

    auto seen = std::find_if(g_seen.begin(), g_seen.end(), [&](const LoadedView& v) { return v.name == name; });
    ASSERT_NE(seen, g_seen.end()) << "the hive left loaded was not taken over";
    EXPECT_TRUE(seen->keyGone);
    EXPECT_EQ(seen->keep, L"yes");
    EXPECT_FALSE(KeyExists(HKEY_USERS, name)) << "hive left loaded";
}

TEST_F(UserHives, CurrentUsersHiveIsCleanedInPlace)
{
    for (const std::wstring& k : {kKey + L"\\Settings", kOther}) {
        win::Key key;
        ASSERT_EQ(win::CreateKey(HKEY_CURRENT_USER, L"SOFTWARE\\Zelmar\\" + k, KEY_ALL_ACCESS,
                                 win::RegView::Native, key), 0);
    }

    DeleteKeyFromAllUsers(kKey.c_str());

    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"SOFTWARE\\Zelmar\\" + kKey));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, L"SOFTWARE\\Zelmar\\" + kOther));
}

// A user may make his "Software\Zelmar" a registry link to another key: the
// link goes itself, and nothing below the key it leads to.
TEST_F(UserHives, AMakerKeyThatIsALinkGoesItselfAndItsTargetStays)
{
    win::Handle token;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()));
    BYTE buffer[256] = {};
    DWORD bytes = 0;
    ASSERT_TRUE(GetTokenInformation(token.get(), TokenUser, buffer, sizeof(buffer), &bytes));
    wchar_t* sid = nullptr;
    ASSERT_TRUE(ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid));
    win::LocalMemory sidOwner(sid);
    const std::wstring target = L"SOFTWARE\\zltest-linked-" + kPid;
    win::Key made;
    ASSERT_EQ(win::CreateKey(HKEY_CURRENT_USER, target + L"\\" + kKey, KEY_ALL_ACCESS, win::RegView::Native, made), 0);
    made.reset();
    HKEY raw = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Zelmar", 0, nullptr, REG_OPTION_CREATE_LINK,
                              KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, &raw, nullptr),
              ERROR_SUCCESS)
        << "a Software\\Zelmar of the prefix's own";
    win::Key link(raw);
    const std::wstring leadsTo = L"\\Registry\\User\\" + std::wstring(sid) + L"\\" + target;
    ASSERT_EQ(RegSetValueExW(link.get(), L"SymbolicLinkValue", 0, REG_LINK,
                             reinterpret_cast<const BYTE*>(leadsTo.data()),
                             static_cast<DWORD>(leadsTo.size() * sizeof(wchar_t))),
              ERROR_SUCCESS);
    link.reset();
    ASSERT_TRUE(KeyExists(HKEY_CURRENT_USER, L"SOFTWARE\\Zelmar\\" + kKey)) << "the link leads to the target";

    DeleteKeyFromAllUsers(kKey.c_str());

    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, target + L"\\" + kKey)) << "deleted through the link";
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"SOFTWARE\\Zelmar\\" + kKey));
    win::removal::RemoveKey(HKEY_CURRENT_USER, L"SOFTWARE\\Zelmar", win::RegView::Native);
    win::DeleteTree(HKEY_CURRENT_USER, target, win::RegView::Native);
}

TEST_F(UserHives, ServiceAccountProfilesAreNeverLoaded)
{
    MakeHive(false);
    const std::wstring sid = L"S-1-5-19";
    win::Key existing;
    if (win::OpenKey(HKEY_LOCAL_MACHINE, ProfileKey(sid), KEY_READ, win::RegView::Native, existing) == 0)
        GTEST_SKIP() << "the prefix has its own profile for " << Narrow(sid);
    AddProfile(sid, dir / L"user", REG_SZ);

    DeleteKeyFromAllUsers(kKey.c_str());

    const std::wstring name = HiveName(sid);
    for (const LoadedView& v : g_seen) EXPECT_NE(v.name, name);
    EXPECT_FALSE(KeyExists(HKEY_USERS, name));
}

TEST(ProfilesFolder, RootIsTheProfilesDirectoryAndAFailureLeavesTheBufferEmpty)
{
    wchar_t expected[260] = {};
    DWORD chars = 260;
    ASSERT_TRUE(GetProfilesDirectoryW(expected, &chars));
    wchar_t buffer[260] = L"junk";
    GetProfilesFolder(L"ROOT", buffer);
    EXPECT_STREQ(buffer, expected);

    wcscpy(buffer, L"junk");
    GetProfilesFolder(L"root", buffer);
    EXPECT_STREQ(buffer, L"");

    // Wine's all-users query fails; Windows answers with the folder.
    wchar_t allUsers[260] = {};
    chars = 260;
    const bool answered = GetAllUsersProfileDirectoryW(allUsers, &chars);
    wcscpy(buffer, L"junk");
    GetProfilesFolder(L"ALLUSERS", buffer);
    EXPECT_STREQ(buffer, answered ? allUsers : L"");
}

}  // namespace
