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

struct FormatCall {
    wchar_t* buffer;
    const wchar_t* format;
    va_list args;
    int result;
    int error;
};

// Runs under the access-violation guard: nothing here may need unwinding.
void RunFormat(void* context)
{
    auto* call = static_cast<FormatCall*>(context);
    va_list args;
    va_copy(args, call->args);
    errno = 0;
    call->result = _vsnwprintf_s(call->buffer, kBufferChars, kMaxMessageChars, call->format, args);
    call->error = errno;
    va_end(args);
}
}  // namespace

std::unique_ptr<wchar_t[]> FormatMessageText(const wchar_t* format, va_list args, int& length) noexcept
{
    length = 0;
    std::unique_ptr<wchar_t[]> buffer(new (std::nothrow) wchar_t[kBufferChars]);
    if (!buffer) return nullptr;
    wchar_t* text = buffer.get();
    text[0] = L'\0';

    FormatCall call{text, format, {}, -1, 0};
    va_copy(call.args, args);
    bool completed;
    {
        InvalidParameterScope scope;
        completed = win::CallGuardedAgainstAccessViolation(&RunFormat, &call);
    }
    va_end(call.args);

    if (!completed) {
        OutputDebugStringW(L"LogLib: AV Exception during logging!!!\n");
        wcsncpy_s(text, kBufferChars, format, _TRUNCATE);
        OutputDebugStringW((std::wstring(L"SEH exception triggered for [") + text + L"]\n").c_str());
    } else if (call.result < 0) {
        OutputDebugStringW(L"LogLib: CRT Exception during logging...\n");
        text[kMaxMessageChars] = L'\0';
        if (call.error == EINVAL) {
            _snwprintf_s(text, kBufferChars, _TRUNCATE,
                         L"[LOGGER]Failed to format message due to invalid/missing arguments!!! [%ls]", format);
        } else if (call.error == ERANGE || wcslen(text) == static_cast<size_t>(kMaxMessageChars)) {
            // The CRT reports a cut text as -1, with ERANGE or (Wine's msvcrt) without.
            _snwprintf_s(text, kBufferChars, _TRUNCATE,
                         L"[LOGGER]Failed to log message. Input buffer too large. Max allowed size allowed is %u",
                         static_cast<unsigned>(kMaxMessageChars));
        }
    }
    length = static_cast<int>(wcslen(text));
    return buffer;
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
    if (!format || !arguments) return;
    messageBuffer_ = FormatMessageText(format, *arguments, messageLength);
    wideMessage = messageBuffer_ ? messageBuffer_.get() : kEmpty;
    if (!englishFormat.empty()) {
        englishBuffer_ = FormatMessageText(englishFormat.c_str(), *arguments, englishMessageLength);
        englishWideMessage = englishBuffer_ ? englishBuffer_.get() : kEmpty;
    }
}

}  // namespace LogUtils
