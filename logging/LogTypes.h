#pragma once
// Values shared by every part of the logging library: severities, encodings,
// sink kinds, and the rule that matches their names.

#include <string>

namespace LogUtils {

enum Severity : int {
    Emergency = 0,
    Alert = 1,
    CriticalError = 2,
    Error = 3,
    Warning = 4,
    Notice = 5,
    Info = 6,
    Activity = 7,
    Debug = 8,
    ActivityAndError = 9,  // logged twice: once as Activity, once as Error
};

enum Encoding : int { EncodingAnsi = 0, EncodingUtf8 = 1, EncodingUnicode = 2 };

enum SinkType : int { SinkFile = 0, SinkOutputDebugString = 1, SinkSyslog = 2, SinkEtw = 3 };

// How an event chooses between writing a file line at once and queueing it.
enum LogMode : int { ModeSynchronous = 0, ModeAsynchronous = 1, ModeAsConfigured = 2 };

// The index of the first of names that begins with text (compared over the
// length of text, without regard to case), or -1. An empty text begins every
// name, so callers decide what an empty value means before asking.
int MatchName(const std::wstring& text, const wchar_t* const* names, int count);

// "File", "OutputDebugString", "Syslog", "ETW"; File when nothing matches.
SinkType SinkTypeFromName(const std::wstring& text);
// "ANSI", "UTF-8", "UNICODE"; UTF-8 when nothing matches.
Encoding EncodingFromName(const std::wstring& text);
// "Emergency" ... "Debug"; Debug when nothing matches.
Severity SeverityFromName(const std::wstring& text);
// The name of a severity 0 to 8, or an empty text.
const char* SeverityName(int severity);

bool EqualsNoCase(const std::wstring& a, const wchar_t* b);


}  // namespace LogUtils
