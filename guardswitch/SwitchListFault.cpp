#include "SwitchListFault.h"

#include "LogEvent.h"

void ReportSwitchListFault(int line, const char* text)
{
    LogUtils::LogEvent(".\\argswitch", line, LogUtils::ModeAsConfigured, LogUtils::Debug, "TmpLogger",
                       LogUtils::getLogManager(), false)(L"TmpLogger", text);
}
