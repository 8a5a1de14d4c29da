#pragma once
// Unregistering the suite's COM server modules and local servers found by
// name or by file mask, before their files go. Every line goes to the run log
// the caller passes.

#include "LogFile.h"

#include <string>

// A log of its own for one launch or one step, writing to the given file
// (the caller's log file), closed when it goes.
class LaunchLog {
public:
    explicit LaunchLog(const std::wstring& path)
    {
        log_ = path;
        log_.Open();
    }
    CLogFile& get() { return log_; }

private:
    CLogFile log_;
};

// Starts the 64-bit "RegSvr32.exe" of the Windows folder's "system32" with
// the arguments, WOW64 file-system redirection switched off around it, and
// waits through LaunchAndWait with a log of its own. False without starting
// anything when the process does not run under WOW64 or redirection cannot be
// switched off; otherwise the launch's result.
bool UnregisterServerWow64(const std::wstring& arguments);

namespace miscHelper {

// Starts an existing local server with " /UnregServer" and waits for it, with
// a log of its own for the launch. An empty name is logged and passed over.
void UnregisterExe(const std::wstring& file, CLogFile& log);

// Unregisters every COM server module in the folder that matches the mask:
// under WOW64 through the 64-bit registration server (the module's path
// quoted, since the suite's folders hold blanks), elsewhere in-process.
void unRegFileFromMask(const wchar_t* folder, const wchar_t* mask, CLogFile& log);

}  // namespace miscHelper

namespace CHelper {

// Unregisters every user service program ("tvUsrSrv*.exe") in the folder
// through miscHelper::UnregisterExe.
void unRegFileFromMask(const wchar_t* folder, CLogFile& log);

}  // namespace CHelper
