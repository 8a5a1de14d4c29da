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
    EXPECT_EQ(RemoveCoreKey(L"Installer\\Products\\A1", run.log(), root.get()), ERROR_SUCCESS);
    EXPECT_FALSE(Exists(L"Installer\\Products\\A1"));
    EXPECT_TRUE(Exists(L"Installer\\Products\\B2"));
    EXPECT_EQ(run.Lines(), (Lines{"Trying to remove core NW specific reg key Installer\\Products\\A1...",
                                  "Successfully removed Installer\\Products\\A1..."}));
}

TEST_F(CoreKey, MissingKeyIsOnlyTried)
{
    EXPECT_EQ(RemoveCoreKey(L"Installer\\Products\\Gone", run.log(), root.get()), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(run.Lines(), Lines{"Trying to remove core NW specific reg key Installer\\Products\\Gone..."});
}

TEST_F(CoreKey, EmptyKeyNeverEmptiesTheRoot)
{
    Make(L"Other");
    EXPECT_NE(RemoveCoreKey(L"", run.log(), root.get()), ERROR_SUCCESS);
    EXPECT_NE(RemoveCoreKey(nullptr, run.log(), root.get()), ERROR_SUCCESS);
    EXPECT_TRUE(Exists(L"Other"));
    EXPECT_EQ(run.Lines(), Lines(2, "Trying to remove core NW specific reg key ..."));
}

}  // namespace
