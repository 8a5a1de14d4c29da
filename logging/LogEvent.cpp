#include "LogEvent.h"

#include "FaultGuard.h"
#include "Handle.h"
#include "LogConfig.h"
#include "LogManager.h"
#include "StringDB.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <new>
#include <type_traits>

namespace LogUtils {

namespace {
const wchar_t kEmpty[] = L"";
constexpr int kBufferChars = kMaxMessageChars + 1;

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

int FormatInto(wchar_t* buffer, const wchar_t* format, va_list args)
{
    return _vsnwprintf_s(buffer, kBufferChars, kMaxMessageChars, format, args);
}

int FormatInto(char* buffer, const char* format, va_list args)
{
    return _vsnprintf_s(buffer, kBufferChars, kMaxMessageChars, format, args);
}

// Runs under the access-violation guard: nothing here may need unwinding.
template <typename Char>
void RunFormat(void* context)
{
    auto* call = static_cast<FormatCall<Char>*>(context);
    va_list args;
    va_copy(args, call->args);
    errno = 0;
    call->result = FormatInto(call->buffer, call->format, args);
    call->error = errno;
    va_end(args);
}

std::wstring Widen(const char* text)
{
    int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (n <= 0) return {};
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), n);
    wide.resize(static_cast<size_t>(n - 1));
    return wide;
}

const wchar_t* AsWide(const wchar_t* text, std::wstring&) { return text; }
const wchar_t* AsWide(const char* text, std::wstring& holder)
{
    holder = Widen(text);
    return holder.c_str();
}

// Formats into a buffer of Char under the guards, then leaves the wide message
// (the format itself after a fault, or a replacement text) in text.
template <typename Char>
void GuardedFormat(wchar_t* text, const Char* format, va_list args) noexcept
{
    std::unique_ptr<Char[]> own;
    Char* buffer = nullptr;
    if constexpr (std::is_same_v<Char, wchar_t>) {
        buffer = text;
    } else {
        own.reset(new (std::nothrow) Char[kBufferChars]);
        if (!own) return;
        buffer = own.get();
    }
    buffer[0] = 0;
    FormatCall<Char> call{buffer, format, {}, -1, 0};
    va_copy(call.args, args);
    bool completed;
    {
        InvalidParameterScope scope;
        completed = win::CallGuardedAgainstAccessViolation(&RunFormat<Char>, &call);
    }
    va_end(call.args);

    std::wstring holder;
    const wchar_t* wideFormat = nullptr;
    try {
        wideFormat = AsWide(format, holder);
        if constexpr (!std::is_same_v<Char, wchar_t>) {
            buffer[kMaxMessageChars] = 0;
            wcsncpy_s(text, kBufferChars, Widen(buffer).c_str(), _TRUNCATE);
        }
    } catch (...) {
        return;  // out of memory: the message stays empty
    }
    if (!completed) {
        OutputDebugStringW(L"LogLib: AV Exception during logging!!!\n");
        wcsncpy_s(text, kBufferChars, wideFormat, _TRUNCATE);
        OutputDebugStringW((std::wstring(L"SEH exception triggered for [") + text + L"]\n").c_str());
    } else if (call.result < 0) {
        if constexpr (std::is_same_v<Char, wchar_t>) OutputDebugStringW(L"LogLib: CRT Exception during logging...\n");
        text[kMaxMessageChars] = L'\0';
        if (call.error == EINVAL) {
            _snwprintf_s(text, kBufferChars, _TRUNCATE,
                         L"[LOGGER]Failed to format message due to invalid/missing arguments!!! [%ls]", wideFormat);
        } else if (call.error == ERANGE || wcslen(text) == static_cast<size_t>(kMaxMessageChars)) {
            // The CRT reports a cut text as -1, with ERANGE or (Wine's msvcrt) without.
            _snwprintf_s(text, kBufferChars, _TRUNCATE,
                         L"[LOGGER]Failed to log message. Input buffer too large. Max allowed size allowed is %u",
                         static_cast<unsigned>(kMaxMessageChars));
        }
    }
}

template <typename Char>
std::unique_ptr<wchar_t[]> FormatAnyMessageText(const Char* format, va_list args, int& length) noexcept
{
    length = 0;
    std::unique_ptr<wchar_t[]> buffer(new (std::nothrow) wchar_t[kBufferChars]);
    if (!buffer) return nullptr;
    buffer[0] = L'\0';
    GuardedFormat(buffer.get(), format, args);
    length = static_cast<int>(wcslen(buffer.get()));
    return buffer;
}
}  // namespace

std::unique_ptr<wchar_t[]> FormatMessageText(const wchar_t* format, va_list args, int& length) noexcept
{
    return FormatAnyMessageText(format, args, length);
}

std::unique_ptr<wchar_t[]> FormatMessageText(const char* format, va_list args, int& length) noexcept
{
    return FormatAnyMessageText(format, args, length);
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
    GetLocalTime(&localTime);
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
    messageBuffer_.reset();
    englishBuffer_.reset();
    wideMessage = kEmpty;
    englishWideMessage = kEmpty;
    messageLength = englishMessageLength = 0;
}

void LogEvent::FormatMessages() noexcept
{
    if (formatted) return;
    formatted = true;
    if (!arguments) return;
    if (format) messageBuffer_ = FormatMessageText(format, *arguments, messageLength);
    else if (narrowFormat) messageBuffer_ = FormatMessageText(narrowFormat, *arguments, messageLength);
    else return;
    wideMessage = messageBuffer_ ? messageBuffer_.get() : kEmpty;
    if (!englishFormat.empty()) {
        englishBuffer_ = FormatMessageText(englishFormat.c_str(), *arguments, englishMessageLength);
        englishWideMessage = englishBuffer_ ? englishBuffer_.get() : kEmpty;
    }
}

}  // namespace LogUtils
