#pragma once
// A suite laid into a Windows prefix as its installers lay it, and an audit of
// what a removal left. Each suite's footprint (Footprint.h) is the testbed's
// own account of it, written apart from the removal programs' tables so that a
// wrong value there shows up as a leftover here. The functions without a
// footprint argument work on the newer suite.

#include "Footprint.h"

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace stage {

// The newer suite's products, in installation order.
const std::vector<Product>& SuiteProducts();

// "<64-bit or 32-bit Program Files>\Zelmar Testbed\Endpoint Guard Platform":
// where the newer suite's libraries lie, the folder Sweeper hands to Guardswitch.
std::wstring PlatformFolder();

// Registry trees (both views) and folder trees around the suite, one entry per
// key, value, folder and file, with a text that changes when the item does.
using Snapshot = std::map<std::wstring, std::wstring>;

struct Audit {
    std::vector<std::wstring> stillPresent;    // of the staged footprint (not what `before` held)
    std::vector<std::wstring> pendingRestart;  // PendingFileRenameOperations entries
    std::vector<std::wstring> outsideChanged;  // outside the footprint, against `before`
    std::vector<std::wstring> plantedMissing;  // another product's data that is gone
};

// Lays the suite and the planted data of another product. Returns what went
// wrong, one line each; empty when all is laid.
std::vector<std::wstring> Lay(const Footprint& suite);

// Removes what is left of the suite (uninstalling its packages) and the planted
// data, and puts back the values it changed, whatever state a run left behind.
// Shared folders and keys that held them go when empty, unless before (taken
// before Lay) holds them.
void Undo(const Footprint& suite, const Snapshot& before);

// extraFolders: more trees to take, such as the folder the run was started from.
Snapshot TakeSnapshot(const Footprint& suite, const std::vector<std::wstring>& extraFolders = {});

// What was added, removed or changed since before (the same trees), apart
// from the files named in ignoredFiles and Windows Installer's empty
// containers; one line each.
std::vector<std::wstring> ChangesSince(const Footprint& suite, const Snapshot& before,
                                       const std::vector<std::wstring>& extraFolders = {},
                                       const std::vector<std::wstring>& ignoredFiles = {});

// before: taken before Lay. Files named in ignoredFiles (a run's own logs) are
// not compared.
Audit TakeAudit(const Footprint& suite, const Snapshot& before, const std::vector<std::wstring>& extraFolders = {},
                const std::vector<std::wstring>& ignoredFiles = {});

// The newer suite.
inline std::vector<std::wstring> Lay(const Sources& sources) { return Lay(NewerSuite(sources)); }
inline void Undo(const Snapshot& before) { Undo(NewerSuite(), before); }
inline Snapshot TakeSnapshot(const std::vector<std::wstring>& extraFolders = {})
{
    return TakeSnapshot(NewerSuite(), extraFolders);
}
inline std::vector<std::wstring> ChangesSince(const Snapshot& before, const std::vector<std::wstring>& extraFolders = {},
                                              const std::vector<std::wstring>& ignoredFiles = {})
{
    return ChangesSince(NewerSuite(), before, extraFolders, ignoredFiles);
}
inline Audit TakeAudit(const Snapshot& before, const std::vector<std::wstring>& extraFolders = {},
                       const std::vector<std::wstring>& ignoredFiles = {})
{
    return TakeAudit(NewerSuite(), before, extraFolders, ignoredFiles);
}

// The environment block's PATH a new logon session sees: the machine's "Path"
// with the platform folder that Lay appended.
std::wstring SessionPath();

std::wstring Serialize(const Snapshot& snapshot);
Snapshot Deserialize(const std::wstring& text);

std::wstring Describe(const Audit& audit);

// The exit code of a program this process started through Lay, once it has
// ended; false while it runs or when this process did not start it.
bool ProgramExitCode(const ProgramItem& program, DWORD& code);

}  // namespace stage
