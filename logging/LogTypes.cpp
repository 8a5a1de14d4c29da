#include "LogTypes.h"

#include <windows.h>

#include <cwchar>
#include <iterator>

namespace LogUtils {
namespace {
const wchar_t* const kSinkNames[] = {L"File", L"OutputDebugString", L"Syslog", L"ETW"};
const wchar_t* const kEncodingNames[] = {L"ANSI", L"UTF-8", L"UNICODE"};
const wchar_t* const kSeverityNames[] = {L"Emergency", L"Alert",    L"CriticalError", L"Error", L"Warning",
                                         L"Notice",    L"Info",     L"Activity",      L"Debug"};
const char* const kSeverityNamesNarrow[] = {"Emergency", "Alert", "CriticalError", "Error", "Warning",
                                            "Notice",    "Info",  "Activity",      "Debug"};
}  // namespace

int MatchName(const std::wstring& text, const wchar_t* const* names, int count)
{
    for (int i = 0; i < count; ++i) {
        if (wcslen(names[i]) >= text.size() && _wcsnicmp(names[i], text.c_str(), text.size()) == 0) return i;
    }
    return -1;
}

SinkType SinkTypeFromName(const std::wstring& text)
{
    int i = MatchName(text, kSinkNames, static_cast<int>(std::size(kSinkNames)));
    return i < 0 ? SinkFile : static_cast<SinkType>(i);
}

Encoding EncodingFromName(const std::wstring& text)
{
    int i = MatchName(text, kEncodingNames, static_cast<int>(std::size(kEncodingNames)));
    return i < 0 ? EncodingUtf8 : static_cast<Encoding>(i);
}

Severity SeverityFromName(const std::wstring& text)
{
    int i = MatchName(text, kSeverityNames, static_cast<int>(std::size(kSeverityNames)));
    return i < 0 ? Debug : static_cast<Severity>(i);
}

const char* SeverityName(int severity)
{
    return severity >= Emergency && severity <= Debug ? kSeverityNamesNarrow[severity] : "";
}

bool EqualsNoCase(const std::wstring& a, const wchar_t* b) { return _wcsicmp(a.c_str(), b) == 0; }

}  // namespace LogUtils
