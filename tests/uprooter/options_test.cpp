#include "ProcessFlags.h"
#include "Scratch.h"
#include "reloUni.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

struct ParseCase {
    const wchar_t* commandLine;
    bool result;
    bool completeCleanup;
    bool forceReboot;
};

class OptionParser : public ::testing::TestWithParam<ParseCase> {};

TEST_P(OptionParser, SetsTheFlagsInOrder)
{
    const ParseCase& c = GetParam();
    g_ForceReboot = 0;
    reloUni removal;
    EXPECT_EQ(removal.logdataClobber(c.commandLine), c.result);
    EXPECT_EQ(removal.CompleteCleanup(), c.completeCleanup);
    EXPECT_EQ(g_ForceReboot != 0, c.forceReboot);
    g_ForceReboot = 0;
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, OptionParser,
    ::testing::Values(ParseCase{L"", true, false, false}, ParseCase{L"uprooter.exe", true, false, false},
                      ParseCase{L"uprooter.exe -a -f", true, true, false},  // -a ends the parsing
                      ParseCase{L"uprooter.exe -f -a", true, true, true},
                      ParseCase{L"uprooter.exe -fa", true, true, false},
                      ParseCase{L"uprooter.exe /all", true, true, false},
                      ParseCase{L"uprooter.exe c:/data/x", true, true, false},  // "/" then an "a"
                      ParseCase{L"uprooter.exe c:/temp/x", true, false, false},
                      ParseCase{L"uprooter.exe plain words", true, false, false},
                      ParseCase{L"uprooter.exe \"  -F  \"", true, false, true},
                      ParseCase{L"uprooter.exe -h -f", false, false, false},
                      ParseCase{L"uprooter.exe -f -?", false, false, true},
                      ParseCase{L"uprooter.exe \"\" -f", true, false, true}));

TEST(OptionParserLog, HelpWritesTheFourUsageLinesToTheRemovalLog)
{
    reloUni removal;
    const std::wstring path = removal.Log().Path();
    std::string before = ReadFileBytes(path);
    EXPECT_FALSE(removal.logdataClobber(L"uprooter.exe /?"));
    std::string added = ReadFileBytes(path).substr(before.size());
    EXPECT_EQ(added,
              "Usage: \r\n\tUprooter.exe [-f][-a][-h][-?]\r\n"
              "\t[-f] - Force reboot (no Prompt)\r\n"
              "\t[-a] - delete logs also.\r\n"
              "\t[-h]|[-?] - Usage help output to log. \r\n\r\n");
}

TEST(OptionParserLog, CompleteCleanupIsLogged)
{
    reloUni removal;
    const std::wstring path = removal.Log().Path();
    std::string before = ReadFileBytes(path);
    EXPECT_TRUE(removal.logdataClobber(L"uprooter.exe -A"));
    EXPECT_EQ(ReadFileBytes(path).substr(before.size()),
              "reloUni::logdataClobber - Complete cleanup, Product Data logs will be deleted\r\n");
}

}  // namespace
