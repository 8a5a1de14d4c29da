#include "LogFile.h"

#include <cstdio>
#include <memory>
#include <new>

namespace {

constexpr size_t kMessageChars = 4096;  // 4095 characters and the terminator
constexpr size_t kBannerChars = 260;
constexpr size_t kModulePathChars = 520;

// The program's own full path with everything from its last "." replaced by
// ".log" (or ".log" appended when there is no ".").
std::wstring DefaultLogPath()
{
    wchar_t module[kModulePathChars] = {};
    DWORD n = GetModuleFileNameW(nullptr, module, kModulePathChars);
    std::wstring path(module, n < kModulePathChars ? n : kModulePathChars - 1);
    size_t dot = path.rfind(L'.');
    if (dot != std::wstring::npos) path.erase(dot);
    return path + L".log";
}

// Converts wide text with the calling thread's ANSI code page; characters the
// code page lacks become its default character.
std::string ToThreadAnsi(const std::wstring& text)
{
    if (text.empty()) return {};
    int size = WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                   nullptr, nullptr);
    if (size <= 0) return {};
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr,
                        nullptr);
    return out;
}

}  // namespace

CLogFile::CLogFile() : path_(DefaultLogPath()) {}

CLogFile::~CLogFile()
{
    Write(Banner(L"Closing"));
    stream_.reset();
}

std::string CLogFile::Banner(const wchar_t* kind) const
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t text[kBannerChars] = {};
    _snwprintf(text, kBannerChars - 1, L"%s logfile object: %s: %02u/%02u/%02u %02u:%02u:%02u \r\n", kind,
               path_.c_str(), now.wMonth, now.wDay, now.wYear, now.wHour, now.wMinute, now.wSecond);
    text[kBannerChars - 1] = L'\0';
    return ToThreadAnsi(text);
}

bool CLogFile::AppendToFile(const std::string& text)
{
    // The log lies where a user may have placed a link or a second name of
    // another file: the link is opened itself, never followed, and a file
    // with a link or another name is not written.
    stream_.reset(CreateFileW(path_.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!stream_) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const DWORD attributes = GetFileAttributesW(path_.c_str());
    if (!GetFileInformationByHandle(stream_.get(), &info) || info.nNumberOfLinks != 1 ||
        ((info.dwFileAttributes | attributes) & FILE_ATTRIBUTE_REPARSE_POINT) ||
        attributes == INVALID_FILE_ATTRIBUTES) {
        stream_.reset();
        OutputDebugStringW((L"Uprooter.Exe, not writing the run log " + path_ +
                            L": a link, or a file with more than one name")
                               .c_str());
        return false;
    }
    DWORD written = 0;
    WriteFile(stream_.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    stream_.reset();
    return true;
}

bool CLogFile::Open()
{
    std::string banner = Banner(L"Opened");
    win::Lock lock(lock_);
    if (AppendToFile(banner)) active_ = 1;
    return active_ != 0;
}

void CLogFile::Write(const std::string& text)
{
    if (!active_) return;
    win::Lock lock(lock_);
    AppendToFile(text);
}

void CLogFile::Log(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    LogV(format, args);
    va_end(args);
}

void CLogFile::LogV(const wchar_t* format, va_list args)
{
    std::unique_ptr<wchar_t[]> buffer(new (std::nothrow) wchar_t[kMessageChars]);
    if (!buffer) return;
    // The C runtime's own formatter: "%s" takes wide text, as every caller expects.
    _vsnwprintf(buffer.get(), kMessageChars - 1, format, args);
    buffer[kMessageChars - 1] = L'\0';
    Write(ToThreadAnsi(buffer.get()));
    Write(ToThreadAnsi(L"\r\n"));
}

CLogFile& CLogFile::operator=(const std::wstring& path)
{
    win::Lock lock(lock_);
    path_ = path;
    return *this;
}

CLogFile& RunLog()
{
    // Built by the entry's first step and destroyed at exit, so that the
    // closing banner is the last line of a run.
    static CLogFile log;
    return log;
}
