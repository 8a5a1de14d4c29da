#include "ProcessRunner.h"
#include "Scratch.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

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

TEST(RunProcess, ReportsTheChildsFullExitCode)
{
    ScratchDir dir(L"runner");
    ScopedEnv log(L"ZL_STUB_LOG", dir / L"starts.txt");
    const std::wstring stub = Quoted(BuildPath(L"testbed\\stub\\childstub.exe"));
    DWORD code = 0;
    {
        ScopedEnv exits(L"ZL_STUB_EXITS", L"0");
        EXPECT_TRUE(RunProcess((stub + L" first").c_str(), code));
        EXPECT_EQ(code, 0u);
    }
    {
        ScopedEnv exits(L"ZL_STUB_EXITS", L"3221225477");
        EXPECT_FALSE(RunProcess(stub.c_str(), code));
        EXPECT_EQ(code, 3221225477u);
    }
    auto starts = SplitLines(ReadFileBytes(dir / L"starts.txt"));
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[0], Narrow(stub + L" first"));
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
