#pragma once
// The run log: plain ANSI text, one line per call, opened for each write and
// closed again so that several instances can share one file.

#include "Handle.h"

#include <cstdarg>
#include <string>

class CLogFile {
public:
    // Inactive, with the default path: the program's own path with ".log" in
    // place of its extension.
    CLogFile();
    // Writes the closing banner (dropped while inactive).
    ~CLogFile();
    CLogFile(const CLogFile&) = delete;
    CLogFile& operator=(const CLogFile&) = delete;

    // Writes the opening banner; the instance is active from the first open
    // that works. Returns the active flag.
    bool Open();

    // Formats one message (cut to 4095 characters) and writes it followed by
    // "\r\n". Never reports a failure.
    void Log(const wchar_t* format, ...);
    void LogV(const wchar_t* format, va_list args);

    // Appends already converted text; dropped while inactive or when the file
    // cannot be opened.
    void Write(const std::string& text);

    // The next write goes to the new path.
    CLogFile& operator=(const std::wstring& path);

    const std::wstring& Path() const { return path_; }
    bool IsActive() const { return active_ != 0; }

private:
    std::string Banner(const wchar_t* kind) const;
    bool AppendToFile(const std::string& text);

    unsigned char active_ = 0;
    win::CriticalSection lock_;  // one open-write-close at a time
    std::wstring path_;
    win::Handle stream_;  // open only within a write
};

// The run log of the whole process.
CLogFile& RunLog();
