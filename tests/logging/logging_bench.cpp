// Events per second through the logging library, for comparing changes side by
// side: a synchronous UTF-8 file section, and an event that no section takes.
// Prints figures; it is not a test.

#include "LogManager.h"

#include <cstdio>
#include <string>

namespace {

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

template <typename Log>
double EventsPerSecond(int count, Log log)
{
    LARGE_INTEGER from;
    LARGE_INTEGER to;
    QueryPerformanceCounter(&from);
    for (int i = 0; i < count; ++i) log(i);
    QueryPerformanceCounter(&to);
    return count / Seconds(from, to);
}

bool WriteText(const std::wstring& path, const std::string& text)
{
    win::Handle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const int count = argc > 1 ? _wtoi(argv[1]) : 20000;
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring dir = std::wstring(temp) + L"zl-logging-bench";
    CreateDirectoryW(dir.c_str(), nullptr);
    const std::wstring logFile = dir + L"\\bench.log";
    DeleteFileW(logFile.c_str());
    if (!WriteText(dir + L"\\logcfg.ini",
                   "[file]\r\nenabled=1\r\ntype=File\r\nfilter=*.*.Info\r\nformat=%+d %+T %p %t %l %F %m\r\n"
                   "encoding=UTF-8\r\nfilename=bench.log\r\n")) {
        fwprintf(stderr, L"cannot write %ls\\logcfg.ini\n", dir.c_str());
        return 1;
    }

    LogUtils::DefaultLogManager manager(dir, dir + L"\\logcfg.ini", dir);
    auto event = [&](int severity) {
        return LogUtils::LogEvent(__FILE__, __LINE__, LogUtils::ModeSynchronous, severity, "_T(\"AGSCommon\")",
                                  &manager, false);
    };
    const double file = EventsPerSecond(count, [&](int i) {
        event(LogUtils::Info)(L"AGSCommon", L"benchmark line %d with some text %s", i, L"and an argument");
    });
    const double untaken = EventsPerSecond(count, [&](int i) {
        event(LogUtils::Debug)(L"AGSCommon", L"benchmark line %d with some text %s", i, L"and an argument");
    });
    wprintf(L"events: %d per case\n", count);
    wprintf(L"synchronous UTF-8 file section: %.0f events/s\n", file);
    wprintf(L"event no section takes:         %.0f events/s\n", untaken);
    wprintf(L"ratio untaken/file:             %.1f\n", untaken / file);
    DeleteFileW(logFile.c_str());
    DeleteFileW((dir + L"\\logcfg.ini").c_str());
    RemoveDirectoryW(dir.c_str());
    return 0;
}
