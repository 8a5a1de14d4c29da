#include "DbWinListener.h"
#include "LogTestSupport.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <algorithm>
#include <atomic>

using namespace LogUtils;
using namespace testing_support;

namespace {

const char kBom8[] = "\xEF\xBB\xBF";

std::string Utf16(const std::string& ascii)
{
    std::string out;
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

std::string Section(const std::string& name, const std::string& body)
{
    return "[" + name + "]\r\nenabled=1\r\n" + body;
}

TEST(LogManager, EachSectionGetsExactlyItsLinesInItsEncoding)
{
    logtest::ManagerBench bench(L"sections");
    bench.WriteConfig(
        Section("utf8", "type=File\r\nfilter=*.*.Error|Info\r\nformat=%l %F %m\r\nencoding=UTF-8\r\nfilename=u8.log\r\n") +
        Section("ansi", "type=File\r\nfilter=*.*.Error\r\nformat=%l|%m\r\nencoding=\r\nfilename=ansi.log\r\n") +
        Section("wide", "type=File\r\nfilter=*.*.Info\r\nformat=%l %m\r\nencoding=UNICODE\r\nfilename=%DEFLOGDIR%\\wide.log\r\n") +
        Section("limited", "type=File\r\nfilter=*.*.Info\r\nformat=%m\r\nencoding=ANSI\r\nfilename=" +
                Narrow(bench.folder()) + "\\sub\\limited.log\r\nlimitsize=1\r\nmaxsize=53\r\n") +
        Section("debugger", "type=OutputDebugString\r\nfilter=*.*.Error\r\nformat=ODS %l %m\r\nencoding=UTF-8\r\n") +
        "[off]\r\nenabled=0\r\ntype=File\r\nfilter=*.*.*\r\nformat=%m\r\nencoding=\r\nfilename=off.log\r\n" +
        Section("nokey", "type=File\r\nfilter=*.*.Error\r\nformat=%m\r\nfilename=nokey.log\r\n"));
    DbWinListener listener;
    ASSERT_TRUE(listener.ok());

    bench.Event(Info)(L"AGSCommon", L"first %d \u00e9", 1);
    bench.Event(Error)(L"AGSCommon", L"second %s", L"x");
    bench.Event(Info)(L"AGSCommon", L"0123456789012345678901234567890123456789");

    EXPECT_EQ(bench.ReadLog(L"u8.log"), std::string(kBom8) + "Info AGSCommon first 1 \xC3\xA9\r\n"
                                                          "Error AGSCommon second x\r\n"
                                                          "Info AGSCommon 0123456789012345678901234567890123456789\r\n");
    EXPECT_EQ(bench.ReadLog(L"ansi.log"), "Error|second x\r\n");
    EXPECT_EQ(bench.ReadLog(L"wide.log"),
              "\xFF\xFE" + Utf16("Info first 1 ") + std::string("\xE9\0", 2) + Utf16("\r\n") +
                  Utf16("Info 0123456789012345678901234567890123456789\r\n"));
    // 12 + 42 bytes exceed the 53-byte limit; the cut at byte 11 ends the first line.
    EXPECT_EQ(ReadFileBytes(bench.folder() + L"\\sub\\limited.log"), "0123456789012345678901234567890123456789\r\n");
    EXPECT_FALSE(FileExists(bench.logDir() + L"\\off.log"));
    EXPECT_FALSE(FileExists(bench.logDir() + L"\\nokey.log"));
    EXPECT_TRUE(logtest::Heard(listener, "ODS Error second x\n"));
    std::vector<std::string> ods = listener.Messages(GetCurrentProcessId());
    EXPECT_EQ(std::count(ods.begin(), ods.end(), "ODS Error second x\n"), 1);
}

TEST(LogManager, AnEventNoSectionTakesIsNeitherFormattedNorWritten)
{
    logtest::ManagerBench bench(L"untaken");
    bench.WriteConfig(Section("s", "type=File\r\nfilter=*.AGSCommon.Error\r\nformat=%m\r\nencoding=\r\nfilename=s.log\r\n"));
    LogEvent& other = bench.Event(Error)(L"Other", L"%s", L"nothing");
    EXPECT_FALSE(other.formatted);
    LogEvent& warning = bench.Event(Warning)(L"AGSCommon", L"%s", L"nothing");
    EXPECT_FALSE(warning.formatted);
    bench.Event(Error)(L"AGSCommon", static_cast<const wchar_t*>(nullptr));
    EXPECT_FALSE(FileExists(bench.logDir() + L"\\s.log"));
}

// An event's local time is the platform's local time when it is built, to the
// millisecond, also across the turn of a second.
TEST(LogEvent, TakesTheLocalTimeWhenBuilt)
{
    auto ticks = [](const SYSTEMTIME& time) {
        FILETIME file{};
        EXPECT_TRUE(SystemTimeToFileTime(&time, &file));
        return (static_cast<ULONGLONG>(file.dwHighDateTime) << 32) | file.dwLowDateTime;
    };
    int seconds = 0;
    WORD lastSecond = 0xFFFF;
    for (DWORD start = GetTickCount(); GetTickCount() - start < 2500;) {
        SYSTEMTIME before;
        SYSTEMTIME after;
        GetLocalTime(&before);
        LogEvent event("C:\\src\\x.cpp", 1, ModeSynchronous, Info, logtest::kModule, nullptr, false);
        GetLocalTime(&after);
        ASSERT_LE(ticks(before), ticks(event.localTime));
        ASSERT_LE(ticks(event.localTime), ticks(after));
        if (event.localTime.wSecond != lastSecond) ++seconds;
        lastSecond = event.localTime.wSecond;
        Sleep(event.localTime.wMilliseconds % 7);
    }
    EXPECT_GE(seconds, 3);
}

TEST(LogManager, ActivityAndErrorIsLoggedTwice)
{
    logtest::ManagerBench bench(L"twice");
    bench.WriteConfig(Section("s", "type=File\r\nfilter=*.*.Activity|Error\r\nformat=%l %m\r\nencoding=\r\nfilename=s.log\r\n"));
    bench.Event(ActivityAndError)(L"AGSCommon", L"step %d", 3);
    EXPECT_EQ(bench.ReadLog(L"s.log"), "Activity step 3\r\nError step 3\r\n");
}

// No fault inside logging reaches the caller, and its last error survives.
TEST(LogManager, BadArgumentsGiveReplacementLinesAndKeepTheLastError)
{
    ZL_SKIP_BAD_READS_UNDER_EMULATION();
    logtest::ManagerBench bench(L"faults");
    bench.WriteConfig(Section("s", "type=File\r\nfilter=*.*.*|Error\r\nformat=%m\r\nencoding=UTF-8\r\nfilename=s.log\r\n") +
                      Section("broken", "type=File\r\nfilter=*.*.Error\r\nformat=%m\r\nencoding=\r\nfilename=" +
                              Narrow(bench.configFile()) + "\\cannot.log\r\n"));
    DbWinListener listener;
    ASSERT_TRUE(listener.ok());
    const std::wstring tooLong(5000, L'x');

    SetLastError(1234);
    bench.Event(Error)(L"AGSCommon", L"value %s and %d", reinterpret_cast<const wchar_t*>(0x10), 7);
    EXPECT_EQ(GetLastError(), 1234u);
    bench.Event(Error)(L"AGSCommon", L"again %s", reinterpret_cast<const wchar_t*>(0x1));
    bench.Event(Error)(L"AGSCommon", L"long %s", tooLong.c_str());
    bench.Event(Error)(L"AGSCommon", L"bad %y format");
    // Integer fields too wide for Wine's wide formatting, whose heap block
    // would be overrun: refused before the heap is touched.
    bench.Event(Error)(L"AGSCommon", L"wide %.99x", 5);
    bench.Event(Error)(L"AGSCommon", L"star %*d", 30, 5);
    EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, nullptr));
    EXPECT_EQ(GetLastError(), 1234u);

    EXPECT_EQ(bench.ReadLog(L"s.log"),
              std::string(kBom8) +
                  "value %s and %d\r\n"
                  "again %s\r\n"
                  "[LOGGER]Failed to log message. Input buffer too large. Max allowed size allowed is 4095\r\n"
                  "[LOGGER]Failed to format message due to invalid/missing arguments!!! [bad %y format]\r\n"
                  "[LOGGER]Failed to format message due to invalid/missing arguments!!! [wide %.99x]\r\n"
                  "[LOGGER]Failed to format message due to invalid/missing arguments!!! [star %*d]\r\n");
    EXPECT_TRUE(logtest::Heard(listener, "SEH exception triggered for [value %s and %d]\n"));
    EXPECT_TRUE(logtest::Heard(listener, "LogLib: AV Exception during logging!!!\n"));
    EXPECT_TRUE(logtest::Heard(listener, "LogLib: CRT Exception during logging...\n"));
    EXPECT_TRUE(logtest::Heard(listener, "cannot.log file [3]!!!"));
}

volatile LONG g_guardPageFaults = 0;

// The guard is gone once it fired, so the read can simply run again.
LONG CALLBACK ReadGuardPageAgain(EXCEPTION_POINTERS* info)
{
    if (info->ExceptionRecord->ExceptionCode != STATUS_GUARD_PAGE_VIOLATION) return EXCEPTION_CONTINUE_SEARCH;
    InterlockedIncrement(&g_guardPageFaults);
    return EXCEPTION_CONTINUE_EXECUTION;
}

// A fault other than an access violation is announced and left to the
// program's own handlers: here one that lets the read of a guard page go on.
TEST(LogManager, AFaultOtherThanAnAccessViolationIsAnnouncedAndPassedOn)
{
    ZL_SKIP_BAD_READS_UNDER_EMULATION();  // a guard page's fault is mislabelled too
    logtest::ManagerBench bench(L"guardpage");
    bench.WriteConfig(Section("s", "type=File\r\nfilter=*.*.Error\r\nformat=%m\r\nencoding=\r\nfilename=s.log\r\n"));
    bench.Event(Error)(L"AGSCommon", L"%s", L"first");
    void* page = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE | PAGE_GUARD);
    ASSERT_NE(page, nullptr);
    PVOID handler = AddVectoredExceptionHandler(0, &ReadGuardPageAgain);
    DbWinListener listener;
    ASSERT_TRUE(listener.ok());
    bench.Event(Error)(L"AGSCommon", L"guarded [%s]", static_cast<const wchar_t*>(page));
    RemoveVectoredExceptionHandler(handler);
    VirtualFree(page, 0, MEM_RELEASE);
    EXPECT_EQ(g_guardPageFaults, 1);
    EXPECT_TRUE(logtest::Heard(listener, "LogLib: Unknown Exception during logging!!!\n"));
    EXPECT_EQ(bench.ReadLog(L"s.log"), "first\r\nguarded []\r\n");
}

// A narrow format's message goes to the line as the bytes it formats to.
TEST(LogManager, ANarrowMessageIsWrittenAsItsBytes)
{
    logtest::ManagerBench bench(L"narrow");
    bench.WriteConfig(Section("u", "type=File\r\nfilter=*.*.Info\r\nformat=%m\r\nencoding=UTF-8\r\nfilename=u.log\r\n") +
                      Section("a", "type=File\r\nfilter=*.*.Info\r\nformat=%m\r\nencoding=ANSI\r\nfilename=a.log\r\n"));
    bench.Event(Info)(L"AGSCommon", "caf\xE9 %s %d", "cr\xE8me", 2);
    EXPECT_EQ(bench.ReadLog(L"u.log"), std::string(kBom8) + "caf\xE9 cr\xE8me 2\r\n");
    EXPECT_EQ(bench.ReadLog(L"a.log"), "caf\xE9 cr\xE8me 2\r\n");
}

// What the interfaces offer to code beside the manager's own walk.
TEST(LogManager, ForConfigurationShowsTheSectionsWithTheirBladesAndKeptHandles)
{
    logtest::ManagerBench bench(L"interfaces");
    bench.WriteConfig(Section("kept", "type=File\r\nfilter=*.A|B.Info\r\nformat=%m\r\nencoding=\r\nfilename=k.log\r\n"
                                      "extremeLogging=1\r\naffinity=logging_tests\r\n") +
                      Section("debugger", "type=OutputDebugString\r\nfilter=*.*.Error\r\nformat=%m\r\nencoding=\r\n"));
    struct Collect : ConfigurationActionType {
        struct Sections : IEnumerable<ICompiledLogProperties>::ActionType {
            std::vector<ICompiledLogProperties*> seen;
            bool Invoke(ICompiledLogProperties& section) override
            {
                seen.push_back(&section);
                return false;
            }
        } sections;
        bool Invoke(IEnumerable<ICompiledLogProperties>& configuration) override { return configuration.ForEach(sections); }
    } collect;
    bench.manager().ForConfiguration(collect);
    EXPECT_TRUE(collect.sections.seen.empty()) << "nothing is loaded before the first event";

    bench.Event(Info)(L"A", L"kept open");
    bench.manager().ForConfiguration(collect);
    ASSERT_EQ(collect.sections.seen.size(), 2u);
    ICompiledLogProperties& kept = *collect.sections.seen[0];
    EXPECT_NE(kept.GetFilter().GetBlades().Lookup(L"B"), nullptr);
    EXPECT_EQ(kept.GetFilter().GetBlades().Lookup(L"C"), nullptr);
    EXPECT_EQ(collect.sections.seen[1]->GetSinkType(), SinkOutputDebugString);
    ASSERT_TRUE(kept.GetSinkHandle().HasHandle());
    kept.GetSinkHandle().Close();
    EXPECT_FALSE(kept.GetSinkHandle().HasHandle());
    win::Handle other(CreateFileW((bench.logDir() + L"\\k.log").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(other) << "the closed handle no longer blocks other writers";
}

// Two threads log while the configuration is rewritten under them.
TEST(LogManager, ThreadsLoggingDuringEditsNeitherDeadlockNorTearLines)
{
    logtest::ManagerBench bench(L"threads");
    const std::string config = Section("s", "type=File\r\nfilter=*.*.Info\r\nformat=%t %m\r\nencoding=UTF-8\r\nfilename=t.log\r\n");
    bench.WriteConfig(config);
    struct Worker {
        logtest::ManagerBench* bench;
        std::atomic<int> done{0};
        bool lastErrorKept = true;
        static DWORD WINAPI Run(void* self)
        {
            auto* w = static_cast<Worker*>(self);
            for (int i = 0; i < 150; ++i) {
                SetLastError(4000 + i);
                w->bench->Event(Info)(L"AGSCommon", L"line %03d of a worker", i);
                w->lastErrorKept = w->lastErrorKept && GetLastError() == static_cast<DWORD>(4000 + i);
            }
            ++w->done;
            return 0;
        }
    };
    Worker a{&bench};
    Worker b{&bench};
    win::Handle ta(CreateThread(nullptr, 0, &Worker::Run, &a, 0, nullptr));
    win::Handle tb(CreateThread(nullptr, 0, &Worker::Run, &b, 0, nullptr));
    for (int edit = 0; edit < 20 && (a.done == 0 || b.done == 0); ++edit) {
        bench.WriteConfig(config + "; edit " + std::to_string(edit) + "\r\n");
        Sleep(5);
    }
    HANDLE threads[2] = {ta.get(), tb.get()};
    ASSERT_EQ(WaitForMultipleObjects(2, threads, TRUE, 120000), WAIT_OBJECT_0) << "a logging thread hangs";
    EXPECT_TRUE(a.lastErrorKept);
    EXPECT_TRUE(b.lastErrorKept);

    // A reload may have caught the file half written; the next edit mends that.
    win::ChangeNotification seen(FindFirstChangeNotificationW((bench.folder() + L"\\cfg").c_str(), FALSE,
                                                              FILE_NOTIFY_CHANGE_LAST_WRITE));
    Sleep(20);
    bench.WriteConfig(config);
    WaitForSingleObject(seen.get(), 5000);
    bench.Event(Info)(L"AGSCommon", L"after the edits");
    std::vector<std::string> lines = SplitLines(bench.ReadLog(L"t.log").substr(3));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().substr(lines.back().find(' ') + 1), "after the edits");
    for (const std::string& line : lines) {
        std::string text = line.substr(line.find(' ') + 1);
        EXPECT_TRUE(text == "after the edits" ||
                    (text.size() == 20 && text.compare(0, 5, "line ") == 0 && text.compare(8, 12, " of a worker") == 0))
            << "torn line: " << line;
    }
}

// Editing logcfg.ini takes effect on the next event; touching another file does not.
TEST(LogManager, ReloadFollowsTheLastWriteTimeOfTheConfigurationFile)
{
    logtest::ManagerBench bench(L"reload");
    const std::string toA = Section("s", "type=File\r\nfilter=*.*.Info\r\nformat=%m\r\nencoding=\r\nfilename=a.log\r\n");
    const std::string toB = Section("s", "type=File\r\nfilter=*.*.Info\r\nformat=%m\r\nencoding=\r\nfilename=b.log\r\n");
    win::ChangeNotification seen(FindFirstChangeNotificationW((bench.folder() + L"\\cfg").c_str(), FALSE,
                                                              FILE_NOTIFY_CHANGE_LAST_WRITE));
    ASSERT_TRUE(seen);
    auto settle = [&] {
        // The manager's notification fires with ours; wait for ours, then re-arm it.
        WaitForSingleObject(seen.get(), 5000);
        FindNextChangeNotification(seen.get());
    };
    auto lastWrite = [&] {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        GetFileAttributesExW(bench.configFile().c_str(), GetFileExInfoStandard, &data);
        return data.ftLastWriteTime;
    };
    auto setLastWrite = [&](FILETIME time) {
        win::Handle file(CreateFileW(bench.configFile().c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
        SetFileTime(file.get(), nullptr, nullptr, &time);
    };

    bench.WriteConfig(toA);
    settle();
    bench.Event(Info)(L"AGSCommon", L"one");
    const FILETIME loaded = lastWrite();

    // New content, but the old time: no reload.
    bench.WriteConfig(toB);
    setLastWrite(loaded);
    settle();
    bench.Event(Info)(L"AGSCommon", L"two");
    // Another file of the folder changes: no reload.
    WriteFileBytes(bench.folder() + L"\\cfg\\other.txt", "x");
    settle();
    bench.Event(Info)(L"AGSCommon", L"three");
    EXPECT_EQ(bench.ReadLog(L"a.log"), "one\r\ntwo\r\nthree\r\n");

    // Only the time changes: reload on the very next event.
    FILETIME later = loaded;
    later.dwHighDateTime += 1;
    setLastWrite(later);
    settle();
    bench.Event(Info)(L"AGSCommon", L"four");
    EXPECT_EQ(bench.ReadLog(L"b.log"), "four\r\n");
    EXPECT_EQ(bench.ReadLog(L"a.log"), "one\r\ntwo\r\nthree\r\n");
}

// An edit that lands while another thread reloads is never lost: after every
// round of quick edits the next event follows the file as it stands.
TEST(LogManager, AnEditDuringAReloadIsPickedUp)
{
    logtest::ManagerBench bench(L"reload-race");
    // Many sections after the first make each reload read long enough for an edit to land in it.
    std::string padding;
    for (int i = 0; i < 120; ++i)
        padding += "[pad" + std::to_string(i) + "]\r\nenabled=0\r\ntype=File\r\nfilter=*.*.Debug\r\nformat=%m\r\n";
    auto config = [&](const char* file) {
        return Section("s", std::string("type=File\r\nfilter=*.*.Info\r\nformat=%m\r\nencoding=\r\nfilename=") +
                                file + "\r\n") + padding;
    };
    struct Logger {
        logtest::ManagerBench* bench;
        volatile LONG stop = 0;
        static DWORD WINAPI Run(void* self)
        {
            auto* l = static_cast<Logger*>(self);
            while (!l->stop) l->bench->Event(Debug)(L"AGSCommon", L"worker");
            return 0;
        }
    };
    bench.WriteConfig(config("a.log"));
    int wrong = 0;
    for (int round = 0; round < 40; ++round) {
        Logger logger{&bench};
        win::Handle thread(CreateThread(nullptr, 0, &Logger::Run, &logger, 0, nullptr));
        const char* target = round % 2 ? "a.log" : "b.log";
        bench.WriteConfig(config(round % 2 ? "b.log" : "a.log"));
        // Apart by more than the file system's time step, so the two edits differ in time.
        Sleep(8 + round % 16);
        bench.WriteConfig(config(target));
        Sleep(20);
        InterlockedExchange(&logger.stop, 1);
        WaitForSingleObject(thread.get(), INFINITE);
        Sleep(20);
        const std::string marker = "round " + std::to_string(round);
        bench.Event(Info)(L"AGSCommon", L"%S", marker.c_str());
        wrong += bench.ReadLog(std::wstring(target, target + strlen(target))).find(marker + "\r\n") == std::string::npos;
    }
    EXPECT_EQ(wrong, 0) << "rounds whose last edit was not in force";
}

// Without a folder to watch, the first event loads what is there and nothing reloads later.
TEST(LogManager, WithoutAWatchedFolderTheFirstEventLoadsOnce)
{
    ScratchDir dir(L"nowatch");
    const std::wstring folder = dir / L"cfg";
    const std::wstring file = folder + L"\\logcfg.ini";
    DbWinListener listener;
    ASSERT_TRUE(listener.ok());
    DefaultLogManager manager(folder, file, dir.path());
    EXPECT_TRUE(logtest::Heard(listener, "FindFirstChangeNotification failed!!! [GetLastError = "));
    CreateDirectoryW(folder.c_str(), nullptr);
    WriteFileBytes(file, Section("s", "type=File\r\nfilter=*.*.Info\r\nformat=%m\r\nencoding=\r\nfilename=a.log\r\n"));
    auto log = [&](const wchar_t* text) {
        LogEvent(__FILE__, __LINE__, ModeSynchronous, Info, logtest::kModule, &manager, false)(L"AGSCommon", L"%s", text);
    };
    log(L"one");
    WriteFileBytes(file, Section("s", "type=File\r\nfilter=*.*.Info\r\nformat=%m\r\nencoding=\r\nfilename=b.log\r\n"));
    log(L"two");
    EXPECT_EQ(ReadFileBytes(dir / L"a.log"), "one\r\ntwo\r\n");
    EXPECT_FALSE(FileExists(dir / L"b.log"));
}

// With a limit of 1000 and truncateby 20, a file reaching 1050 bytes loses its
// oldest 250 bytes up to the next line end and keeps its mark.
struct TruncationCase {
    const char* encoding;
    std::string mark;
    int unit;  // bytes per character
};

class Truncation : public ::testing::TestWithParam<TruncationCase> {};

std::string Encode(const std::string& ascii, int unit) { return unit == 2 ? Utf16(ascii) : ascii; }

TEST_P(Truncation, CutsTheOldestPartOnALineBoundaryAndKeepsTheMark)
{
    const TruncationCase& c = GetParam();
    logtest::ManagerBench bench(L"truncate");
    bench.WriteConfig(Section("s", std::string("type=File\r\nfilter=*.*.Info\r\nformat=%m\r\nencoding=") + c.encoding +
                                       "\r\nfilename=t.log\r\nlimitsize=1\r\nmaxsize=1000\r\ntruncateby=20\r\n"));
    const std::string last = Encode("the last line\r\n", c.unit);
    // Earlier lines of 30 bytes, then a filler, so that the last line brings the file to 1050 bytes.
    std::string before = c.mark;
    for (int i = 0; before.size() + 30 * 1 + last.size() <= 1050; ++i) {
        char line[64];
        snprintf(line, sizeof(line), c.unit == 2 ? "old %02d abc\r\n" : "old line %02d abcdefghijklmn\r\n", i);
        before += Encode(line, c.unit);
    }
    before += Encode(std::string((1050 - before.size() - last.size()) / c.unit - 2, 'f') + "\r\n", c.unit);
    ASSERT_EQ(before.size() + last.size(), 1050u);
    WriteFileBytes(bench.logDir() + L"\\t.log", before);

    bench.Event(Info)(L"AGSCommon", L"the last line");

    // The kept data begins after the first 0x00, 0x0A or 0x1A byte from the cut:
    // the next line, or for UTF-16 the next character.
    const size_t keepFrom = before.find_first_of(std::string("\0\n\x1a", 3), 250) + 1;
    const std::string expected = c.mark + before.substr(keepFrom) + last;
    const std::string actual = bench.ReadLog(L"t.log");
    EXPECT_EQ(actual, expected) << "expected " << expected.size() << " bytes, found " << actual.size();
    EXPECT_LE(actual.size(), 1000u - 200u + c.mark.size());
}

// A UNICODE log of odd length (a stray byte from another writer) is still cut,
// and the cut puts it back on character boundaries.
TEST(LogFileSink, AnOddLengthUnicodeLogKeepsBeingTruncated)
{
    logtest::ManagerBench bench(L"truncate-odd");
    bench.WriteConfig(Section("s", "type=File\r\nfilter=*.*.Info\r\nformat=%m\r\nencoding=UNICODE\r\n"
                                   "filename=t.log\r\nlimitsize=1\r\nmaxsize=1000\r\ntruncateby=20\r\n"));
    WriteFileBytes(bench.logDir() + L"\\t.log", "\xFF\xFEx");
    for (int i = 0; i < 400; ++i) bench.Event(Info)(L"AGSCommon", L"line %03d", i);
    const std::string log = bench.ReadLog(L"t.log");
    EXPECT_LE(log.size(), 1000u);
    EXPECT_EQ(log.size() % 2, 0u);
    EXPECT_EQ(log.substr(0, 2), "\xFF\xFE");
    const std::string last = Utf16("line 399\r\n");
    ASSERT_GE(log.size(), last.size());
    EXPECT_EQ(log.substr(log.size() - last.size()), last);
}

INSTANTIATE_TEST_SUITE_P(Encodings, Truncation,
                         ::testing::Values(TruncationCase{"UTF-8", "\xEF\xBB\xBF", 1}, TruncationCase{"ANSI", "", 1},
                                           TruncationCase{"UNICODE", "\xFF\xFE", 2}),
                         [](const auto& info) { return std::string(info.param.unit == 2 ? "Unicode" : info.param.mark.empty() ? "Ansi" : "Utf8"); });

TEST(LogFileSink, LimitsAndPathsFollowTheSectionKeys)
{
    logtest::ManagerBench bench(L"keys");
    DbWinListener listener;
    ASSERT_TRUE(listener.ok());
    bench.WriteConfig(
        Section("nolimit", "type=File\r\nfilter=*.*.Info\r\nformat=%m\r\nencoding=\r\nfilename=nolimit.log\r\nmaxsize=10\r\n") +
        Section("zero", "type=File\r\nfilter=*.*.Info\r\nformat=%m\r\nencoding=\r\nfilename=zero.log\r\nmaxsize=10\r\nlimitsize=0\r\n") +
        Section("ninety", "type=File\r\nfilter=*.*.Info\r\nformat=%m\r\nencoding=\r\nfilename=ninety.log\r\nmaxsize=30\r\nlimitsize=yes\r\ntruncateby=90\r\n"));
    for (int i = 0; i < 3; ++i) bench.Event(Info)(L"AGSCommon", L"line %d of twenty", i);
    EXPECT_EQ(bench.ReadLog(L"nolimit.log"), "line 0 of twenty\r\nline 1 of twenty\r\nline 2 of twenty\r\n");
    EXPECT_EQ(bench.ReadLog(L"zero.log"), bench.ReadLog(L"nolimit.log"));
    EXPECT_EQ(bench.ReadLog(L"ninety.log"), "line 2 of twenty\r\n");
    EXPECT_TRUE(logtest::Heard(listener, "Truncate size exceeded 80 so limiting to 20"));
}

// "extremeLogging" keeps the handle only for the program named by "affinity".
TEST(LogFileSink, KeptHandleBlocksOtherWritersUntilTheConfigurationGoes)
{
    logtest::ManagerBench bench(L"extreme");
    bench.WriteConfig(
        Section("kept", "type=File\r\nfilter=*.*.Info\r\nformat=%m\r\nencoding=\r\nfilename=kept.log\r\nextremeLogging=1\r\naffinity=LOGGING_TESTS\r\n") +
        Section("free", "type=File\r\nfilter=*.*.Info\r\nformat=%m\r\nencoding=\r\nfilename=free.log\r\nextremeLogging=1\r\naffinity=Uprooter\r\n"));
    bench.Event(Info)(L"AGSCommon", L"one");
    bench.Event(Info)(L"AGSCommon", L"two");
    auto writable = [&](const wchar_t* name) {
        win::Handle h(CreateFileW((bench.logDir() + L"\\" + name).c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
        return static_cast<bool>(h);
    };
    EXPECT_FALSE(writable(L"kept.log"));
    EXPECT_TRUE(writable(L"free.log"));
    EXPECT_EQ(bench.ReadLog(L"kept.log"), "one\r\ntwo\r\n");

    // A reload drops the old sections and with them the kept handle.
    bench.WriteConfig(Section("free", "type=File\r\nfilter=*.*.Info\r\nformat=%m\r\nencoding=\r\nfilename=free.log\r\n"));
    FILETIME later{};
    GetSystemTimeAsFileTime(&later);
    later.dwHighDateTime += 1;
    {
        win::Handle cfg(CreateFileW(bench.configFile().c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        SetFileTime(cfg.get(), nullptr, nullptr, &later);
    }
    for (int i = 0; i < 100 && !writable(L"kept.log"); ++i) {
        Sleep(20);
        bench.Event(Info)(L"AGSCommon", L"three");
    }
    EXPECT_TRUE(writable(L"kept.log"));
}

TEST(LogFileSink, SecurityAttributesGrantSystemAndEveryone)
{
    SECURITY_ATTRIBUTES* sa = ProcessLogSecurityAttributes();
    ASSERT_NE(sa, nullptr);
    EXPECT_FALSE(sa->bInheritHandle);
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    ACL* acl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(sa->lpSecurityDescriptor, &present, &acl, &defaulted));
    ASSERT_TRUE(present && acl);
    ASSERT_EQ(acl->AceCount, 2);
    const std::pair<const wchar_t*, DWORD> expected[] = {{L"S-1-5-18", 0x101F0000}, {L"S-1-1-0", 0x10020000}};
    for (DWORD i = 0; i < 2; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(GetAce(acl, i, reinterpret_cast<void**>(&ace)));
        EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(ace->Mask, expected[i].second);
        PSID sid = nullptr;
        ConvertStringSidToSidW(expected[i].first, &sid);
        win::LocalMemory owner(sid);
        EXPECT_TRUE(EqualSid(&ace->SidStart, sid)) << "ACE " << i;
    }
}

}  // namespace
