#pragma once
// The Netwarden web-safety component: its own uninstaller, its module
// registration and its registry traces.

#include "Registry.h"

class CLogFile;

// The component's registration, configuration of the suite being removed; one
// table, docs/configuration.md lists the same values.
struct NetwardenNames {
    // Its uninstall entry: when it opens, the component counts as installed.
    const wchar_t* uninstallKey;
    // The component key of the anti-virus product, with "UninstallString".
    const wchar_t* componentKey;
    // Below the program-files folder: the enterprise edition's folder (only
    // reported) and the anti-virus product's component folder.
    const wchar_t* enterpriseFolder;
    const wchar_t* componentFolder;
    // The component's subsystem module in its folder, unregistered in-process.
    const wchar_t* subsystemModule;
    // Deleted with their trees whether or not the component folder exists.
    const wchar_t* leftoverKeys[3];
};

constexpr NetwardenNames kNetwardenNames = {
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZelmarBrowserProtection",
    L"SOFTWARE\\Zelmar\\ManagedServices\\Agent\\Components\\BrowseProtection",
    L"\\Zelmar\\Netwarden Enterprise",
    L"\\Zelmar\\Managed Quellor\\BrowseProtection",
    L"nwSubSys.dll",
    {L"SOFTWARE\\Zelmar\\Netwarden Enterprise Plus", L"SOFTWARE\\Zelmar\\Netwarden Enterprise",
     L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZelmarBrowserProtection"},
};

// True when the component's uninstall entry opens for reading now.
bool NetwardenRegistered();

class netwardenCleanup {
public:
    // installed: whether the component is registered, asked of the registry
    // when the object is made unless the caller already knows.
    explicit netwardenCleanup(CLogFile& log, bool installed = NetwardenRegistered());

    // Runs the component's uninstaller as its registration stores it (the
    // component key's "UninstallString", else the uninstall entry's), then
    // its leftovers. The launcher's result; false when nothing was run.
    bool removeNW();

    CLogFile& Log() { return log_; }

private:
    CLogFile& log_;  // the removal sequence's run log, not owned
    bool installed_;
};

// Unregisters the component's module and deletes its component key when the
// anti-virus product's component folder exists; deletes the enterprise
// editions' keys and the uninstall entry in every case. The folders stay for
// the folder clean-up. True if that component folder existed.
bool RemoveNetwardenLeftovers(netwardenCleanup& cleanup);

// Removes root\key with its tree in the given view, logging the attempt and a
// success to log. Returns the deletion's Win32 code: 0 when removed,
// ERROR_FILE_NOT_FOUND when it was not there; an absent or empty key is
// refused and deletes nothing.
LONG RemoveCoreKey(const wchar_t* key, CLogFile& log, HKEY root, win::RegView view);
