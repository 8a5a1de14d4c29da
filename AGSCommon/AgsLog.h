#pragma once
// Log entries of the common library, under the component "AGSCommon".

#include <cstdarg>

namespace ags {

// Severities of a log event.
enum class Severity : int {
    Emergency = 0,
    Alert = 1,
    CriticalError = 2,
    Error = 3,
    Warning = 4,
    Notice = 5,
    Info = 6,
    Activity = 7,
    Debug = 8,
};

// Logs one printf-style wide message. Never fails, never changes the last error.
void Log(const char* file, int line, Severity severity, const wchar_t* format, ...);

}  // namespace ags

#define AGS_LOG(severity, ...) ::ags::Log(__FILE__, __LINE__, ::ags::Severity::severity, __VA_ARGS__)
