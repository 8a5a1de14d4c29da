#pragma once
// The log event: one per logging statement, built on the caller's stack,
// filled by its call operator and handed to the log manager.

#include "LogTypes.h"

#include <windows.h>

#include <cstdarg>
#include <memory>
#include <string>

// What LogLib.dll exports: the event and the process-wide manager.
#if defined(LOGLIB_EXPORTS)
#define LOGLIB_API __declspec(dllexport)
#elif defined(LOGLIB_IMPORTS)
#define LOGLIB_API __declspec(dllimport)
#else
#define LOGLIB_API
#endif

namespace LogUtils {

class ILogManager;
struct ThreadBuffers;

// The process-wide DefaultLogManager, or null when it could not be made.
// Keeps the last-error value, also on the first call that starts the library.
LOGLIB_API ILogManager* getLogManager() noexcept;

// Longest message text; longer messages are replaced by a notice.
constexpr int kMaxMessageChars = 4095;

class LOGLIB_API LogEvent {
public:
    // Takes the thread and process IDs and the local time now. mode is a
    // LogMode; localise makes the format of the call a message id of the
    // string database. Keeps the last-error value, so that it can still be
    // passed to WithError.
    LogEvent(const char* sourceFile, int line, int mode, int severity, const char* moduleText, ILogManager* manager,
             bool localise) noexcept;
    // Out of line, so that a program using LogLib.dll frees the event's
    // buffers inside the library that made them.
    ~LogEvent();
    LogEvent(const LogEvent&) = delete;
    LogEvent& operator=(const LogEvent&) = delete;

    // Logs format and its arguments for blade. Never fails towards the caller
    // and leaves the thread's last-error value as it found it. A null format
    // logs nothing.
    LogEvent& operator()(const wchar_t* blade, const wchar_t* format, ...) noexcept;
    // The same with a narrow format (its "%s" takes narrow text); never
    // localised. Its message is written as the bytes it formats to.
    LogEvent& operator()(const wchar_t* blade, const char* format, ...) noexcept;

    // Makes %m append the system's text for code.
    LogEvent& WithError(DWORD code) noexcept
    {
        errorCode = code;
        appendError = true;
        return *this;
    }

    // Fills the message fields once; the first section that takes the event calls it.
    void FormatMessages() noexcept;

    const char* sourceFile;
    int line;
    DWORD threadId;
    DWORD processId;
    ILogManager* manager;
    SYSTEMTIME localTime;
    const wchar_t* wideMessage = L"";         // the formatted message (or the shared empty text)
    int messageLength = 0;
    const char* narrowMessage = nullptr;      // the formatted message of a narrow format
    const wchar_t* englishWideMessage = L"";  // the English text of a localised message
    int englishMessageLength = 0;
    std::wstring englishFormat;               // the English text of a localised message id
    bool hasEnglish = false;                  // the event was localised
    int severity;
    const char* moduleText;                   // the module argument as written at the call site
    const wchar_t* blade = L"default";
    DWORD errorCode = 0;
    bool appendError = false;
    int mode;
    bool asynchronous;                        // a file line goes through the writer queue
    bool localise;
    va_list* arguments = nullptr;
    const wchar_t* format = nullptr;
    const char* narrowFormat = nullptr;
    bool formatted = false;

private:
    void LocaliseAndDispatch(const wchar_t* blade, const wchar_t* format, va_list* args) noexcept;
    void Dispatch(const wchar_t* blade, const wchar_t* format, va_list* args) noexcept;

    ThreadBuffers* buffers_ = nullptr;           // where the messages are, while formatted
    std::unique_ptr<ThreadBuffers> ownBuffers_;  // for an event inside another of the same thread
    std::wstring localisedFormat_;
};

// Formats a message into buffer (kMaxMessageChars + 1 units), guarded so that
// no fault reaches the caller: a text too long, a bad format or an argument
// that is an invalid pointer yields a replacement text (see the README).
// Returns the length of the message.
int FormatMessageInto(wchar_t* buffer, const wchar_t* format, va_list args) noexcept;
int FormatMessageInto(char* buffer, const char* format, va_list args) noexcept;

}  // namespace LogUtils

// The logging statement: LOGLIB_EVENT(LogUtils::Error, _T("AGSCommon"))(L"AGSCommon", L"text %d", 5);
// The module argument is recorded as written, which is what filters match.
#define LOGLIB_EVENT(severity, module)                                                                       \
    ::LogUtils::LogEvent(__FILE__, __LINE__, ::LogUtils::ModeAsConfigured, (severity), #module,             \
                         ::LogUtils::getLogManager(), false)
