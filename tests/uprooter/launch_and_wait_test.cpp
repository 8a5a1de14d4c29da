// Launching the suite's programs: the command line a recording child receives
// and the run-log lines around it.
#include "KillProcess.h"
#include "LaunchAndWait.h"
#include "Scratch.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

using Lines = std::vector<std::string>;

const std::string kTrying = "Uprooter.Exe, Trying to launch: ";
const Lines kStarted = {"Uprooter.Exe, Launched OK", "Uprooter.Exe, We are waiting for execution to complete..."};
const std::string kCompleted = "Uprooter.Exe, Completed successfully.";
const std::string kError = "Uprooter.Exe, *** ERROR *** launching program";

std::string TimedOut(int remaining)
{
    return "Uprooter.Exe, Timed out. " + std::to_string(remaining) + " seconds remains before we give up.";
}

// The path in quotes, as a command line holds a program with a blank.
std::string Quoted(const std::wstring& path) { return std::string("\"").append(Narrow(path)).append("\""); }

Lines operator+(Lines a, const Lines& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class LaunchAndWaitTest : public ::testing::Test {
protected:
    ScratchDir dir{L"launch"};
    std::wstring tools = dir / L"Zl Tools";  // a folder with a blank, as "Program Files"
    std::wstring tool = tools + L"\\tool.exe";
    std::wstring starts = dir / L"starts.txt";
    ScopedEnv stubLog{L"ZL_STUB_LOG", starts};
    CLogFile log;

    void SetUp() override
    {
        CreateDirectoryW(tools.c_str(), nullptr);
        ASSERT_TRUE(CopyFileW(BuildPath(L"testbed\\stub\\childstub.exe").c_str(), tool.c_str(), FALSE));
        log = dir / L"run.log";
        ASSERT_TRUE(log.Open());
    }

    // The run log without its opening banner.
    Lines Logged()
    {
        Lines lines = SplitLines(ReadFileBytes(dir / L"run.log"));
        if (!lines.empty()) lines.erase(lines.begin());
        return lines;
    }
    Lines Starts() { return SplitLines(ReadFileBytes(starts)); }
    std::wstring ShortTool()
    {
        wchar_t buffer[521] = {};
        GetShortPathNameW(tool.c_str(), buffer, 520);
        return buffer;
    }
};

TEST_F(LaunchAndWaitTest, ShortFormAndArgumentsAsGivenWithoutATrailingBlank)
{
    const std::string shortTool = Narrow(ShortTool());
    ASSERT_EQ(shortTool.find(' '), std::string::npos) << shortTool;
    EXPECT_TRUE(LaunchAndWait(tool, L"", log, 1));
    EXPECT_TRUE(LaunchAndWait(tool, nullptr, log, 1));
    EXPECT_TRUE(LaunchAndWait(tool, L" -u", log, 1));
    const Lines once = Lines{kTrying + shortTool} + kStarted + Lines{kCompleted};
    EXPECT_EQ(Logged(), once + once + Lines{kTrying + shortTool + "  -u"} + kStarted + Lines{kCompleted});
    EXPECT_EQ(Starts(), (Lines{shortTool, shortTool, shortTool + "  -u"}));
}

TEST_F(LaunchAndWaitTest, LongPathWithABlankIsQuotedSoAPlantedProgramCannotRun)
{
    // Unquoted, "...\Zl Tools\tool.exe" would start "...\Zl.exe".
    const std::wstring planted = dir / L"Zl.exe", plantRecord = dir / L"planted.txt";
    ASSERT_TRUE(CopyFileW(BuildPath(L"testbed\\windowed\\windowed.exe").c_str(), planted.c_str(), FALSE));
    ScopedEnv windows(L"ZL_WINDOWED_WINDOWS", L"0"), life(L"ZL_WINDOWED_LIFE_MS", L"0"),
        record(L"ZL_WINDOWED_RECORD", plantRecord);

    EXPECT_TRUE(LaunchAndWait(tool, L"/x", log, 0));
    const std::string quoted = Quoted(tool) + " /x";
    EXPECT_EQ(Logged(), Lines{kTrying + quoted} + kStarted + Lines{kCompleted});
    EXPECT_EQ(Starts(), Lines{quoted});
    EXPECT_FALSE(FileExists(plantRecord)) << ReadFileBytes(plantRecord);

    // A path without a blank stays as it is.
    const std::wstring plain = dir / L"plain.exe";
    ASSERT_TRUE(CopyFileW(tool.c_str(), plain.c_str(), FALSE));
    EXPECT_TRUE(LaunchAndWait(plain, L"/y", log, 0));
    EXPECT_EQ(Starts().back(), Narrow(plain) + " /y");
}

// A stored command such as "C:\Program Files\X\uninst.exe /S" runs its
// program with its arguments, never "C:\Program.exe"; a quoted one runs as
// written; one whose program cannot be told apart runs nothing.
TEST_F(LaunchAndWaitTest, AnUnquotedCommandRunsItsProgramNeverAShorterPrefix)
{
    const std::wstring planted = dir / L"Zl.exe", plantRecord = dir / L"planted.txt";
    ASSERT_TRUE(CopyFileW(BuildPath(L"testbed\\windowed\\windowed.exe").c_str(), planted.c_str(), FALSE));
    ScopedEnv windows(L"ZL_WINDOWED_WINDOWS", L"0"), life(L"ZL_WINDOWED_LIFE_MS", L"0"),
        record(L"ZL_WINDOWED_RECORD", plantRecord);

    EXPECT_TRUE(LaunchAndWait(tool + L" /S", nullptr, log, 0));
    EXPECT_TRUE(LaunchAndWait(L"\"" + tool + L"\" /quiet", L"/x", log, 1));
    EXPECT_FALSE(LaunchAndWait(tools + L"\\tool /S", nullptr, log, 0));
    const std::string quoted = Quoted(tool);
    EXPECT_EQ(Starts(), (Lines{quoted + " /S", quoted + " /quiet /x"}));
    EXPECT_FALSE(FileExists(plantRecord)) << ReadFileBytes(plantRecord);
    const Lines logged = Logged();
    ASSERT_EQ(logged.size(), 2 * (kStarted.size() + 2) + 3);
    EXPECT_EQ(Lines(logged.end() - 3, logged.end()),
              (Lines{kTrying + Narrow(tools) + "\\tool /S",
                     "Uprooter.Exe, Refusing to launch " + Narrow(tools) + "\\tool /S: not a full local path", kError}));
}

// A program outside the folders the caller allows does not start.
TEST_F(LaunchAndWaitTest, AProgramOutsideTheAllowedFoldersIsRefused)
{
    EXPECT_FALSE(LaunchAndWait(tool, L"/x", log, 0, LaunchScope{{dir / L"elsewhere"}}));
    EXPECT_TRUE(LaunchAndWait(tool, L"/y", log, 0, LaunchScope{{tools}}));
    EXPECT_EQ(Starts(), Lines{Quoted(tool) + " /y"});
    const Lines logged = Logged();
    ASSERT_GE(logged.size(), 3u);
    EXPECT_EQ(logged[1], "Uprooter.Exe, Refusing to launch " + Narrow(tool) + ": outside the folders it may lie in");
    EXPECT_EQ(logged[2], kError);
}

TEST_F(LaunchAndWaitTest, MissingProgramFailsAtCreationWithTheErrorLine)
{
    const std::wstring missing = tools + L"\\missing.exe";
    EXPECT_FALSE(LaunchAndWait(missing, L"/x", log, 1));
    EXPECT_FALSE(LaunchAndWait(dir / L"missing.exe", nullptr, log, 0));
    EXPECT_EQ(Logged(), (Lines{kTrying + Quoted(missing) + " /x", kError,
                               kTrying + Narrow(dir / L"missing.exe"), kError}));
    EXPECT_TRUE(Starts().empty());
}

struct DelayedSet {
    HANDLE event;
    DWORD delayMs;
    std::wstring started;  // the child's record: the delay counts from its start
};

DWORD WINAPI SetLater(void* context)
{
    auto* job = static_cast<DelayedSet*>(context);
    // A process start takes a good part of a second under emulation.
    for (int tries = 0; tries < 6000 && !FileExists(job->started); ++tries) Sleep(10);
    Sleep(job->delayMs);
    SetEvent(job->event);
    return 0;
}

TEST_F(LaunchAndWaitTest, ChildRunningTwoAndAHalfSecondsGivesTwoTimeOutLines)
{
    const std::wstring name = L"zl-launch-release-" + std::to_wstring(GetCurrentProcessId());
    win::Handle release(CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
    ScopedEnv wait(L"ZL_STUB_WAIT", name);
    DelayedSet job{release.get(), 2500, starts};
    win::Handle setter(CreateThread(nullptr, 0, SetLater, &job, 0, nullptr));
    EXPECT_TRUE(LaunchAndWait(tool, L"/x", log, 1));
    WaitForSingleObject(setter.get(), INFINITE);
    EXPECT_EQ(Logged(), Lines{kTrying + Narrow(ShortTool()) + " /x"} + kStarted +
                            Lines({TimedOut(299), TimedOut(298), kCompleted}));
}

TEST_F(LaunchAndWaitTest, ExhaustedAllowanceFailsAndLeavesTheChildRunning)
{
    const std::wstring name = L"zl-launch-hold-" + std::to_wstring(GetCurrentProcessId());
    win::Handle release(CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
    ScopedEnv wait(L"ZL_STUB_WAIT", name);
    const std::wstring held = dir / L"zlheld.exe";
    ASSERT_TRUE(CopyFileW(tool.c_str(), held.c_str(), FALSE));
    {
        LaunchAllowanceOverride shorter(2);
        EXPECT_FALSE(LaunchAndWait(held, nullptr, log, 0));
    }
    EXPECT_EQ(Logged(), Lines{kTrying + Narrow(held)} + kStarted + Lines({TimedOut(1), TimedOut(0), kError}));

    CKillProcHolder holder;
    ASSERT_TRUE(holder.GetKiller());
    DWORD id = holder.Killer()->GetProcessId(held);
    ASSERT_NE(id, 0u);
    win::Handle child(OpenProcess(SYNCHRONIZE, FALSE, id));
    SetEvent(release.get());
    EXPECT_EQ(WaitForSingleObject(child.get(), 10000), WAIT_OBJECT_0);
}

}  // namespace
