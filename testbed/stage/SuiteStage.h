#pragma once
// The newer suite laid into a Windows prefix as its installers lay it, and an
// audit of what a removal left. The footprint below is the testbed's own
// account of the suite (its packages and what they register), written apart
// from the removal programs' tables so that a wrong value there shows up as a
// leftover here.

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace stage {

bool IsWindows64();

// Where the packages come from: the folder of the suite's packages and the
// agent's package file.
struct Sources {
    std::wstring suitePackages;
    std::wstring agentPackage;
};

struct Product {
    const wchar_t* name;
    const wchar_t* productCode;
};
// The suite's products, in installation order.
const std::vector<Product>& SuiteProducts();

// "<64-bit or 32-bit Program Files>\Zelmar Testbed\Endpoint Guard Platform":
// where the suite's libraries lie, the folder Sweeper hands to Guardswitch.
std::wstring PlatformFolder();

// Lays the suite and the planted data of another product. Returns what went
// wrong, one line each; empty when all is laid.
std::vector<std::wstring> Lay(const Sources& sources);

// Registry trees (both views) and folder trees around the suite, one entry per
// key, value, folder and file, with a text that changes when the item does.
using Snapshot = std::map<std::wstring, std::wstring>;

// Uninstalls what is left of the suite and removes the planted data and the
// search-path entry, whatever state a run left behind. Shared folders and keys
// that held them go when empty, unless before (taken before Lay) holds them.
void Undo(const Snapshot& before);

// The environment block's PATH a new logon session sees: the machine's "Path"
// with the platform folder that Lay appended.
std::wstring SessionPath();
// extraFolders: more trees to take, such as the folder the run was started from.
Snapshot TakeSnapshot(const std::vector<std::wstring>& extraFolders = {});

// What was added, removed or changed since before (the same trees), apart
// from the files named in ignoredFiles and Windows Installer's empty
// containers; one line each.
std::vector<std::wstring> ChangesSince(const Snapshot& before, const std::vector<std::wstring>& extraFolders = {},
                                       const std::vector<std::wstring>& ignoredFiles = {});

std::wstring Serialize(const Snapshot& snapshot);
Snapshot Deserialize(const std::wstring& text);

struct Audit {
    std::vector<std::wstring> stillPresent;    // of the staged footprint (not what `before` held)
    std::vector<std::wstring> pendingRestart;  // PendingFileRenameOperations entries
    std::vector<std::wstring> outsideChanged;  // outside the footprint, against `before`
    std::vector<std::wstring> plantedMissing;  // another product's data that is gone
};
// before: taken before Lay. Files named in ignoredFiles (a run's own logs) are
// not compared.
Audit TakeAudit(const Snapshot& before, const std::vector<std::wstring>& extraFolders = {},
                const std::vector<std::wstring>& ignoredFiles = {});

std::wstring Describe(const Audit& audit);

}  // namespace stage
