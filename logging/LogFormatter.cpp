#include "LogFormatter.h"

#include "Handle.h"
#include "LogEvent.h"
#include "ThreadBuffers.h"

#include <shlwapi.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

namespace LogUtils {

namespace {

// Digits without the CRT's printf, which costs more than the rest of a line:
// value in the base, at least width digits, zero-padded, lower case.
char* PutDigits(char* at, unsigned long value, unsigned base, int width)
{
    char digits[16];
    int n = 0;
    do {
        digits[n++] = "0123456789abcdef"[value % base];
        value /= base;
    } while (value != 0);
    while (n < width) digits[n++] = '0';
    while (n > 0) *at++ = digits[--n];
    return at;
}

void WriteNumber(OStream<char>& out, DWORD value, bool alternate)
{
    char text[36];
    bool hex = alternate || static_cast<LONG>(value) < 0;
    out.WriteRange(text, PutDigits(text, value, hex ? 16 : 10, 1));
}

// Written when a text cannot be converted for the line.
const char kConversionFailed[] = "Locale conversion failed!!!";

// Converts into the thread's reusable text; false when the conversion failed.
bool WriteConverted(OStream<char>& out, const wchar_t* text, size_t length, unsigned codePage)
{
    ThreadBuffers* buffers = CurrentThreadBuffers();
    std::string own;
    std::string& bytes = buffers ? buffers->converted : own;
    ConvertTo(bytes, text, length, codePage);
    out.WriteBytes(bytes.data(), bytes.size());
    return !bytes.empty() || length == 0;
}

void WriteUtf8(OStream<char>& out, const wchar_t* text)
{
    if (!WriteConverted(out, text, wcslen(text), CP_UTF8)) out.WriteString(kConversionFailed);
}

// "%02u-%02u" (month, day), "+" "%04u-%02u-%02u"; with slashes "%02u/%02u", "+" "%02u/%02u/%04u".
void WriteDate(OStream<char>& out, const SYSTEMTIME& t, bool alternate, bool slashes)
{
    char text[16];
    char* at = text;
    if (alternate && !slashes) {
        at = PutDigits(at, t.wYear, 10, 4);
        *at++ = '-';
    }
    at = PutDigits(at, t.wMonth, 10, 2);
    *at++ = slashes ? '/' : '-';
    at = PutDigits(at, t.wDay, 10, 2);
    if (alternate && slashes) {
        *at++ = '/';
        at = PutDigits(at, t.wYear, 10, 4);
    }
    out.WriteRange(text, at);
}

// "%02u:%02u:%02u %s" on a 12-hour clock, "+" with ".%03u" milliseconds.
void WriteTime(OStream<char>& out, const SYSTEMTIME& t, bool alternate)
{
    unsigned hour = t.wHour == 0 ? 12 : (t.wHour > 12 ? t.wHour - 12u : t.wHour);
    char text[32];
    char* at = PutDigits(text, hour, 10, 2);
    for (unsigned part : {static_cast<unsigned>(t.wMinute), static_cast<unsigned>(t.wSecond)}) {
        *at++ = ':';
        at = PutDigits(at, part, 10, 2);
    }
    if (alternate) {
        *at++ = '.';
        at = PutDigits(at, t.wMilliseconds, 10, 3);
    }
    *at++ = ' ';
    *at++ = t.wHour >= 12 ? 'P' : 'A';
    *at++ = 'M';
    out.WriteRange(text, at);
}

void WriteLocaleDateTime(OStream<char>& out, const SYSTEMTIME& t, LCID locale)
{
    wchar_t text[128] = {};
    int date = GetDateFormatW(locale, 0, &t, nullptr, text, 128);
    if (date > 0) {
        text[date - 1] = L' ';
        GetTimeFormatW(locale, 0, &t, nullptr, text + date, 128 - date);
    }
    WriteUtf8(out, text);
}

const char* ProcessName()
{
    static const std::string name = [] {
        char path[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, path, MAX_PATH);
        char* file = PathFindFileNameA(path);
        PathRemoveExtensionA(file);
        return std::string(file).substr(0, 31);
    }();
    return name.c_str();
}

DWORD SessionId()
{
    OSVERSIONINFOEXW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version)) ||
        !(version.wSuiteMask & (VER_SUITE_TERMINAL | VER_SUITE_SINGLEUSERTS)))
        return 0;
    using ProcessIdToSessionIdFn = BOOL(WINAPI*)(DWORD, DWORD*);
    static const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto toSession = reinterpret_cast<ProcessIdToSessionIdFn>(
        kernel ? GetProcAddress(kernel, "ProcessIdToSessionId") : nullptr);
    DWORD session = 0;
    if (!toSession || !toSession(GetCurrentProcessId(), &session)) return 0;
    return session;
}

void WriteWindowStation(OStream<char>& out)
{
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    if (!GetVersionExW(&version) || version.dwPlatformId != VER_PLATFORM_WIN32_NT) return;
    wchar_t name[261] = {};  // 522 bytes
    GetUserObjectInformationW(GetProcessWindowStation(), UOI_NAME, name, sizeof(name), nullptr);
    name[260] = L'\0';
    WriteUtf8(out, name);
}

void WriteUserName(OStream<char>& out)
{
    wchar_t name[257] = {};
    DWORD size = 257;
    GetUserNameW(name, &size);
    WriteUtf8(out, name);
}

// " Error=<code>: <system text>", in 256 bytes, without the system text's line end.
void WriteErrorText(OStream<char>& out, DWORD code)
{
    win::LastErrorKeeper keep;
    char text[256];
    int n = snprintf(text, sizeof(text), static_cast<LONG>(code) < 0 ? "Error=0x%08lx: " : "Error=%ld: ",
                     static_cast<long>(code));
    if (n < 0 || n >= static_cast<int>(sizeof(text))) n = 0;
    DWORD got = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0x400,
                               text + n, static_cast<DWORD>(sizeof(text) - n), nullptr);
    size_t length = static_cast<size_t>(n) + got;
    while (length > 0 && static_cast<unsigned char>(text[length - 1]) < 0x20) --length;
    out.WriteString(" ");
    out.WriteBytes(text, length);
}

void WriteMessage(OStream<char>& out, const LogEvent& event, bool overrideLocalization)
{
    if (event.narrowMessage) {
        // A narrow message is written as the bytes it was formatted to.
        out.WriteBytes(event.narrowMessage, static_cast<size_t>(event.messageLength));
        if (event.appendError) WriteErrorText(out, event.errorCode);
        return;
    }
    const wchar_t* message = overrideLocalization && event.hasEnglish ? event.englishWideMessage : event.wideMessage;
    int length = message == event.wideMessage ? event.messageLength : event.englishMessageLength;
    WriteConverted(out, message, static_cast<size_t>(length), CP_UTF8);
    if (event.appendError) WriteErrorText(out, event.errorCode);
}

}  // namespace

void ATLString_OStream::WriteBytes(const char* data, size_t count)
{
    target_.append(data, strnlen(data, count));
}

void FixedBuffer_OStream::WriteBytes(const char* data, size_t count)
{
    size_t room = static_cast<size_t>(end_ - cursor_);
    if (count > room) count = room;
    memcpy(cursor_, data, count);
    cursor_ += count;
}

bool LogFormatter::Format(OStream<char>& out, const wchar_t* format, const LogEvent& event, Encoding encoding,
                          bool overrideLocalization) const
{
    if (!format) return true;
    const SYSTEMTIME& t = event.localTime;
    bool inToken = false;
    bool alternate = false;
    // Text between tokens goes out in runs rather than byte by byte; a zero
    // byte goes alone, as a stream may treat it as the end of its data.
    char run[64];
    size_t runLength = 0;
    auto flush = [&] {
        if (runLength) out.WriteBytes(run, runLength);
        runLength = 0;
    };
    for (const wchar_t* p = format; *p; p = CharNextW(p)) {
        wchar_t c = *p;
        if (!inToken) {
            if (c == L'%') {
                flush();
                inToken = true;
                alternate = false;
            } else {
                char byte = static_cast<char>(c & 0xFF);
                if (byte == 0 || runLength == sizeof(run)) {
                    flush();
                    if (byte == 0) {
                        out.WriteBytes(&byte, 1);
                        continue;
                    }
                }
                run[runLength++] = byte;
            }
            continue;
        }
        if (c == L'+' || c == L'-') {
            alternate = alternate || c == L'+';
            continue;
        }
        inToken = false;
        switch (c) {
        case L'%': out.WriteString("%"); break;
        case L's': {
            const char* file = event.sourceFile ? event.sourceFile : "";
            out.WriteString(alternate ? file : PathFindFileNameA(file));
            break;
        }
        case L'L': WriteNumber(out, static_cast<DWORD>(event.line), false); break;
        case L'd': WriteDate(out, t, alternate, false); break;
        case L'D': WriteDate(out, t, alternate, true); break;
        case L'T': WriteTime(out, t, alternate); break;
        case L'A': WriteLocaleDateTime(out, t, LOCALE_USER_DEFAULT); break;
        case L'a': WriteLocaleDateTime(out, t, LOCALE_SYSTEM_DEFAULT); break;
        case L'p': WriteNumber(out, event.processId, alternate); break;
        case L't': WriteNumber(out, event.threadId, alternate); break;
        case L'P': {
            char text[36];
            snprintf(text, sizeof(text), "%8s", ProcessName());
            out.WriteString(text);
            break;
        }
        case L'i': WriteNumber(out, SessionId(), false); break;
        case L'w': WriteWindowStation(out); break;
        case L'U': WriteUserName(out); break;
        case L'l': out.WriteString(SeverityName(event.severity)); break;
        case L'f': out.WriteString(event.moduleText ? event.moduleText : ""); break;
        case L'F': {
            const wchar_t* blade = event.blade ? event.blade : L"";
            WriteConverted(out, blade, wcslen(blade), encoding == EncodingAnsi ? CP_ACP : CP_UTF8);
            break;
        }
        case L'm': WriteMessage(out, event, overrideLocalization); break;
        default: break;  // unknown tokens write nothing
        }
    }
    flush();
    return true;
}

}  // namespace LogUtils

