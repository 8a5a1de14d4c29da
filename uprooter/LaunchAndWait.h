#pragma once
// Starting one of the suite's programs (or a system tool) hidden and waiting
// for it within a bounded allowance.

#include "LogFile.h"

#include <windows.h>

#include <string>
#include <vector>

// The allowance: this many waits of one second each.
constexpr DWORD kLaunchWaitSlices = 300;
constexpr DWORD kLaunchSliceMs = 1000;

// Where a started program may lie and how it starts.
struct LaunchScope {
    std::vector<std::wstring> folders;  // empty: wherever the start layer allows (win32/Launch.h)
    bool nativeSystemFolder = false;    // a 32-bit program under WOW64 starts the 64-bit system's tool
};

// Starts "<program> <arguments>" hidden, in a new process group, in the
// program's own folder, and waits up to the allowance. program may be a whole
// command line (a stored "UninstallString"): it is taken apart as Windows reads
// it, but never so that a shorter prefix ("C:\Program.exe") is the program.
// With shortPath 1 an unquoted program runs through its short (8.3) path;
// otherwise, or when the system has no short form for it, a path that holds a
// blank is put in quotes; a quoted one stays as written. Absent or empty
// arguments add nothing, not even a blank. The program must pass the start
// layer (a full local path, no link on it, inside scope's folders); one that
// does not is refused with a log line and nothing starts. Every step is
// logged to log. True if the program started and ended within the allowance;
// a program that overruns keeps running. The exit code is not read.
bool LaunchAndWait(const std::wstring& program, const wchar_t* arguments, CLogFile& log, int shortPath,
                   const LaunchScope& scope = {});

// Shortens the allowance for the life of a scope, for tests that must not
// wait five minutes.
class LaunchAllowanceOverride {
public:
    explicit LaunchAllowanceOverride(DWORD slices);
    ~LaunchAllowanceOverride();
    LaunchAllowanceOverride(const LaunchAllowanceOverride&) = delete;
    LaunchAllowanceOverride& operator=(const LaunchAllowanceOverride&) = delete;

private:
    DWORD previous_;
};
