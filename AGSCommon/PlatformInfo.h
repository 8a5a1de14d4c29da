#pragma once
// Facts about the machine and the installed suite.

#include <string>

#include <windows.h>

// Path buffers of the platform queries, terminator included.
constexpr size_t kPathChars = 260;

// The operating system as the removal steps branch on it. Filled once, at
// construction; a failed version query keeps the initial values.
class winVersion {
public:
    winVersion();
    virtual ~winVersion() = default;

    int OsId() const { return osId_; }
    const std::wstring& VersionText() const { return versionText_; }
    const std::wstring& OsName() const { return osName_; }
    bool IsNT() const { return nt_; }
    int MajorVersion() const { return majorVersion_; }

private:
    int osId_ = 9;
    std::wstring versionText_ = L"Unknown version";
    std::wstring osName_ = L"Unsupported OS";
    bool nt_ = false;
    int majorVersion_ = 1;
};

// The process-wide version record, asked for once (the extended form first,
// the plain one if that fails) and returned as it is on later calls.
const OSVERSIONINFOEXW& GetPlatformVersion();

// True only if the process runs under WOW64. Logs under "AGSCommon" when the
// query is missing (Debug) or fails (Warning).
bool IsWow64();

// Reads the file's FileVersion string: first through the first language and
// code page of its translation table, else through "040904b0". version holds
// what was found (at most 259 characters, possibly empty); it is left untouched
// when no FileVersion could be read. True if the text is not empty.
bool GetFileVersionString(const std::wstring& file, std::wstring& version);

// The FileVersion of the agent's service program in the folder that
// "SOFTWARE\\Zelmar\\ManagedServices" names; "10.0.0" when the key, the
// value, the file or its version resource is missing.
std::wstring GetAgentVersion();
