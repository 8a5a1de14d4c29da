// COM server modules and local servers found by file mask and unregistered:
// through the real 64-bit regsvr32 on 64-bit Windows, in-process on 32-bit
// Windows; the suite's programs through " /UnregServer".
#include "ScannerStage.h"
#include "ServerUnregistration.h"

#include <gtest/gtest.h>

using namespace scanner_testing;

namespace {

class ServerUnregistration : public ::testing::Test, public ScannerStage {
protected:
    std::unique_ptr<reloUni> uni = MakeUni();
    const std::wstring agent = install + L"\\Agent";
};

// The install folder holds blanks ("Program Files"), so the module's path
// must reach regsvr32 as one argument.
TEST_F(ServerUnregistration, MaskedModulesAreUnregisteredByTheRegistrationServerOfTheirSystem)
{
    const std::wstring first = StageModule(L"Agent\\tvPluginOne.dll", 32);
    const std::wstring second = StageModule(L"Agent\\tvPluginTwo.dll", wow64 ? 64 : 32);
    StageModule(L"Agent\\tvOther.dll", 32);

    miscHelper::unRegFileFromMask(agent.c_str(), L"tvPlugin*.dll", uni->Log());

    EXPECT_EQ(Unregistered(), (Lines{Call(32, first), Call(wow64 ? 64 : 32, second)}));
    const std::string log = Logged();
    EXPECT_NE(log.find("miscHelper::unRegFileFromMask: Searching for: " + Narrow(agent) + "\\tvPlugin*.dll\r\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Found: " + Narrow(first) + "\r\n"), std::string::npos) << log;
    // In-process on 32-bit Windows: with COM ready and without error boxes.
    for (const std::string& line : SplitLines(ReadFileBytes(comRecord)))
        EXPECT_EQ(line.find("com=1 errormode=0x8001") != std::string::npos, !wow64) << line;
}

TEST_F(ServerUnregistration, TheRegistrationServerIsUsedOnlyUnderWow64)
{
    const std::wstring module = StageModule(L"Agent\\tvPluginOne.dll", wow64 ? 64 : 32);
    EXPECT_EQ(UnregisterServerWow64(L"/s /u \"" + module + L"\""), wow64);
    EXPECT_EQ(Unregistered(), wow64 ? Lines{Call(64, module)} : Lines{});
}

TEST_F(ServerUnregistration, UserServiceProgramsAreToldToUnregister)
{
    Stage(L"Agent\\tvUsrSrv1.exe");
    Stage(L"Agent\\tvUsrSrv2.exe");
    Stage(L"Agent\\tvAgtOther.exe");

    CHelper::unRegFileFromMask(agent.c_str(), uni->Log());

    Lines recorded = Recorded();
    std::sort(recorded.begin(), recorded.end());
    ASSERT_EQ(recorded.size(), 2u) << Logged();
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(recorded[i].rfind("tvUsrSrv" + std::to_string(i + 1) + ".exe: ", 0), 0u) << recorded[i];
        EXPECT_EQ(recorded[i].substr(recorded[i].size() - 14), "  /UnregServer") << recorded[i];
    }
    const std::string log = Logged();
    EXPECT_NE(log.find("Looking for " + Narrow(agent) + "\\tvUsrSrv*.exe\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Next file is: " + Narrow(agent) + "\\tvUsrSrv1.exe\r\nUnregistering: "), std::string::npos)
        << log;
}

TEST_F(ServerUnregistration, AbsentArgumentsAndEmptyNamesAreLoggedAndPassedOver)
{
    CHelper::unRegFileFromMask(nullptr, uni->Log());
    miscHelper::unRegFileFromMask(agent.c_str(), nullptr, uni->Log());
    miscHelper::UnregisterExe(L"", uni->Log());
    miscHelper::UnregisterExe(agent + L"\\tvUsrSrv9.exe", uni->Log());
    const std::string log = Logged();
    EXPECT_NE(log.find("reloUni::unRegFileFromMask: Invalid Arguments!\r\n\r\nreloUni::unRegFileFromMask: Invalid "
                       "Arguments!\r\n\r\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Next file is: \r\nNULL file name passed to miscHelper::UnregisterExe - unable to continue\r\n"),
              std::string::npos)
        << log;
    EXPECT_TRUE(Recorded().empty());
}

}  // namespace
