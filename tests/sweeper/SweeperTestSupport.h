#pragma once
// What the Sweeper tests share: where the built programs and packages are, a
// temporary-folder override so each test gets its own log folder, the log's
// messages, and running Sweeper.exe from a folder of its own.

#include "Scratch.h"

#include <string>
#include <vector>

namespace sweeper_tests {

// The x86 and x64 build trees as the test prefix sees them (drive T:).
std::wstring X86Tree();
std::wstring X64Tree();
std::wstring SuitePackage(const wchar_t* name);  // T:\x86\testbed\sweeper-suite\<name>.msi

// Points TMP and TEMP at a folder for the life of the object (children inherit it).
class TempFolderOverride {
public:
    explicit TempFolderOverride(const std::wstring& folder);
    ~TempFolderOverride();
    TempFolderOverride(const TempFolderOverride&) = delete;
    TempFolderOverride& operator=(const TempFolderOverride&) = delete;

private:
    std::wstring oldTmp_, oldTemp_;
};

// The message part of every line of the one run log in <folder>\ZelmarLogs.
std::vector<std::string> LogMessages(const std::wstring& tempFolder);
// Names of the files in <folder>\ZelmarLogs.
std::vector<std::wstring> LogFiles(const std::wstring& tempFolder);

// Whether `expected` appears in `lines` in this order (other lines may come
// between); a '*' in an expected line stands for any text.
::testing::AssertionResult ContainsInOrder(const std::vector<std::string>& lines,
                                           const std::vector<std::string>& expected);

// A figure of the time line of a step ("Timing: <step> took ..."): part is
// "took", "waiting for children", "fixed waits" or "own work". -1 when the
// line is missing.
long StepTime(const std::vector<std::string>& lines, const std::string& step, const std::string& part);

// A folder holding Sweeper.exe, the given SweeperConfig.xml (none when empty)
// and both Guardswitch stand-ins.
void LayOutSweeper(const std::wstring& folder, const std::string& config);

// What ships in dist/, from the build trees, copied into folder (ASSERT on failure).
void LayOutShipped(const std::wstring& folder);

struct RunResult {
    DWORD exitCode = 0;
    std::vector<std::string> messages;  // without the time lines
    std::vector<std::string> times;     // "Timing: ..." lines, whose figures differ from run to run
};
// Runs <folder>\Sweeper.exe with arguments, logging into <tempFolder>\ZelmarLogs.
// A run that outlasts timeoutMs is stopped (exit code 0xFFFFFFFE).
RunResult RunSweeperIn(const std::wstring& folder, const std::wstring& arguments, const std::wstring& tempFolder,
                       DWORD timeoutMs = 600000);

// msiexec /i <package> /qn and msiexec /x <code> /qn; full exit codes.
DWORD InstallPackage(const wchar_t* name);
DWORD UninstallProduct(const wchar_t* productCode);

}  // namespace sweeper_tests
