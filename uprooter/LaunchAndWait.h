#pragma once
// Starting one of the suite's programs (or a system tool) hidden and waiting
// for it within a bounded allowance.

#include "LogFile.h"

#include <windows.h>

#include <string>

// The allowance: this many waits of one second each.
constexpr DWORD kLaunchWaitSlices = 300;
constexpr DWORD kLaunchSliceMs = 1000;

// Starts "<program> <arguments>" hidden, in a new process group, and waits up
// to the allowance. With shortPath 1 the program runs through its short (8.3)
// path; otherwise, or when the system has no short form for it, a path that
// holds a blank is put in quotes so that no "C:\\Program.exe" can stand in for
// "C:\\Program Files\\...". Absent or empty arguments add nothing, not even a
// blank. Every step is logged to log. True if the program started and ended
// within the allowance; a program that overruns keeps running. The exit code
// is not read.
bool LaunchAndWait(const std::wstring& program, const wchar_t* arguments, CLogFile& log, int shortPath);

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
