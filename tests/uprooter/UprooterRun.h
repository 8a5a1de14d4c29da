#pragma once
// A copy of Uprooter.exe in a scratch folder, started by another Windows
// program (the launcher) from a folder of its own, as a support engineer
// would start it.

#include "Scratch.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace testing_support {

inline bool Contains(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

inline std::string Dump(const std::vector<std::string>& lines)
{
    std::string all;
    for (auto& l : lines) all += "  | " + l + "\n";
    return all;
}

class UprooterRun : public ::testing::Test {
protected:
    ScratchDir root{L"uprooter"};
    std::wstring app = root / L"app";        // where Uprooter.exe lies
    std::wstring caller = root / L"caller";  // the program that starts it

    void SetUp() override
    {
        CreateDirectoryW(app.c_str(), nullptr);
        CreateDirectoryW(caller.c_str(), nullptr);
        ASSERT_TRUE(CopyFileW(BuildPath(L"uprooter\\Uprooter.exe").c_str(), (app + L"\\Uprooter.exe").c_str(), FALSE));
        ASSERT_TRUE(
            CopyFileW(BuildPath(L"testbed\\stub\\launcher.exe").c_str(), (caller + L"\\launcher.exe").c_str(), FALSE));
    }

    void AddSweeperStandIn()
    {
        ASSERT_TRUE(
            CopyFileW(BuildPath(L"testbed\\stub\\childstub.exe").c_str(), (app + L"\\Sweeper.exe").c_str(), FALSE));
    }

    // Starts Uprooter through the launcher with the app folder (or the one
    // given) as current folder; returns Uprooter's full exit code.
    DWORD Run(const std::wstring& arguments, const std::wstring& currentDir = L"")
    {
        std::wstring line = L"\"" + caller + L"\\launcher.exe\" \"" + app + L"\\Uprooter.exe\" " + arguments;
        return RunAndWait(line, currentDir.empty() ? app : currentDir);
    }

    std::vector<std::string> RunLogLines() { return SplitLines(ReadFileBytes(caller + L"\\Uprooter.log")); }
};

}  // namespace testing_support
