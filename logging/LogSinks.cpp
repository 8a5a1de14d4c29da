#include "LogSinks.h"

#include "LogAsync.h"
#include "LogConfig.h"
#include "LogEvent.h"
#include "ThreadBuffers.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <cmath>
#include <cwchar>

namespace LogUtils {

namespace {

constexpr DWORD kLogFileAccess = 0xC0120196;  // GENERIC_READ | GENERIC_WRITE | FILE_GENERIC_WRITE | FILE_READ_ATTRIBUTES

const std::wstring& CurrentProgramBaseName()
{
    static const std::wstring name = [] {
        wchar_t path[512] = {};
        GetModuleFileNameW(nullptr, path, 511);
        PathRemoveExtensionW(path);
        return std::wstring(PathFindFileNameW(path));
    }();
    return name;
}

DWORD ParseDword(const wchar_t* text, DWORD fallback)
{
    return text ? static_cast<DWORD>(wcstoul(text, nullptr, 10)) : fallback;
}

}  // namespace

void BuildSinkLine(const ILogSinkStreamer& streamer, const char* lineEnd, std::string& line)
{
    line.clear();
    line.reserve(256);
    ATLString_OStream out(line);
    streamer.Stream(out);
    line += lineEnd;
}

CLogSecurityAttributes::CLogSecurityAttributes()
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID system = nullptr;
    PSID everyone = nullptr;
    if (AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &system)) system_.reset(system);
    if (AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone))
        everyone_.reset(everyone);
    DWORD aclSize = sizeof(ACL);
    if (system_ && everyone_)
        aclSize += 2 * (sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD)) + GetLengthSid(system) + GetLengthSid(everyone);
    acl_.reset(new BYTE[aclSize]);
    auto* acl = reinterpret_cast<ACL*>(acl_.get());
    ok_ = system_ && everyone_ && InitializeAcl(acl, aclSize, ACL_REVISION) &&
          AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL | STANDARD_RIGHTS_ALL, system) &&
          AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL | READ_CONTROL, everyone) &&
          InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
          SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE);
    if (!ok_) DebugTrace(L"Exception occured while constructing CLogSecurityAttributes");
    attributes_.nLength = sizeof(attributes_);
    attributes_.lpSecurityDescriptor = &descriptor_;
    attributes_.bInheritHandle = FALSE;
}

win::CriticalSection& FileWriteLock()
{
    // Never destroyed: a thread may still log while the process exits.
    static win::CriticalSection* const lock = new win::CriticalSection;
    return *lock;
}

SECURITY_ATTRIBUTES* ProcessLogSecurityAttributes()
{
    static CLogSecurityAttributes attributes;
    return attributes.get();
}

win::Handle OpenLogFile(const std::wstring& path, SECURITY_ATTRIBUTES* security)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        win::Handle file(CreateFileW(path.c_str(), kLogFileAccess, FILE_SHARE_READ, security, OPEN_ALWAYS,
                                     FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) return file;
        DWORD error = GetLastError();
        if (error == ERROR_SHARING_VIOLATION) {
            Sleep(12);
        } else if (error == ERROR_PATH_NOT_FOUND) {
            std::wstring folder = path.substr(0, std::min<size_t>(path.find_last_of(L'\\'), 512));
            SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
        } else {
            break;
        }
        SetLastError(error);  // the caller traces the open's error, not the sleep's or the folder's
    }
    return {};
}

void TruncateLogFile(HANDLE file, unsigned truncatePercent, DWORD limit, DWORD newSize)
{
    if (truncatePercent >= 80) {
        DebugTrace(L"Truncate size exceeded 80 so limiting to 20");
        truncatePercent = 20;
    }
    DWORD cut = static_cast<DWORD>(std::trunc(truncatePercent / 100.0 * limit)) - limit + newSize;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || size.QuadPart == 0 || size.HighPart != 0) return;
    const DWORD fileSize = size.LowPart;

    win::Handle mapping(CreateFileMappingW(file, nullptr, PAGE_READWRITE, 0, 0, nullptr));
    if (!mapping) {
        DebugTrace(L"Error [%d] creating a file map for the log file.", static_cast<int>(GetLastError()));
        return;
    }
    win::MappedView view(MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, fileSize));
    if (!view) {
        DebugTrace(L"Error mapping the view of a file.");
        return;
    }
    BYTE* bytes = static_cast<BYTE*>(view.get());
    DWORD mark = 0;
    if (fileSize >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) mark = 3;
    else if (fileSize >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) mark = 2;

    // The kept data starts after the first 0x00, 0x0A or 0x1A byte from the cut
    // point: the next line of an ANSI or UTF-8 file, the next character of a
    // UTF-16 one (its zero high byte), whatever the file's length.
    DWORD keep = fileSize;
    for (DWORD at = std::max(cut, mark); at < fileSize; ++at) {
        if (bytes[at] == 0x00 || bytes[at] == 0x0A || bytes[at] == 0x1A) {
            keep = at + 1;
            break;
        }
    }
    DWORD kept = fileSize - keep;
    if (kept == 0) return;
    memmove(bytes + mark, bytes + keep, kept);
    view.reset();
    mapping.reset();
    LARGE_INTEGER end{};
    end.QuadPart = mark + kept;
    SetFilePointerEx(file, end, nullptr, FILE_BEGIN);
    SetEndOfFile(file);
}

std::optional<FileTarget> CompileFileTarget(const Lookupable<const wchar_t*, const wchar_t*>& section,
                                            const Lookupable<const wchar_t*, const wchar_t*>& globals)
{
    const wchar_t* filename = section.Lookup(L"filename");
    const wchar_t* logdir = globals.Lookup(L"logdir");
    if (!filename || !logdir) return std::nullopt;
    std::wstring path = filename;
    const std::wstring token = L"%DEFLOGDIR%";
    for (size_t at = path.find(token); at != std::wstring::npos; at = path.find(token, at + wcslen(logdir)))
        path.replace(at, token.size(), logdir);
    if (PathIsFileSpecW(filename)) path = std::wstring(logdir) + L"\\" + path;

    DWORD limit = ParseDword(section.Lookup(L"maxsize"), 0x100000);
    const wchar_t* limitsize = section.Lookup(L"limitsize");
    if (!limitsize || _wcsicmp(limitsize, L"0") == 0) limit = kNoSizeLimit;
    const wchar_t* extreme = section.Lookup(L"extremeLogging");
    const wchar_t* affinity = section.Lookup(L"affinity");
    return FileTarget{std::move(path), limit, ParseDword(section.Lookup(L"truncateby"), 20),
                      extreme && _wcsicmp(extreme, L"1") == 0,
                      affinity && _wcsicmp(affinity, CurrentProgramBaseName().c_str()) == 0};
}

std::optional<LogFileSink> LogFileSink::FromSection(ICompiledLogProperties& section)
{
    const FileTarget* target = section.GetFileTarget();
    if (!target) return std::nullopt;
    return LogFileSink(*target, section.GetEncoding(), section);
}

void AppendLine(HANDLE file, Encoding encoding, const std::string& line, DWORD limit, unsigned truncatePercent)
{
    ThreadBuffers* buffers = CurrentThreadBuffers();
    std::wstring own;
    std::wstring& wide = buffers ? buffers->wide : own;
    const void* data = line.data();
    DWORD size = static_cast<DWORD>(line.size());
    if (encoding == EncodingUnicode) {
        ConvertFrom(wide, line.data(), line.size(), CP_UTF8);
        data = wide.data();
        size = static_cast<DWORD>(wide.size() * sizeof(wchar_t));
    }
    LARGE_INTEGER zero{};
    LARGE_INTEGER oldSize{};
    SetFilePointerEx(file, zero, nullptr, FILE_END);
    GetFileSizeEx(file, &oldSize);
    DWORD written = 0;
    if (oldSize.QuadPart == 0) {
        static const BYTE kUtf16Mark[] = {0xFF, 0xFE};
        static const BYTE kUtf8Mark[] = {0xEF, 0xBB, 0xBF};
        if (encoding == EncodingUnicode) WriteFile(file, kUtf16Mark, sizeof(kUtf16Mark), &written, nullptr);
        else if (encoding == EncodingUtf8) WriteFile(file, kUtf8Mark, sizeof(kUtf8Mark), &written, nullptr);
    }
    WriteFile(file, data, size, &written, nullptr);
    DWORD newSize = oldSize.LowPart + size;
    if (limit < newSize) TruncateLogFile(file, truncatePercent, limit, newSize);
}

bool LogFileSink::Write(const ILogSinkStreamer& streamer)
{
    ThreadBuffers* buffers = CurrentThreadBuffers();
    std::string own;
    std::string& line = buffers ? buffers->line : own;
    BuildSinkLine(streamer, "\r\n", line);
    if (streamer.GetEvent().asynchronous) {
        try {
            AsyncWriter& writer = TheAsyncWriter();
            std::unique_ptr<QueueRecord> record = writer.NewRecord();
            record->encoding = encoding_;
            record->path.assign(target_.path);
            record->text.assign(line);
            record->truncatePercent = target_.truncatePercent;
            record->limit = target_.limit;
            if (writer.Enqueue(std::move(record))) return true;
        } catch (...) {
            // Out of memory: the line is written at once, below.
        }
        // Refused (shut-down has begun, or the thread cannot start): written at once.
    }

    win::Lock lock(FileWriteLock());
    SinkHandle& kept = section_.GetSinkHandle();
    win::Handle opened;
    HANDLE file = nullptr;
    if (target_.extremeLogging && kept.HasHandle()) {
        file = kept.GetHandle();
    } else {
        opened = OpenLogFile(target_.path, ProcessLogSecurityAttributes());
        if (!opened) {
            DebugTrace(L"Failed to open %s file [%d]!!!", target_.path.c_str(), static_cast<int>(GetLastError()));
            return true;
        }
        file = opened.get();
        if (target_.extremeLogging && target_.affinity) kept.SetHandle(opened.release());
    }
    AppendLine(file, encoding_, line, target_.limit, target_.truncatePercent);
    return true;
}

bool DebugStringSink::Write(const ILogSinkStreamer& streamer)
{
    ThreadBuffers* buffers = CurrentThreadBuffers();
    std::string ownLine;
    std::wstring ownWide;
    std::string& line = buffers ? buffers->line : ownLine;
    BuildSinkLine(streamer, "\n", line);
    if (encoding_ == EncodingUnicode) {
        std::wstring& wide = buffers ? buffers->wide : ownWide;
        ConvertFrom(wide, line.data(), line.size(), CP_UTF8);
        OutputDebugStringW(wide.c_str());
    } else {
        OutputDebugStringA(line.c_str());
    }
    return true;
}

}  // namespace LogUtils
