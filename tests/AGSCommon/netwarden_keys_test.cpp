// Removing the web-safety component's single keys with their log lines.
#include "NetwardenCleanup.h"
#include "RunLogCapture.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

class CoreKey : public ::testing::Test {
protected:
    RunLogCapture run{L"corekey"};
    ScratchKey root{HKEY_CURRENT_USER, L"Software\\zltest-corekey-" + std::to_wstring(GetCurrentProcessId())};

    LONG Remove(const wchar_t* key) { return RemoveCoreKey(key, run.log(), root.get(), win::RegView::Native); }
    bool Exists(const std::wstring& path)
    {
        win::Key key;
        return win::OpenKey(root.get(), path, KEY_READ, win::RegView::Native, key) == ERROR_SUCCESS;
    }
    void Make(const std::wstring& path)
    {
        win::Key key;
        ASSERT_EQ(win::CreateKey(root.get(), path, KEY_ALL_ACCESS, win::RegView::Native, key), 0);
        win::WriteString(key.get(), L"v", L"x");
    }
};

using Lines = std::vector<std::string>;

TEST_F(CoreKey, PresentKeyGoesWithItsTreeAndBothLinesAreLogged)
{
    Make(L"Installer\\Products\\A1\\Features");
    Make(L"Installer\\Products\\B2");
    EXPECT_EQ(Remove(L"Installer\\Products\\A1"), ERROR_SUCCESS);
    EXPECT_FALSE(Exists(L"Installer\\Products\\A1"));
    EXPECT_TRUE(Exists(L"Installer\\Products\\B2"));
    EXPECT_EQ(run.Lines(), (Lines{"Trying to remove core NW specific reg key Installer\\Products\\A1...",
                                  "Successfully removed Installer\\Products\\A1..."}));
}

TEST_F(CoreKey, MissingKeyIsOnlyTried)
{
    EXPECT_EQ(Remove(L"Installer\\Products\\Gone"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(run.Lines(), Lines{"Trying to remove core NW specific reg key Installer\\Products\\Gone..."});
}

TEST_F(CoreKey, EmptyKeyNeverEmptiesTheRoot)
{
    Make(L"Other");
    EXPECT_NE(Remove(L""), ERROR_SUCCESS);
    EXPECT_NE(Remove(nullptr), ERROR_SUCCESS);
    EXPECT_TRUE(Exists(L"Other"));
    EXPECT_EQ(run.Lines(), Lines(2, "Trying to remove core NW specific reg key ..."));
}

// The same path in the two views of the machine hive: only the view asked for loses it.
TEST(CoreKeyView, OnlyTheViewAskedForLosesTheKey)
{
    BOOL wow64 = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &wow64) || !wow64) GTEST_SKIP() << "one registry view only";
    const std::wstring path = L"SOFTWARE\\zltest-corekey-view-" + std::to_wstring(GetCurrentProcessId());
    ScratchKey bit32(HKEY_LOCAL_MACHINE, path, win::RegView::Bit32);
    ScratchKey bit64(HKEY_LOCAL_MACHINE, path, win::RegView::Bit64);
    RunLogCapture run{L"corekey-view"};
    EXPECT_EQ(RemoveCoreKey(path.c_str(), run.log(), HKEY_LOCAL_MACHINE, win::RegView::Bit64), ERROR_SUCCESS);
    win::Key key;
    EXPECT_EQ(win::OpenKey(HKEY_LOCAL_MACHINE, path, KEY_READ, win::RegView::Bit64, key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(win::OpenKey(HKEY_LOCAL_MACHINE, path, KEY_READ, win::RegView::Bit32, key), ERROR_SUCCESS);
}

}  // namespace
