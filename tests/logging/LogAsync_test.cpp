#include "LogAsync.h"
#include "LogTestSupport.h"

#include <gtest/gtest.h>

using namespace LogUtils;
using namespace testing_support;

namespace {

// The content of a file once it differs from before, polled every 5 ms, or
// before itself after timeoutMs.
std::string NextContent(const std::wstring& path, const std::string& before, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    std::string now = ReadFileBytes(path);
    while (now == before && GetTickCount() - start < timeoutMs) {
        Sleep(5);
        now = ReadFileBytes(path);
    }
    return now;
}

// The batching rule of the process-wide writer, in real time. The first
// asynchronous line of this program is the first after a quiet period.
TEST(AsyncWriter, BatchesAfterTenSecondsOrAHundredWakeUps)
{
    logtest::ManagerBench bench(L"async");
    bench.WriteConfig(
        "[one]\r\nenabled=1\r\ntype=File\r\nfilter=*.AGSCommon.Info\r\nformat=%m\r\nencoding=\r\nfilename=one.log\r\n"
        "[two]\r\nenabled=1\r\ntype=File\r\nfilter=*.Other.Info\r\nformat=%m\r\nencoding=UTF-8\r\nfilename=two.log\r\n");
    const std::wstring one = bench.logDir() + L"\\one.log";
    const std::wstring two = bench.logDir() + L"\\two.log";
    auto log = [&](const wchar_t* blade, const std::string& text) {
        bench.Event(Info, false, ModeAsynchronous)(blade, L"%S", text.c_str());
    };

    const DWORD start = GetTickCount();
    log(L"AGSCommon", "first");
    EXPECT_EQ(NextContent(one, "", 2000), "first\r\n") << "the first line goes at once";
    Sleep(200);
    log(L"AGSCommon", "second");
    log(L"AGSCommon", "third");
    log(L"Other", "other");
    Sleep(1500);
    EXPECT_EQ(ReadFileBytes(one), "first\r\n") << "later lines wait for the window";
    EXPECT_FALSE(FileExists(two));
    // Both lines of one.log appear together, by one write.
    EXPECT_EQ(NextContent(one, "first\r\n", 12000), "first\r\nsecond\r\nthird\r\n");
    const DWORD batchAfter = GetTickCount() - start;
    EXPECT_GE(batchAfter, 8500u);
    EXPECT_LE(batchAfter, 11500u);
    // The same batch writes two.log right after one.log.
    EXPECT_EQ(NextContent(two, "", 2000), "\xEF\xBB\xBFother\r\n");

    // One line per wake-up: the hundredth wake-up writes the batch, long before the window ends.
    std::string expected = ReadFileBytes(one);
    for (int i = 0; i < 100; ++i) {
        if (i == 99) {
            Sleep(50);
            EXPECT_EQ(ReadFileBytes(one), expected) << "99 wake-ups still wait";
        }
        char text[16];
        snprintf(text, sizeof(text), "wake %02d", i);
        log(L"AGSCommon", text);
        // Apart enough that each line wakes the thread on its own: lines queued
        // while it is busy set its event once. 100 of them end well inside the window.
        Sleep(20);
    }
    for (int i = 0; i < 100; ++i) {
        char text[16];
        snprintf(text, sizeof(text), "wake %02d\r\n", i);
        expected += text;
    }
    std::string got = ReadFileBytes(one);
    for (DWORD waited = GetTickCount(); got != expected && GetTickCount() - waited < 3000; got = ReadFileBytes(one))
        Sleep(5);
    EXPECT_EQ(got, expected);
    EXPECT_LT(GetTickCount() - start - batchAfter, 5000u) << "written before the next window";
}

// A program that exits while its lines are queued still writes every one.
TEST(AsyncWriter, EveryQueuedLineReachesItsFileAtExit)
{
    MachineLogConfig config(
        "[LOGCFG]\r\nloggingmode=1\r\n"
        "[file]\r\nenabled=1\r\ntype=File\r\nfilter=*.*.Info\r\nformat=%m\r\nencoding=UTF-8\r\nfilename=async.log\r\n");
    ScratchDir work(L"async-exit");
    ScopedEnv deflogdir(L"DEFLOGDIR", work.path());
    const int lines = 20000;
    EXPECT_EQ(RunAndWait(L"\"" + ProgramDir() + L"\\logging_child.exe\" --lines " + std::to_wstring(lines), work.path()), 0u);
    std::string log = ReadFileBytes(work / L"async.log");
    ASSERT_EQ(log.substr(0, 3), "\xEF\xBB\xBF");
    std::vector<std::string> got = SplitLines(log.substr(3));
    ASSERT_EQ(got.size(), static_cast<size_t>(lines));
    for (int i = 0; i < lines; ++i) {
        if (got[i] != "line " + std::to_string(i)) {
            ADD_FAILURE() << "line " << i << " reads \"" << got[i] << "\"";
            break;
        }
    }
}

DWORD WINAPI ShutDown(void* writer)
{
    static_cast<AsyncWriter*>(writer)->Shutdown();
    return 0;
}

// A batch waits for a synchronous writer of this process that has the same
// file open, rather than giving up after the three tries of its open; once
// shut-down has begun a line is refused, for its caller to write at once,
// even while the logger thread still runs.
TEST(AsyncWriter, ABatchWaitsForASynchronousWriterAndALateLineIsRefused)
{
    ScratchDir dir(L"async-collision");
    const std::wstring path = dir / L"shared.log";
    AsyncWriter writer;
    win::Handle stopper;
    auto line = [&](const char* text) {
        std::unique_ptr<QueueRecord> record = writer.NewRecord();
        record->encoding = EncodingAnsi;
        record->path = path;
        record->text = text;
        record->truncatePercent = 20;
        record->limit = kNoSizeLimit;
        return record;
    };
    {
        // A synchronous writer in the middle of its write: the lock taken, the file open without write sharing.
        win::Lock busy(FileWriteLock());
        win::Handle open(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(open);
        ASSERT_TRUE(writer.Enqueue(line("queued\r\n")));  // the first line goes at once
        Sleep(300);
        // Shut-down begins on another thread, which then waits for the lock as the logger thread does.
        stopper.reset(CreateThread(nullptr, 0, &ShutDown, &writer, 0, nullptr));
        ASSERT_TRUE(stopper);
        Sleep(200);
        EXPECT_FALSE(writer.Enqueue(line("late\r\n"))) << "a line taken after shut-down began";
    }
    EXPECT_EQ(NextContent(path, "", 3000), "queued\r\n");
    EXPECT_EQ(WaitForSingleObject(stopper.get(), 5000), WAIT_OBJECT_0);
}

// Lines logged after the process-wide writer shut down at exit (from an exit
// handler that runs after it) are written at once, not queued and lost.
TEST(AsyncWriter, LinesAfterShutdownAtExitAreWrittenAtOnce)
{
    MachineLogConfig config(
        "[LOGCFG]\r\nloggingmode=1\r\n"
        "[file]\r\nenabled=1\r\ntype=File\r\nfilter=*.*.Info\r\nformat=%m\r\nencoding=ANSI\r\nfilename=late.log\r\n");
    ScratchDir work(L"async-late");
    ScopedEnv deflogdir(L"DEFLOGDIR", work.path());
    EXPECT_EQ(RunAndWait(L"\"" + ProgramDir() + L"\\logging_child.exe\" --late-lines 3", work.path()), 0u);
    EXPECT_EQ(SplitLines(ReadFileBytes(work / L"late.log")),
              (std::vector<std::string>{"first", "line 0", "line 1", "line 2", "late 0", "late 1", "late 2"}));
}

}  // namespace
