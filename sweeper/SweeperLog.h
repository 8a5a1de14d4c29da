#pragma once
// The Sweeper log: one line per message in
// <temp>\ZelmarLogs\Zelmar_Endpoint_Sweeper_<stamp>.log, opened and closed for
// every line so the file survives an abrupt end of the process (and is made
// again when it was deleted during the run). Logging never
// fails towards its caller and keeps the thread's last-error value.

#include <windows.h>

#include <cstdarg>
#include <cstddef>
#include <string>

namespace sweeper {

// Formats into a buffer of `units` UTF-16 units (terminator included). Returns
// false when the text was cut to fit.
bool FormatInto(wchar_t* buffer, size_t units, const wchar_t* format, ...);
bool FormatIntoV(wchar_t* buffer, size_t units, const wchar_t* format, va_list args);

class SweeperLog {
public:
    static constexpr size_t kFolderUnits = 260;
    static constexpr size_t kFileUnits = 360;
    static constexpr size_t kLineUnits = 1023;

    // Writes one line; drops it silently when the log file cannot be made or opened.
    void Write(const wchar_t* message);
    // printf-style, formatted in 260 units (cut when longer).
    void Printf(const wchar_t* format, ...);
    // printf-style, formatted in 1023 units (the parser's and the runner's lines).
    void PrintfLong(const wchar_t* format, ...);

    // "<folder>\Zelmar_Endpoint_Sweeper__<prefix>_<stamp>.log" for one package's
    // verbose installer log.
    void PackageLogName(wchar_t (&out)[kFileUnits], const wchar_t* prefix);

    // Full path of this run's log file; empty until the first line created it.
    const wchar_t* FilePath() const { return filePath_; }

private:
    bool EnsureFile();
    void WriteFormatted(size_t units, const wchar_t* format, va_list args);

    wchar_t folder_[kFolderUnits] = {};
    wchar_t filePath_[kFileUnits] = {};
    bool fileCreated_ = false;
};

// The process-wide log; registers the calling thread's tag "SweeperMain".
SweeperLog& GetSweeperLog();

}  // namespace sweeper
