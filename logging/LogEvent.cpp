#include "LogEvent.h"

#include "FaultGuard.h"
#include "Handle.h"
#include "LogConfig.h"
#include "LogManager.h"
#include "StringDB.h"
#include "ThreadBuffers.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>
#include <type_traits>

namespace LogUtils {

namespace {
const wchar_t kEmpty[] = L"";
constexpr int kBufferChars = kMaxMessageChars + 1;
static_assert(kBufferChars == kMessageBufferUnits, "the thread's buffers hold the longest message");

void __cdecl InvalidParameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned, uintptr_t)
{
    OutputDebugStringW(L"invalidParamHandler exception triggered");
}

// The invalid-parameter handler is process-wide: it stays installed while any
// thread formats, and the caller's own handler comes back after the last one.
class InvalidParameterScope {
public:
    InvalidParameterScope() noexcept
    {
        win::Lock lock(Lock());
        if (Users()++ == 0) Previous() = _set_invalid_parameter_handler(&InvalidParameter);
    }
    ~InvalidParameterScope()
    {
        win::Lock lock(Lock());
        if (--Users() == 0) _set_invalid_parameter_handler(Previous());
    }
    InvalidParameterScope(const InvalidParameterScope&) = delete;
    InvalidParameterScope& operator=(const InvalidParameterScope&) = delete;

private:
    static win::CriticalSection& Lock()
    {
        static win::CriticalSection lock;
        return lock;
    }
    static int& Users()
    {
        static int users = 0;
        return users;
    }
    static _invalid_parameter_handler& Previous()
    {
        static _invalid_parameter_handler previous = nullptr;
        return previous;
    }
};

template <typename Char>
struct FormatCall {
    Char* buffer;
    const Char* format;
    va_list args;
    int result;
    int error;
};

// The plain CRT functions (Windows XP's msvcrt has no "_s" ones): at most count
// units, terminated here because a cut text is not.
int FormatInto(wchar_t* buffer, size_t count, const wchar_t* format, va_list args)
{
    int n = _vsnwprintf(buffer, count, format, args);
    buffer[count] = 0;
    return n;
}

int FormatInto(char* buffer, size_t count, const char* format, va_list args)
{
    int n = _vsnprintf(buffer, count, format, args);
    buffer[count] = 0;
    return n;
}

template <typename Char>
void PrintInto(Char* buffer, size_t count, const Char* format, ...)
{
    va_list args;
    va_start(args, format);
    FormatInto(buffer, count, format, args);
    va_end(args);
}

void CopyInto(wchar_t* buffer, size_t count, const wchar_t* text)
{
    wcsncpy(buffer, text, count);
    buffer[count] = 0;
}

void CopyInto(char* buffer, size_t count, const char* text)
{
    strncpy(buffer, text, count);
    buffer[count] = 0;
}

void SendDebugText(const wchar_t* text) { OutputDebugStringW(text); }
void SendDebugText(const char* text) { OutputDebugStringA(text); }

// True when every conversion of format is one the CRT knows: the plain CRT
// functions skip an unknown one silently, where the message is to be replaced.
// A width or precision of five digits or more is refused as well: no message
// holds that much, and Wine's 32-bit msvcrt faults on "%.65535o". In a wide
// format an integer conversion with a width or precision over
// kWideIntegerFieldMax, or one given by an argument, is refused too: Wine's
// msvcrt sizes the heap block for such a number in bytes, not characters,
// and overruns it, which faults later in an unrelated call.
constexpr int kWideIntegerFieldMax = 20;

template <typename Char>
bool ConversionsKnown(const Char* format)
{
    static const char kFlags[] = "-+ #0";
    static const char kSizes[] = "hlLIwqjzt3264";
    static const char kTypes[] = "cCdiouxXeEfgGaAnpsSZ";
    for (const Char* p = format; *p; ++p) {
        if (*p != '%') continue;
        ++p;
        if (*p == '%') continue;
        auto in = [](Char c, const char* set) { return c > 0 && c < 128 && strchr(set, static_cast<char>(c)); };
        while (in(*p, kFlags)) ++p;
        bool wideField = false;  // a field too wide for a wide integer conversion
        for (int part = 0; part < 2; ++part) {
            if (part == 1 && *p == '.') ++p;
            int digits = 0, value = 0;
            for (; *p == '*' || (*p >= '0' && *p <= '9'); ++p) {
                if (*p == '*') {
                    wideField = true;
                    continue;
                }
                if (++digits > 4) return false;
                value = value * 10 + (*p - '0');
            }
            if (value > kWideIntegerFieldMax) wideField = true;
        }
        while (in(*p, kSizes)) ++p;
        if (!in(*p, kTypes)) return false;
        if (std::is_same_v<Char, wchar_t> && wideField && in(*p, "diouxX")) return false;
    }
    return true;
}

// Runs under the access-violation guard: nothing here may need unwinding.
template <typename Char>
void RunFormat(void* context)
{
    auto* call = static_cast<FormatCall<Char>*>(context);
    if (!ConversionsKnown(call->format)) {
        call->result = -1;
        call->error = EINVAL;
        return;
    }
    va_list args;
    va_copy(args, call->args);
    errno = 0;
    call->result = FormatInto(call->buffer, kMaxMessageChars, call->format, args);
    call->error = errno;
    va_end(args);
}

// Set while this thread formats a message, for the announcement below.
thread_local bool t_formatting = false;

// A fault inside the formatting other than an access violation (which the
// guard handles) is announced and left to the handlers further on.
LONG CALLBACK AnnounceUnknownException(EXCEPTION_POINTERS* info)
{
    DWORD code = info->ExceptionRecord->ExceptionCode;
    // Warning and error statuses only: the debugger-output texts are raised as
    // informational exceptions, C++ exceptions as success-class ones.
    if (t_formatting && code != EXCEPTION_ACCESS_VIOLATION && (code & 0x80000000))
        OutputDebugStringW(L"LogLib: Unknown Exception during logging!!!\n");
    return EXCEPTION_CONTINUE_SEARCH;
}

void WatchForUnknownExceptions()
{
    static const PVOID handler = AddVectoredExceptionHandler(0, &AnnounceUnknownException);
    (void)handler;
}

template <typename Char>
constexpr const Char* Text(const char* narrow, const wchar_t* wide)
{
    if constexpr (std::is_same_v<Char, wchar_t>) return wide;
    else return narrow;
}

#define LOG_TEXT(Char, text) Text<Char>(text, L##text)

// Formats into text (kMaxMessageChars + 1 units) under the guards: the format
// itself after a fault, or a replacement text.
template <typename Char>
void GuardedFormat(Char* text, const Char* format, va_list args) noexcept
{
    WatchForUnknownExceptions();
    text[0] = 0;
    FormatCall<Char> call{text, format, {}, -1, 0};
    va_copy(call.args, args);
    bool completed;
    {
        InvalidParameterScope scope;
        t_formatting = true;
        completed = win::CallGuardedAgainstAccessViolation(&RunFormat<Char>, &call);
        t_formatting = false;
    }
    va_end(call.args);

    if (!completed) {
        OutputDebugStringW(L"LogLib: AV Exception during logging!!!\n");
        CopyInto(text, kMaxMessageChars, format);
        Char trace[kBufferChars + 32];
        PrintInto(trace, kBufferChars + 31, LOG_TEXT(Char, "SEH exception triggered for [%s]\n"), text);
        SendDebugText(trace);
    } else if (call.result < 0) {
        if constexpr (std::is_same_v<Char, wchar_t>) OutputDebugStringW(L"LogLib: CRT Exception during logging...\n");
        if (call.error == EINVAL) {
            PrintInto(text, kMaxMessageChars,
                      LOG_TEXT(Char, "[LOGGER]Failed to format message due to invalid/missing arguments!!! [%s]"),
                      format);
        } else if (call.error == ERANGE ||
                   std::char_traits<Char>::length(text) == static_cast<size_t>(kMaxMessageChars)) {
            // The CRT reports a cut text as -1, with ERANGE or (Wine's msvcrt) without.
            PrintInto(text, kMaxMessageChars,
                      LOG_TEXT(Char, "[LOGGER]Failed to log message. Input buffer too large. Max allowed size allowed is %u"),
                      static_cast<unsigned>(kMaxMessageChars));
        }
    }
}

// The local time as GetLocalTime gives it: the system time, and the local
// fields of its second, which each thread works out once per second (the
// offset from UTC is a whole number of minutes, so the milliseconds agree).
// Keeps the last-error value, which the thread's first use would change.
void LocalTimeNow(SYSTEMTIME& out) noexcept
{
    win::LastErrorKeeper keep;
    struct Second {
        ULONGLONG number = ~0ULL;
        SYSTEMTIME local{};
    };
    static thread_local Second t_second;
    constexpr ULONGLONG kTicksPerSecond = 10000000;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER ticks;
    ticks.LowPart = now.dwLowDateTime;
    ticks.HighPart = now.dwHighDateTime;
    Second& second = t_second;
    if (ticks.QuadPart / kTicksPerSecond != second.number) {
        FILETIME local;
        if (!FileTimeToLocalFileTime(&now, &local) || !FileTimeToSystemTime(&local, &second.local)) {
            second.number = ~0ULL;
            GetLocalTime(&out);
            return;
        }
        second.number = ticks.QuadPart / kTicksPerSecond;
    }
    out = second.local;
    out.wMilliseconds = static_cast<WORD>(ticks.QuadPart % kTicksPerSecond / 10000);
}

}  // namespace

int FormatMessageInto(wchar_t* buffer, const wchar_t* format, va_list args) noexcept
{
    GuardedFormat(buffer, format, args);
    return static_cast<int>(wcslen(buffer));
}

int FormatMessageInto(char* buffer, const char* format, va_list args) noexcept
{
    GuardedFormat(buffer, format, args);
    return static_cast<int>(strlen(buffer));
}

LogEvent::LogEvent(const char* sourceFile_, int line_, int mode_, int severity_, const char* moduleText_,
                   ILogManager* manager_, bool localise_) noexcept
    : sourceFile(sourceFile_),
      line(line_),
      threadId(GetCurrentThreadId()),
      processId(GetCurrentProcessId()),
      manager(manager_),
      severity(severity_),
      moduleText(moduleText_),
      mode(mode_),
      asynchronous(mode_ == ModeAsynchronous || (mode_ == ModeAsConfigured && AsynchronousSwitch())),
      localise(localise_)
{
    LocalTimeNow(localTime);
}

LogEvent::~LogEvent() = default;

LogEvent& LogEvent::operator()(const wchar_t* blade_, const wchar_t* format_, ...) noexcept
{
    if (!format_) return *this;
    win::LastErrorKeeper keep;
    va_list args;
    va_start(args, format_);
    if (severity == ActivityAndError) {
        for (int each : {Activity, Error}) {
            LogEvent copy(sourceFile, line, mode, each, moduleText, manager, true);
            copy.LocaliseAndDispatch(blade_, format_, &args);
        }
    } else if (!localise) {
        Dispatch(blade_, format_, &args);
    } else {
        LocaliseAndDispatch(blade_, format_, &args);
    }
    va_end(args);
    return *this;
}

LogEvent& LogEvent::operator()(const wchar_t* blade_, const char* format_, ...) noexcept
{
    if (!format_) return *this;
    win::LastErrorKeeper keep;
    va_list args;
    va_start(args, format_);
    narrowFormat = format_;
    Dispatch(blade_, nullptr, &args);
    narrowFormat = nullptr;
    va_end(args);
    return *this;
}

void LogEvent::LocaliseAndDispatch(const wchar_t* blade_, const wchar_t* format_, va_list* args) noexcept
{
    try {
        std::wstring local;
        LangUtils::GetString(0, local, format_);
        LangUtils::GetString(0x409, englishFormat, format_);
        hasEnglish = true;
        localise = false;
        if (!local.empty()) {
            localisedFormat_ = std::move(local);
            format_ = localisedFormat_.c_str();
        }
    } catch (...) {
        // Out of memory: log the id as it is.
    }
    Dispatch(blade_, format_, args);
}

void LogEvent::Dispatch(const wchar_t* blade_, const wchar_t* format_, va_list* args) noexcept
{
    blade = blade_;
    arguments = args;
    format = format_;
    win::LastErrorKeeper keep;
    if (manager) {
        try {
            manager->Log(*this);
        } catch (...) {
            // A fault inside logging never reaches the caller.
        }
    }
    arguments = nullptr;  // they belong to the caller's frame
    if (buffers_ && buffers_ != ownBuffers_.get()) buffers_->messagesInUse = false;
    buffers_ = nullptr;
    ownBuffers_.reset();
    narrowMessage = nullptr;
    wideMessage = kEmpty;
    englishWideMessage = kEmpty;
    messageLength = englishMessageLength = 0;
}

void LogEvent::FormatMessages() noexcept
{
    if (formatted) return;
    formatted = true;
    if (!arguments) return;
    // The thread's buffers, unless an event of this thread holds them already.
    ThreadBuffers* buffers = CurrentThreadBuffers();
    if (buffers && !buffers->messagesInUse) {
        buffers->messagesInUse = true;
        buffers_ = buffers;
    } else {
        ownBuffers_.reset(new (std::nothrow) ThreadBuffers);
        buffers_ = ownBuffers_.get();
    }
    if (!buffers_) return;  // no memory: the message stays empty
    if (narrowFormat) {
        messageLength = FormatMessageInto(buffers_->narrow, narrowFormat, *arguments);
        narrowMessage = buffers_->narrow;
        return;
    }
    if (!format) return;
    messageLength = FormatMessageInto(buffers_->message, format, *arguments);
    wideMessage = buffers_->message;
    if (!englishFormat.empty()) {
        englishMessageLength = FormatMessageInto(buffers_->english, englishFormat.c_str(), *arguments);
        englishWideMessage = buffers_->english;
    }
}

}  // namespace LogUtils
