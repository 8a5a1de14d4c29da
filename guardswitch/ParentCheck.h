#pragma once
// Who started us: Guardswitch obeys only Sweeper and the Windows Installer
// running one of the suite's validated custom-action libraries.

#include "Handle.h"
#include "TrustValidation.h"

#include <string>

struct ProcessIdentity {
    DWORD id = 0;
    std::wstring image;  // file name only, as the process snapshot gives it
    // Held open through the checks, so that the identifier cannot pass to
    // another process meanwhile; query and read access.
    win::Handle process;
};

// Opens the process id as the parent of child: 0 and the handle when it was
// created before child; 5, with parent untouched, when it cannot be opened or
// is not older (its identifier was reused after the real parent ended).
DWORD OpenParentProcess(DWORD id, HANDLE child, win::Handle& parent);

// Finds the parent of the running process in process snapshots and opens it
// (OpenParentProcess). 0 and the parent, or 5 when a snapshot fails, either
// process is not in it, the parent's image name may have been cut, or the
// parent cannot be opened or is not older than the running process.
DWORD FindParentProcess(ProcessIdentity& parent);

// Installer route: the parent is "msiexec.exe" and has loaded a custom-action
// library's temporary copy (MSI*.TMP) that the trust library validates. A
// module path that fills its buffer of 260 units is passed over, never cut.
// Needs the parent's handle. 0 = verified; otherwise 5 or the last
// validation's status.
DWORD VerifyInstallerParent(const ProcessIdentity& parent, TrustValidation& trust);

// Sweeper route: the parent is "Sweeper.exe" with a real identifier, and the
// trust library validates the running process. 0 = verified, otherwise 5 or
// the validation's status.
DWORD VerifySweeperParent(const ProcessIdentity& parent, TrustValidation& trust);

// The installer route first, then the Sweeper route.
bool VerifyCaller(TrustValidation& trust);
