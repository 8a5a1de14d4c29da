#include "ProcessRunner.h"
#include "Scratch.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

TEST(RunProcess, EmptyOrAbsentCommandLineStartsNothing)
{
    DWORD code = 0;
    EXPECT_TRUE(RunProcess(L"", code));
    EXPECT_EQ(code, kNoChildExitCode);
    code = 0;
    EXPECT_TRUE(RunProcess(nullptr, code));
    EXPECT_EQ(code, kNoChildExitCode);
}

TEST(RunProcess, MissingProgramFailsWithTheNoChildCode)
{
    DWORD code = 0;
    EXPECT_FALSE(RunProcess(L"C:\\no\\such\\program.exe /x", code));
    EXPECT_EQ(code, kNoChildExitCode);
}

// Success and the command line as given are seen through the product uninstall.
TEST(RunProcess, ReportsTheChildsFullExitCode)
{
    ScopedEnv exits(L"ZL_STUB_EXITS", L"3221225477");
    DWORD code = 0;
    EXPECT_FALSE(RunProcess((L"\"" + BuildPath(L"testbed\\stub\\childstub.exe") + L"\"").c_str(), code));
    EXPECT_EQ(code, 3221225477u);
}

TEST(ProcessSnapshot, FindsOurOwnEntryAndExecutable)
{
    PROCESSENTRY32W entry{};
    ASSERT_TRUE(GetProcessEntryById(GetCurrentProcessId(), entry));
    EXPECT_EQ(entry.th32ProcessID, GetCurrentProcessId());

    std::wstring path = L"untouched";
    ASSERT_TRUE(GetProcessMainModulePath(GetCurrentProcessId(), path));
    wchar_t module[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    EXPECT_EQ(lstrcmpiW(path.c_str(), module), 0) << Narrow(path) << " vs " << Narrow(module);
}

TEST(ProcessSnapshot, UnknownProcessIsNotFoundAndPathStaysUntouched)
{
    PROCESSENTRY32W entry{};
    EXPECT_FALSE(GetProcessEntryById(0xFFFFFFF0, entry));
    std::wstring path = L"untouched";
    EXPECT_FALSE(GetProcessMainModulePath(0xFFFFFFF0, path));
    EXPECT_EQ(path, L"untouched");
}

}  // namespace
