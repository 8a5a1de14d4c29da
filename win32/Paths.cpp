#include "Paths.h"

#include <windows.h>

namespace win {

namespace {

constexpr const wchar_t* kDeviceNames[] = {L"CON",  L"PRN",  L"AUX",  L"NUL",  L"CONIN$", L"CONOUT$", L"COM1",
                                           L"COM2", L"COM3", L"COM4", L"COM5", L"COM6",   L"COM7",    L"COM8",
                                           L"COM9", L"LPT1", L"LPT2", L"LPT3", L"LPT4",   L"LPT5",    L"LPT6",
                                           L"LPT7", L"LPT8", L"LPT9", L"CLOCK$"};

DWORD Attributes(const std::wstring& path) { return GetFileAttributesW(path.c_str()); }

}  // namespace

bool PathExists(const std::wstring& path) { return Attributes(path) != INVALID_FILE_ATTRIBUTES; }

bool FileExists(const std::wstring& path)
{
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool FolderExists(const std::wstring& path)
{
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsBareFileName(const std::wstring& name)
{
    if (name.empty() || name == L"." || name == L"..") return false;
    if (name.find_first_of(L"\\/:*?\"<>|") != std::wstring::npos) return false;
    // A device answers to its name with any extension and trailing blanks or dots.
    std::wstring stem = name.substr(0, name.find(L'.'));
    while (!stem.empty() && stem.back() == L' ') stem.pop_back();
    for (const wchar_t* device : kDeviceNames)
        if (lstrcmpiW(stem.c_str(), device) == 0) return false;
    return name.back() != L'.' && name.back() != L' ';
}

}  // namespace win
