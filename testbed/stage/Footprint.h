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
    // The suite's services, programs, uninstallers and COM servers (testbed stand-ins).
    std::wstring serviceProgram;    // zlservice.exe
    std::wstring componentProgram;  // component.exe, recording every start
    std::wstring windowedProgram;   // windowed.exe
    std::wstring comServer32;       // comserver.dll of both bitnesses
    std::wstring comServer64;
    // Where the running stand-ins keep their records (empty: nowhere): the
    // tray program in "components.txt" (ZL_COMPONENT_RECORD), each windowed
    // program in "<image name>.txt" (ZL_WINDOWED_RECORD).
    std::wstring records;
};

// root is HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT or HKEY_CURRENT_USER (one
// tree in every view).
struct KeyItem {
    HKEY root;
    std::wstring path;
    win::RegView view;
};

struct ValueItem {
    KeyItem key;
    std::wstring name;  // empty: the key's default value
    DWORD type;         // REG_SZ, REG_EXPAND_SZ or REG_DWORD
    std::wstring text;  // REG_SZ and REG_EXPAND_SZ data
    DWORD number;       // REG_DWORD data
};

struct FileItem {
    std::wstring path;
    std::wstring copyFrom;  // empty: the file holds content
    std::string content;
};

// A service registered under name from the program (a file of the footprint),
// started when running is set; it is the suite's while it is still registered.
struct ServiceItem {
    std::wstring name;
    std::wstring program;
    bool running;
};

// A program (a file of the footprint) running with a window: started with
// these environment variables, and taken as started once the event named by
// the variable readyVariable is set. It is the suite's while it runs.
struct ProgramItem {
    std::wstring path;
    std::vector<std::pair<std::wstring, std::wstring>> environment;
    std::wstring readyVariable;
};

// A folder link (a Linux symbolic link under Wine) at link, pointing at target.
struct LinkItem {
    std::wstring link;
    std::wstring target;
};

// A registry link in HKEY_LOCAL_MACHINE's 64-bit view, leading to target (a
// native name, "\\Registry\\Machine\\...").
struct RegistryLinkItem {
    std::wstring path;
    std::wstring target;
};

// A user who is not logged on: the hive file in his profile folder, saved by
// the stager, holding the suite's keys and another product's (paths below the
// hive's root). His profile-list entry is laid as platform keys and planted
// values.
struct UserHiveItem {
    std::wstring profileFolder;
    std::vector<std::wstring> keys;
    std::vector<std::wstring> plantedKeys;  // each with the value "Owner"
};

// A shell link (.lnk) made through the shell's own link object.
struct ShortcutItem {
    std::wstring path;
    std::wstring target;
    std::wstring arguments;
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
    std::vector<ServiceItem> services;  // laid after the files (Services.cpp)
    std::vector<ProgramItem> programs;  // started after the services (Programs.cpp)

    // Another product's data inside the suite's shared keys and folders; it
    // must survive. Each planted key holds the value "Owner".
    std::vector<KeyItem> plantedKeys;
    std::vector<ValueItem> plantedValues;
    std::vector<FileItem> plantedFiles;
    std::vector<LinkItem> plantedLinks;  // from inside a suite folder to a non-empty planted folder

    // The suite's registry links (64-bit Windows): audited as links, never followed.
    std::vector<RegistryLinkItem> registryLinks;
    // Users who are not logged on, with the suite's keys in their hives.
    std::vector<UserHiveItem> userHives;
    // What the removal writes on purpose, with the content it writes: not a
    // change outside the suite; undone.
    std::vector<FileItem> removalWrites;
    // Shell links: the suite's (audited) and another product's (must survive,
    // still leading to their target). Engine: Shortcuts.cpp.
    std::vector<ShortcutItem> shortcuts;
    std::vector<ShortcutItem> plantedShortcuts;

    // Parts of the platform the testbed stands in for (Windows keeps them):
    // laid when missing, undone, never counted as the suite's.
    std::vector<KeyItem> platformKeys;
    std::vector<FileItem> platformFiles;

    // What a snapshot takes: registry trees (both views where there are two)
    // and folder trees.
    std::vector<std::pair<HKEY, std::wstring>> keyTrees;
    std::vector<std::wstring> folderTrees;

};

// The newer suite: four packages of the suite and the agent's package.
Footprint NewerSuite(const Sources& sources = {});
// The older managed suite, laid key by key and file by file.
Footprint OlderSuite(const OlderSources& sources = {});
// What the older suite's laid files and values hold, and what another
// product's planted among them hold.
inline constexpr char kOlderSuiteText[] = "the older suite's";
inline constexpr char kForeignText[] = "not the suite's";
// Its parts in the users' hives (the current user's and a logged-off user's),
// its service account's profile folder, the web-safety component, the Firefox components and the 64-bit registry
// links (OlderBrowserAndUsers.cpp).
void AddUsersAndBrowser(Footprint& suite, const OlderSources& sources);
// Its services, running tray programs, component uninstallers, scanners and
// COM servers (OlderComponents.cpp).
void AddComponents(Footprint& suite, const OlderSources& sources);

// Its registration leftovers, program groups and startup entries, installer
// temporary folders and the firewall generations (OlderLeftovers.cpp).
void AddLeftovers(Footprint& suite, const OlderSources& sources);

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
// The older suite's install folder: "<32-bit Program Files>\Zelmar\Managed Quellor".
std::wstring OlderInstallFolder();
// The registry views of this machine: both on 64-bit Windows, else the one.
std::vector<win::RegView> Views();
// On 32-bit Windows both views are the one tree.
win::RegView On(win::RegView view);

}  // namespace stage
