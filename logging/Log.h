#pragma once
// The entry point of the common library: one log event per statement, under
// the module "AGSCommon" and the blade "AGSCommon", with a wide printf-style
// format. Configured by logcfg.ini (see logging/README.md).
//
//   AGS_LOG(LogUtils::Error, L"Nukedir - Deleting file %s failed", path);
//   AGS_LOG_WITH_ERROR(LogUtils::Warning, GetLastError(), L"Failed to delete file %s", path);
//
// Never throws, never changes GetLastError().

#include "LogEvent.h"

#define AGS_LOG(severity, format, ...) LOGLIB_EVENT(severity, _T("AGSCommon"))(L"AGSCommon", format, ##__VA_ARGS__)

// The same, and the line ends in " Error=<code>: <system text>".
#define AGS_LOG_WITH_ERROR(severity, code, format, ...) \
    LOGLIB_EVENT(severity, _T("AGSCommon")).WithError(code)(L"AGSCommon", format, ##__VA_ARGS__)
