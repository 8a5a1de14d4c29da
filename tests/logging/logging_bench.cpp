// The logging library against a bare loop of the Win32 calls its design asks
// for, case by case, side by side in one run: microseconds per line (median of
// the rounds), the ratio, and the library's heap allocations per line. Also
// the cost of an asynchronous event on the logging thread, and the library's
// own work for an event apart from the Win32 I/O. Prints figures; it
// is not a test. See the README's benchmark section for how to run it.
//   logging_bench [lines per round] [rounds]

#include "LogManager.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

namespace {

// Every allocation of the program goes through here, the library's included.
volatile LONG g_allocations = 0;
volatile LONG g_allocatedBytes = 0;

}  // namespace

void* operator new(size_t size)
{
    InterlockedIncrement(&g_allocations);
    InterlockedExchangeAdd(&g_allocatedBytes, static_cast<LONG>(size));
    if (void* p = malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept
{
    try {
        return operator new(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return operator new(size, std::nothrow); }
void operator delete(void* p) noexcept { free(p); }
void operator delete[](void* p) noexcept { free(p); }
void operator delete(void* p, size_t) noexcept { free(p); }
void operator delete[](void* p, size_t) noexcept { free(p); }

namespace {

double Now()
{
    LARGE_INTEGER frequency;
    LARGE_INTEGER counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

struct Figures {
    double microseconds;  // per line, median of the rounds
    double allocations;   // per line
    double bytes;         // per line
};

// One round of the body: microseconds per line, and the allocations it made.
template <typename Body>
Figures Round(int lines, Body& body)
{
    LONG allocations = g_allocations;
    LONG bytes = g_allocatedBytes;
    double start = Now();
    for (int i = 0; i < lines; ++i) body(i);
    return {(Now() - start) * 1e6 / lines, static_cast<double>(g_allocations - allocations) / lines,
            static_cast<double>(g_allocatedBytes - bytes) / lines};
}

Figures Median(std::vector<Figures> rounds)
{
    std::sort(rounds.begin(), rounds.end(), [](const Figures& a, const Figures& b) { return a.microseconds < b.microseconds; });
    Figures median = rounds[rounds.size() / 2];
    median.allocations = median.bytes = 0;
    for (const Figures& f : rounds) {
        median.allocations += f.allocations / rounds.size();
        median.bytes += f.bytes / rounds.size();
    }
    return median;
}

// The two bodies round by round in turn, so that both meet the same load.
template <typename Library, typename Bare>
std::pair<Figures, Figures> Measure(int lines, int rounds, Library library, Bare bare)
{
    std::vector<Figures> a;
    std::vector<Figures> b;
    for (int r = 0; r < rounds; ++r) {
        a.push_back(Round(lines, library));
        b.push_back(Round(lines, bare));
    }
    return {Median(a), Median(b)};
}

bool WriteText(const std::wstring& path, const std::string& text)
{
    win::Handle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// What the design asks per event before any section: the reload check, a
// wait with no time-out on the folder notification and the load event.
struct ReloadWait {
    win::ChangeNotification notification;
    win::Handle event{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    explicit ReloadWait(const std::wstring& folder)
        : notification(FindFirstChangeNotificationW(folder.c_str(), FALSE, FILE_NOTIFY_CHANGE_LAST_WRITE))
    {
    }
    void operator()() const
    {
        HANDLE handles[2] = {notification.get(), event.get()};
        WaitForMultipleObjects(2, handles, FALSE, 0);
    }
};

// A line of 92 bytes with its "\r\n", as the file section below writes them.
const char kBareLine[] = "2026-12-07 01:05:09.042 PM 4660 42 Info AGSCommon benchmark line 12345 with some text here\r\n";
static_assert(sizeof(kBareLine) - 1 == 92, "the bare loop writes lines of the library's length");

void Append(HANDLE file)
{
    LARGE_INTEGER zero{};
    LARGE_INTEGER size{};
    DWORD written = 0;
    SetFilePointerEx(file, zero, nullptr, FILE_END);
    GetFileSizeEx(file, &size);
    WriteFile(file, kBareLine, sizeof(kBareLine) - 1, &written, nullptr);
}

win::Handle OpenForAppend(const std::wstring& path)
{
    return win::Handle(CreateFileW(path.c_str(), 0xC0120196, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                   FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, nullptr));
}

// What the library does for an event apart from the Win32 I/O: build it,
// format its message and build the line of the benchmark's sections.
class FormatOnlyManager : public LogUtils::LogManagerImpl {
public:
    void Log(LogUtils::LogEvent& event) override
    {
        event.FormatMessages();
        Streamer streamer(L"%+d %+T %p %t %l %F %m", GetFormatter(), event, LogUtils::EncodingUtf8, false);
        LogUtils::BuildSinkLine(streamer, "\r\n", line_);
    }
    void ForConfiguration(LogUtils::ConfigurationActionType&) override {}

private:
    std::string line_;
};

void Print(const char* name, const std::pair<Figures, Figures>& figures)
{
    const Figures& library = figures.first;
    const Figures& bare = figures.second;
    printf("%-34s %9.2f %9.2f %7.2f %9.2f %9.0f\n", name, library.microseconds, bare.microseconds,
           library.microseconds / bare.microseconds, library.allocations, library.bytes);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const int lines = argc > 1 ? _wtoi(argv[1]) : 20000;
    const int rounds = argc > 2 ? _wtoi(argv[2]) : 9;
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    // logcfg.ini and the logs in separate folders, as an installation lays them:
    // a log inside the watched folder would fire its notification on every write.
    const std::wstring root = std::wstring(temp) + L"zl-logging-bench";
    const std::wstring cfg = root + L"\\cfg";
    const std::wstring logs = root + L"\\logs";
    CreateDirectoryW(root.c_str(), nullptr);
    CreateDirectoryW(cfg.c_str(), nullptr);
    CreateDirectoryW(logs.c_str(), nullptr);
    // One section per case, told apart by the blade.
    auto section = [](const char* name, const char* blade, const char* keys) {
        return std::string("[") + name + "]\r\nenabled=1\r\nfilter=*." + blade +
               ".Info\r\nformat=%+d %+T %p %t %l %F %m\r\nencoding=UTF-8\r\n" + keys;
    };
    if (!WriteText(cfg + L"\\logcfg.ini",
                   section("file", "AGSCommon", "type=File\r\nfilename=file.log\r\n") +
                       section("kept", "Other",
                               "type=File\r\nfilename=kept.log\r\nextremeLogging=1\r\naffinity=logging_bench\r\n") +
                       section("debugger", "Debugger", "type=OutputDebugString\r\n"))) {
        fprintf(stderr, "cannot write the configuration under %ls\n", root.c_str());
        return 1;
    }

    LogUtils::DefaultLogManager manager(cfg, cfg + L"\\logcfg.ini", logs);
    auto log = [&](int mode, int severity, const wchar_t* blade, int i) {
        LogUtils::LogEvent(__FILE__, __LINE__, mode, severity, "_T(\"AGSCommon\")", &manager, false)(
            blade, L"benchmark line %05d with some text %s", i % 100000, L"here");
    };
    const ReloadWait wait(cfg);
    // Starts the library (first load, first use of each sink) outside the figures.
    for (const wchar_t* blade : {L"AGSCommon", L"Other", L"Debugger"}) log(LogUtils::ModeSynchronous, LogUtils::Info, blade, 0);

    printf("%d rounds of %d lines; microseconds per line (medians)\n", rounds, lines);
    printf("%-34s %9s %9s %7s %9s %9s\n", "case", "library", "bare", "ratio", "allocs", "bytes");
    const std::wstring bareFile = logs + L"\\bare.log";
    Print("File, default mode",
          Measure(
              lines, rounds, [&](int i) { log(LogUtils::ModeSynchronous, LogUtils::Info, L"AGSCommon", i); },
              [&](int) {
                  wait();
                  win::Handle file = OpenForAppend(bareFile);
                  Append(file.get());
              }));
    win::Handle keptBare = OpenForAppend(bareFile);
    Print("File, kept handle (extremeLogging)",
          Measure(
              lines, rounds, [&](int i) { log(LogUtils::ModeSynchronous, LogUtils::Info, L"Other", i); },
              [&](int) {
                  wait();
                  Append(keptBare.get());
              }));
    Print("OutputDebugString",
          Measure(
              lines, rounds, [&](int i) { log(LogUtils::ModeSynchronous, LogUtils::Info, L"Debugger", i); },
              [&](int) {
                  wait();
                  OutputDebugStringA(kBareLine);
              }));
    // Building an event takes the local time as well.
    Print("Event that no section takes",
          Measure(
              lines, rounds, [&](int i) { log(LogUtils::ModeSynchronous, LogUtils::Debug, L"AGSCommon", i); },
              [&](int) {
                  wait();
                  SYSTEMTIME now;
                  GetLocalTime(&now);
              }));
    auto queue = [&](int i) { log(LogUtils::ModeAsynchronous, LogUtils::Info, L"AGSCommon", i); };
    std::vector<Figures> queuedRounds;
    for (int r = 0; r < rounds; ++r) queuedRounds.push_back(Round(lines, queue));
    const Figures queued = Median(queuedRounds);
    printf("%-34s %9.2f %9s %7s %9.2f %9.0f\n", "Asynchronous, on the logging thread", queued.microseconds, "", "",
           queued.allocations, queued.bytes);
    FormatOnlyManager formatOnly;
    auto format = [&](int i) {
        LogUtils::LogEvent(__FILE__, __LINE__, LogUtils::ModeSynchronous, LogUtils::Info, "_T(\"AGSCommon\")",
                           &formatOnly, false)(L"AGSCommon", L"benchmark line %05d with some text %s", i % 100000, L"here");
    };
    std::vector<Figures> formatRounds;
    for (int r = 0; r < rounds; ++r) formatRounds.push_back(Round(lines * 10, format));
    const Figures formatted = Median(formatRounds);
    printf("%-34s %9.2f %9s %7s %9.2f %9.0f\n", "Own work: event, message, line", formatted.microseconds, "", "",
           formatted.allocations, formatted.bytes);
    return 0;
}
