#pragma once
// Shared pieces of the logging tests: a manager over a scratch configuration
// folder, events as the common library logs them, and the machine state that
// the library touches (its folders under the common application data folder
// and its registry keys), put back as it was when the program ends.

#include "DbWinListener.h"
#include "LogManager.h"
#include "Scratch.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace logtest {

// Under user-mode emulation of 32-bit x86 (where setup registered it), Wine
// learns of a bad read as an illegal instruction, not as an access violation
// (docs/wine.md): the library rightly does not catch it, so a test that makes
// a bad read on purpose cannot run there.
inline bool BadReadsMislabelled()
{
#ifdef _WIN64
    return false;
#else
    return GetEnvironmentVariableW(L"ZL_X86_EMULATED", nullptr, 0) != 0;
#endif
}
#define ZL_SKIP_BAD_READS_UNDER_EMULATION()                                                     \
    if (logtest::BadReadsMislabelled())                                                         \
    GTEST_SKIP() << "bad reads arrive as illegal instructions under emulation (docs/wine.md)"

// Module text as the common library's statements record it.
constexpr const char* kModule = "_T(\"AGSCommon\")";

std::wstring CommonAppData();

// A DefaultLogManager that watches its own scratch configuration folder.
class ManagerBench {
public:
    explicit ManagerBench(const std::wstring& name);
    // Writes logcfg.ini (ANSI text), waiting while a reload reads it.
    void WriteConfig(const std::string& text) const;
    std::string ReadLog(const std::wstring& name) const { return testing_support::ReadFileBytes(logDir() + L"\\" + name); }
    const std::wstring& folder() const { return scratch_.path(); }
    std::wstring configFile() const { return scratch_ / L"cfg\\logcfg.ini"; }
    std::wstring logDir() const { return scratch_ / L"logs"; }
    LogUtils::DefaultLogManager& manager() { return *manager_; }

    // An event as the common library builds it, for this bench's manager,
    // written synchronously: bench.Event(LogUtils::Info)(L"AGSCommon", L"text %d", 5).
    LogUtils::LogEvent Event(int severity, bool localise = false, int mode = LogUtils::ModeSynchronous)
    {
        return LogUtils::LogEvent("C:\\src\\AGSCommon\\FileName.cpp", 42, mode, severity, kModule, manager_.get(),
                                  localise);
    }

private:
    testing_support::ScratchDir scratch_;
    std::unique_ptr<LogUtils::DefaultLogManager> manager_;
};

// Success once the listener has received a message containing text (within
// 5 s); the failure lists what it received instead.
::testing::AssertionResult Heard(testing_support::DbWinListener& listener, const std::string& text);

// Sets or deletes HKLM "SOFTWARE\Zelmar\Endpoint\Common\Log" "dwIsDebugOutputEnabled" (64-bit view).
void SetDiagnosticsValue(const DWORD* value);

}  // namespace logtest
