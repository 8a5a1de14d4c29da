#include "SweeperLog.h"

#include "Handle.h"
#include "Launch.h"

#include <cstdio>
#include <map>

namespace sweeper {

namespace {

constexpr wchar_t kLogFolderName[] = L"ZelmarLogs";
constexpr wchar_t kLogBaseName[] = L"Zelmar_Endpoint_Sweeper_";

std::map<DWORD, std::wstring>& ThreadTags()
{
    static std::map<DWORD, std::wstring> tags;
    return tags;
}

void Stamp(wchar_t (&out)[32], const SYSTEMTIME& t)
{
    FormatInto(out, 32, L"%02u%02u%02u%02u%02u%02u%02u", t.wDay, t.wMonth, t.wYear, t.wHour, t.wMinute, t.wSecond,
               t.wMilliseconds);
}

// The file is written as the "C" locale writes a wide stream: one byte per
// UTF-16 unit up to U+00FF; anything above becomes '?'.
bool AppendLine(const wchar_t* path, const wchar_t* line)
{
    // Opened as a stream opens for appending: a file deleted mid-run is made again.
    win::Handle file(CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    std::string bytes;
    for (const wchar_t* p = line; *p; ++p) bytes.push_back(*p <= 0xFF ? static_cast<char>(*p) : '?');
    bytes += "\r\n";
    DWORD written = 0;
    return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) != FALSE;
}

}  // namespace

bool FormatIntoV(wchar_t* buffer, size_t units, const wchar_t* format, va_list args)
{
    int n = _vsnwprintf(buffer, units - 1, format, args);
    buffer[units - 1] = L'\0';
    return n >= 0 && static_cast<size_t>(n) <= units - 1;
}

bool FormatInto(wchar_t* buffer, size_t units, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    bool fits = FormatIntoV(buffer, units, format, args);
    va_end(args);
    return fits;
}

bool SweeperLog::EnsureFile()
{
    if (fileCreated_) return true;
    if (GetTempPathW(kFolderUnits, folder_) == 0) return false;
    wcsncat(folder_, kLogFolderName, kFolderUnits - wcslen(folder_) - 1);
    // The Shell's create-directory function, by its ordinal: it also makes missing parents.
    using CreateDirectoryFn = int(WINAPI*)(HWND, LPCWSTR);
    win::Module shell(win::launch::LoadSystemLibrary(L"shell32.dll"));
    auto createDirectory =
        shell ? reinterpret_cast<CreateDirectoryFn>(GetProcAddress(shell.get(), MAKEINTRESOURCEA(165))) : nullptr;
    if (!createDirectory) return false;
    int rc = createDirectory(nullptr, folder_);
    DWORD error = GetLastError();
    if (rc != 0 && error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return false;
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t stamp[32];
    Stamp(stamp, now);
    FormatInto(filePath_, kFileUnits, L"%ls\\%ls%ls%ls", folder_, kLogBaseName, stamp, L".log");
    win::Handle file(CreateFileW(filePath_, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    fileCreated_ = static_cast<bool>(file);
    return fileCreated_;
}

void SweeperLog::Write(const wchar_t* message)
{
    win::LastErrorKeeper keep;
    SYSTEMTIME now;
    GetLocalTime(&now);
    EnsureFile();
    DWORD thread = GetCurrentThreadId();
    const std::wstring& tag = ThreadTags()[thread];
    wchar_t line[kLineUnits];
    FormatInto(line, kLineUnits, L"%02u/%02u/%02u %02u:%02u:%02u.%02u [%lu] [%ls] %ls", now.wDay, now.wMonth, now.wYear,
               now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, thread, tag.c_str(), message);
    AppendLine(filePath_, line);
}

void SweeperLog::WriteFormatted(size_t units, const wchar_t* format, va_list args)
{
    wchar_t text[kLineUnits];
    FormatIntoV(text, units, format, args);
    Write(text);
}

void SweeperLog::Printf(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    WriteFormatted(260, format, args);
    va_end(args);
}

void SweeperLog::PrintfLong(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    WriteFormatted(kLineUnits, format, args);
    va_end(args);
}

void SweeperLog::PackageLogName(wchar_t (&out)[kFileUnits], const wchar_t* prefix)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t stamp[32];
    Stamp(stamp, now);
    FormatInto(out, kFileUnits, L"%ls\\%ls_%ls_%ls%ls", folder_, kLogBaseName, prefix, stamp, L".log");
}

SweeperLog& GetSweeperLog()
{
    static SweeperLog log;
    ThreadTags().try_emplace(GetCurrentThreadId(), L"SweeperMain");
    return log;
}

}  // namespace sweeper
