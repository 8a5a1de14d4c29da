#include "LogFile.h"
#include "Scratch.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace testing_support;

namespace {

// A banner's time stamp: month, day, four-digit year, 24-hour time, a blank.
std::string Stamp(const SYSTEMTIME& t)
{
    char text[32] = {};
    std::snprintf(text, sizeof(text), "%02u/%02u/%04u %02u:%02u:%02u ", t.wMonth, t.wDay, t.wYear, t.wHour,
                  t.wMinute, t.wSecond);
    return text;
}

class RunLogFile : public ::testing::Test {
protected:
    ScratchDir dir{L"runlog"};
    std::wstring path = dir / L"Uprooter.log";

    std::vector<std::string> Lines() { return SplitLines(ReadFileBytes(path)); }
};

TEST_F(RunLogFile, OpeningAndClosingBannersFrameTheLinesWithTheLocalTime)
{
    SYSTEMTIME before, after;
    GetLocalTime(&before);
    {
        CLogFile log;
        log = path;
        ASSERT_TRUE(log.Open());
        log.Log(L"first %d", 1);
        log.Log(L"%s and %s", L"wide", L"text");
    }
    GetLocalTime(&after);
    auto lines = Lines();
    ASSERT_EQ(lines.size(), 4u) << ReadFileBytes(path);
    // A second may tick between the two readings of the clock.
    auto banner = [&](const char* kind, const std::string& line) {
        std::string head = std::string(kind) + " logfile object: " + Narrow(path) + ": ";
        EXPECT_TRUE(line == head + Stamp(before) || line == head + Stamp(after)) << line << " at " << Stamp(before);
    };
    banner("Opened", lines[0]);
    EXPECT_EQ(lines[1], "first 1");
    EXPECT_EQ(lines[2], "wide and text");
    banner("Closing", lines[3]);
}

TEST_F(RunLogFile, LongMessageIsCutTo4095CharactersAndEmptyMessageIsAnEmptyLine)
{
    CLogFile log;
    log = path;
    ASSERT_TRUE(log.Open());
    std::wstring longText(5000, L'x');
    log.Log(L"%s", longText.c_str());
    log.Log(L"%s", L"");
    log.Log(L"after");
    auto lines = Lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], std::string(4095, 'x'));
    EXPECT_EQ(lines[2], "");
    EXPECT_EQ(lines[3], "after");
}

TEST_F(RunLogFile, DeletedFileIsCreatedAgainByTheNextWrite)
{
    CLogFile log;
    log = path;
    ASSERT_TRUE(log.Open());
    log.Log(L"before");
    ASSERT_TRUE(DeleteFileW(path.c_str()));
    log.Log(L"after");
    EXPECT_EQ(ReadFileBytes(path), "after\r\n");
}

TEST_F(RunLogFile, InstanceThatCouldNotOpenDropsEverythingEvenAfterAPathChange)
{
    CLogFile log;
    log = dir / L"missing\\folder\\Uprooter.log";
    EXPECT_FALSE(log.Open());
    log = path;
    log.Log(L"dropped");
    EXPECT_FALSE(FileExists(path));
}

// The log lands beside the starting program, where a user may have placed a
// second name of another file: that file is never written.
TEST_F(RunLogFile, AFileWithASecondNameIsNotWritten)
{
    const std::wstring victim = dir / L"victim.txt";
    ASSERT_TRUE(WriteFileBytes(victim, "precious"));
    ASSERT_TRUE(CreateHardLinkW(path.c_str(), victim.c_str(), nullptr));
    {
        CLogFile log;
        log = path;
        EXPECT_FALSE(log.Open());
        log.Log(L"line");
    }
    EXPECT_EQ(ReadFileBytes(victim), "precious");
    // With the second name gone, the same path is an ordinary log again.
    ASSERT_TRUE(DeleteFileW(path.c_str()));
    CLogFile log;
    log = path;
    EXPECT_TRUE(log.Open());
    EXPECT_EQ(ReadFileBytes(victim), "precious");
}

TEST_F(RunLogFile, TwoInstancesOnOnePathInterleaveWholeLinesInCallOrder)
{
    CLogFile a, b;
    a = path;
    b = path;
    ASSERT_TRUE(a.Open());
    ASSERT_TRUE(b.Open());
    a.Log(L"a1");
    b.Log(L"b1");
    a.Log(L"a2");
    b.Log(L"b2");
    auto lines = Lines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 2, lines.end()),
              (std::vector<std::string>{"a1", "b1", "a2", "b2"}));
}

struct Writer {
    CLogFile* log;
    wchar_t letter;
};

DWORD WINAPI WriteHundredLines(void* param)
{
    auto* writer = static_cast<Writer*>(param);
    std::wstring text(200, writer->letter);
    for (int i = 0; i < 100; ++i) writer->log->Log(L"%s", text.c_str());
    return 0;
}

TEST_F(RunLogFile, ThreadsSharingAnInstanceNeverSplitALine)
{
    CLogFile log;
    log = path;
    ASSERT_TRUE(log.Open());
    Writer a{&log, L'a'}, b{&log, L'b'};
    win::Handle t1(CreateThread(nullptr, 0, WriteHundredLines, &a, 0, nullptr));
    win::Handle t2(CreateThread(nullptr, 0, WriteHundredLines, &b, 0, nullptr));
    ASSERT_TRUE(t1 && t2);
    HANDLE both[] = {t1.get(), t2.get()};
    WaitForMultipleObjects(2, both, TRUE, INFINITE);
    auto lines = Lines();
    ASSERT_EQ(lines.size(), 201u);
    for (size_t i = 1; i < lines.size(); ++i) {
        // A message and its line end are two writes, so the only possible
        // interleaving is between whole messages.
        EXPECT_TRUE(lines[i] == std::string(200, 'a') || lines[i] == std::string(200, 'b') ||
                    lines[i] == std::string(200, 'a') + std::string(200, 'b') ||
                    lines[i] == std::string(200, 'b') + std::string(200, 'a') || lines[i].empty())
            << "line " << i << " is torn: " << lines[i].substr(0, 50);
    }
}

TEST_F(RunLogFile, TextIsInTheThreadsAnsiCodePage)
{
    CLogFile log;
    log = path;
    ASSERT_TRUE(log.Open());
    // Russian gives the thread code page 1251, which the process's own ANSI
    // code page and UTF-8 spell differently; it has no Chinese character.
    LCID saved = GetThreadLocale();
    SetThreadLocale(MAKELCID(MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT), SORT_DEFAULT));
    log.Log(L"\u0416\u0438\u0437\u043d\u044c \u4e2d");
    SetThreadLocale(saved);
    std::string bytes = ReadFileBytes(path);
    EXPECT_EQ(bytes.substr(bytes.find("\r\n") + 2), "\xC6\xE8\xE7\xED\xFC ?\r\n");
    EXPECT_NE(bytes.substr(0, 3), "\xEF\xBB\xBF") << "no byte-order mark";
}

}  // namespace
