#pragma once
// Uninstalling one configured module or dependency through Windows Installer,
// with the build decision, the reference count, the package edits and the
// self-protection switch around it.

#include "SweeperConfig.h"
#include "SweeperLog.h"

#include <string>

namespace sweeper {

// Result codes of RunProcess besides the child's own exit code.
inline constexpr DWORD kRunLaunchFailed = 1;
inline constexpr DWORD kRunTimedOut = ERROR_TIMEOUT;  // 1460

// True on a 64-bit Windows (IsWow64Process looked up at run time).
bool IsWow64();

// Starts the command line detached and hidden and waits up to waitMs. Returns
// 0 for exit code 0 or 3010, 1 when it could not start, 1460 when the wait ran
// out (the child keeps running), else the child's exit code. Logs failures.
DWORD RunProcess(SweeperLog& log, const wchar_t* commandLine, DWORD waitMs);

// Whether productCode names a subkey of the Uninstall key, in the 64-bit view
// and then the 32-bit view on a 64-bit Windows, in the one view elsewhere.
bool IsProductInstalled(const wchar_t* productCode);

// The install-folder text as the suite's values are read: at most 129 characters.
inline constexpr size_t kInstallFolderUnits = 130;
using InstallFolderText = wchar_t[kInstallFolderUnits];

// Reads the install folder value ("szInstallDir32" or "szInstallDir64") of the
// suite, always from the 64-bit view, into folder; a REG_EXPAND_SZ value is
// expanded. When the key cannot be opened or the value cannot be read, folder
// keeps what it held; a value (or its expansion) that does not fit 129
// characters is logged and read as empty, never cut.
void ReadInstallFolder(SweeperLog& log, const wchar_t* valueName, InstallFolderText& folder);

// The uninstall of configuration entries for one run. The build decision is
// made at the first installed entry and holds for the life of the object.
class Uninstaller {
public:
    Uninstaller(SweeperLog& log, const SweeperConfiguration& config) : log_(log), config_(config) {}

    // True when the entry is not installed or was uninstalled.
    bool UninstallEntry(size_t index, bool dependency);

    // True for a beta build (reference count), false for a released one.
    bool BuildCheck();
    bool UpdateReferenceCount(bool dependency);
    bool DisableSelfProtection(const std::wstring& platformFolder);
    bool EnableSelfProtection(const std::wstring& platformFolder);

private:
    bool SwitchSelfProtection(const std::wstring& platformFolder, bool enable);

    SweeperLog& log_;
    const SweeperConfiguration& config_;
    bool isBeta_ = false;
    bool notBeta_ = false;
};

}  // namespace sweeper
