#pragma once
// A suite's footprint as data: what its installation lays on a machine, the
// other product's data planted among it, and the trees a snapshot takes. One
// file per suite fills it in (NewerSuite.cpp, OlderSuite.cpp); the stager's
// engine (SuiteStage.cpp) lays, audits and undoes any footprint the same way.

#include "Registry.h"

#include <string>
#include <vector>

namespace stage {

struct Product {
    const wchar_t* name;
    const wchar_t* productCode;
};

// Where the newer suite's packages come from.
struct Sources {
    std::wstring suitePackages;  // the folder of the suite's packages
    std::wstring agentPackage;   // the agent's package file
};

// Where the older suite's files come from (the testbed's build folders).
struct OlderSources {
    std::wstring agentProgram;     // tvAgtSvc.exe with a FileVersion below 10
    std::wstring defenderLibrary;  // the stand-in of Windows Defender's client library
};

// root is HKEY_LOCAL_MACHINE or HKEY_CLASSES_ROOT.
struct KeyItem {
    HKEY root;
    std::wstring path;
    win::RegView view;
};

struct ValueItem {
    KeyItem key;
    std::wstring name;  // empty: the key's default value
    DWORD type;         // REG_SZ or REG_DWORD
    std::wstring text;  // REG_SZ data
    DWORD number;       // REG_DWORD data
};

struct FileItem {
    std::wstring path;
    std::wstring copyFrom;  // empty: the file holds content
    std::string content;
};

// A folder link (a Linux symbolic link under Wine) at link, pointing at target.
struct LinkItem {
    std::wstring link;
    std::wstring target;
};

struct Footprint {
    std::wstring name;

    // Windows Installer packages installed in order, and the products they register.
    std::vector<std::wstring> packages;
    std::vector<Product> products;
    // A folder appended to the machine's "Path" (empty: none).
    std::wstring pathEntry;

    // The suite's own items, audited, and laid by the stager unless the
    // packages lay them. A key or folder that was there before staging is not
    // reported; a value is a leftover while it still holds what was laid.
    bool packagesLayItems = false;
    std::vector<KeyItem> keys;
    std::vector<ValueItem> values;
    std::vector<std::wstring> folders;
    std::vector<FileItem> files;

    // Another product's data inside the suite's shared keys and folders; it
    // must survive. Each planted key holds the value "Owner".
    std::vector<KeyItem> plantedKeys;
    std::vector<ValueItem> plantedValues;
    std::vector<FileItem> plantedFiles;
    std::vector<LinkItem> plantedLinks;  // from inside a suite folder to a non-empty planted folder

    // Parts of the platform the testbed stands in for (Windows keeps them):
    // laid when missing, undone, never counted as the suite's.
    std::vector<KeyItem> platformKeys;
    std::vector<FileItem> platformFiles;

    // What a snapshot takes: registry trees (both views where there are two)
    // and folder trees.
    std::vector<std::pair<HKEY, std::wstring>> keyTrees;
    std::vector<std::wstring> folderTrees;

    // Not laid yet (later steps): services from a stand-in service program,
    // running tray programs, COM servers and local servers, component
    // uninstallers, user hives, Windows Installer records, shortcuts, registry
    // links, browser components.
};

// The newer suite: four packages of the suite and the agent's package.
Footprint NewerSuite(const Sources& sources = {});
// The older managed suite, laid key by key and file by file.
Footprint OlderSuite(const OlderSources& sources = {});

// --- Places, shared by the footprints ----------------------------------------------

bool IsWindows64();
std::wstring Env(const wchar_t* name);
// Program Files of the native (64-bit on 64-bit Windows) and of 32-bit programs.
std::wstring ProgramFilesNative();
std::wstring ProgramFiles32();
std::wstring CommonFilesNative();
std::wstring CommonFiles32();
std::wstring CommonAppData();
std::wstring WindowsFolder();
// The registry views of this machine: both on 64-bit Windows, else the one.
std::vector<win::RegView> Views();
// On 32-bit Windows both views are the one tree.
win::RegView On(win::RegView view);

}  // namespace stage
