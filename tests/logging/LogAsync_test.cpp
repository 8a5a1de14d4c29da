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

}  // namespace
