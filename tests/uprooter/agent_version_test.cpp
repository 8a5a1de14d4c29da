#include "PlatformInfo.h"
#include "Scratch.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

TEST(FileVersionString, ReadsTheVersionResourceOfTheAgentStandIns)
{
    std::wstring version;
    EXPECT_TRUE(GetFileVersionString(BuildPath(L"testbed\\agent\\tvAgtSvc_older.exe"), version));
    EXPECT_EQ(version, L"9.8.1.200");
    EXPECT_TRUE(GetFileVersionString(BuildPath(L"testbed\\agent\\tvAgtSvc_newer.exe"), version));
    EXPECT_EQ(version, L"10.2.0.15");

    // Found but empty: the text is emptied and the answer is false.
    version = L"10.0.0";
    EXPECT_FALSE(GetFileVersionString(BuildPath(L"testbed\\agent\\tvAgtSvc_empty.exe"), version));
    EXPECT_EQ(version, L"");

    version = L"untouched";
    EXPECT_FALSE(GetFileVersionString(L"C:\\no\\such\\file.exe", version));
    EXPECT_EQ(version, L"untouched");
}

class AgentVersionFromRegistry : public ::testing::Test {
protected:
    ScratchDir install{L"agent"};
    void Stage(const wchar_t* variant)
    {
        CreateDirectoryW((install / L"Agent").c_str(), nullptr);
        ASSERT_TRUE(CopyFileW(BuildPath(std::wstring(L"testbed\\agent\\tvAgtSvc_") + variant + L".exe").c_str(),
                              (install / L"Agent\\tvAgtSvc.exe").c_str(), FALSE));
    }
    // The tests' keys lie below "SOFTWARE\Zelmar", which nothing else holds here.
    void TearDown() override { RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar", 0, 0); }
};

TEST_F(AgentVersionFromRegistry, DefaultsTo10WhenAnythingIsMissing)
{
    EXPECT_EQ(GetAgentVersion(), L"10.0.0") << "no ManagedServices key";
    ScratchKey key(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\ManagedServices");
    EXPECT_EQ(GetAgentVersion(), L"10.0.0") << "no szInstallDir value";
    win::WriteString(key.get(), L"szInstallDir", install.path());
    EXPECT_EQ(GetAgentVersion(), L"10.0.0") << "no agent program";
    win::WriteDword(key.get(), L"szInstallDir", 5);
    EXPECT_EQ(GetAgentVersion(), L"10.0.0") << "value of the wrong type";
}

TEST_F(AgentVersionFromRegistry, ReadsTheAgentProgramInTheNamedFolder)
{
    ScratchKey key(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\ManagedServices");
    win::WriteString(key.get(), L"szInstallDir", install.path());
    Stage(L"older");
    EXPECT_EQ(GetAgentVersion(), L"9.8.1.200");
    Stage(L"empty");
    EXPECT_EQ(GetAgentVersion(), L"");
}

}  // namespace
