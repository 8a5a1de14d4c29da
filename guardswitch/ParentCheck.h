#pragma once
// Who started us: Guardswitch obeys only Sweeper and the Windows Installer
// running one of the suite's validated custom-action libraries.

#include "TrustValidation.h"

#include <string>

struct ProcessIdentity {
    DWORD id = 0;
    std::wstring image;  // file name only, as the process snapshot gives it
};

// Finds the parent of the running process in process snapshots. 0 and the
// parent, or 5 when a snapshot fails or either process is not in it.
DWORD FindParentProcess(ProcessIdentity& parent);

// Installer route: the parent is "msiexec.exe" and has loaded a custom-action
// library's temporary copy (MSI*.TMP) that the trust library validates.
// 0 = verified; otherwise 5 or the last validation's status.
DWORD VerifyInstallerParent(const ProcessIdentity& parent, TrustValidation& trust);

// Sweeper route: the parent is "Sweeper.exe" with a real identifier, and the
// trust library validates the running process. 0 = verified, otherwise 5 or
// the validation's status.
DWORD VerifySweeperParent(const ProcessIdentity& parent, TrustValidation& trust);

// The installer route first, then the Sweeper route.
bool VerifyCaller(TrustValidation& trust);
