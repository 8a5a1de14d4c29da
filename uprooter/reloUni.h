#pragma once
// The removal object of the older-suite path: its own log and options, and
// what component discovery finds (the suite's main key, its install folder,
// the search path before it was extended, the anti-virus flag).

#include "Handle.h"
#include "LogFile.h"

#include <string>

class reloUni {
public:
    reloUni();

    // Parses the process command line. Returns false if help was requested.
    bool logdataClobber();
    // The same on a given command line (as the process holds it).
    bool logdataClobber(const wchar_t* commandLine);

    bool CompleteCleanup() const { return completeCleanup_ != 0; }
    CLogFile& Log() { return log_; }

    // Runs every removal step of the older suite in its order; no step stops
    // the others.
    void removeProduct();

    // Component discovery: sets the install folder, opens the main key with
    // full access and logs the components registered. False, with nothing
    // logged, if the main key could not be opened.
    bool FindComponents();
    // Appends the suite's program folders to the process's "PATH", keeping
    // the old value (empty when it was not set).
    void ExtendSearchPath();
    // The old filter driver tool, the driver installer and the core
    // component's anti-virus uninstaller, then the core's leftovers.
    void RunComponentUninstallers();
    // The core component's folder as the registry records it for this
    // Windows's bitness. True if the value was read.
    bool GetSyscoreDir(std::wstring& path);
    // The core component's install cache below Common Files. True if the
    // Common Files folder was found.
    bool GetCoreCacheDir(std::wstring& path);

    // --- Folder clean-up (FolderCleanup.cpp) ---------------------------------
    // The shared "Zelmar" folders, the service account's profile folder and
    // the installer's temporary folders; reports nothing.
    void CleanMisDirectories();
    // Deletes folder's direct subfolders named in owned (a null-terminated
    // list, names compared without case); junction-like entries are skipped.
    // True only if nothing but owned subfolders and skipped entries was found.
    bool safeCleanFolder(const std::wstring& folder, const wchar_t* const* owned);
    // The installer's temporary "TVO????.TMP" folders and files in folder.
    void removeRogueTVOTmpFolders(const std::wstring& folder);
    void SmartCleanZelmarDataFolder();
    void SmartCleanZelmarProgramFolder();
    // ---------------------------------------------------------------------------
    // --- Browser extension clean-up ---
    // Deletes the suite's Firefox components (Firefox 1.5 or later) and writes
    // the marker that has Firefox register its components again.
    void RemoveFirefoxComponents();

    HKEY MainKey() const { return mainKey_.get(); }
    const std::wstring& MainKeyPath() const { return mainKeyPath_; }
    const std::wstring& InstallFolder() const { return installFolder_; }
    const std::wstring& SavedSearchPath() const { return savedSearchPath_; }
    bool AntiVirusFound() const { return antiVirus_ != 0; }

    // --- The e-mail and script scanners (Scanners.cpp) ---
    // Switches the scanners off; with the engine library of cores before 14.2
    // present, removes the e-mail and the script scanner.
    void RemoveOldScanners();
    // Restores the mail client's extension entry, deletes the e-mail scanner
    // library and the e-mail scanner keys.
    void uninstEmailScanner();
    // The registry transaction the scanner keys' new form is opened in (none:
    // plain opens, which is also what runs where Windows lacks the transacted open).
    HANDLE RegistryTransaction() const { return registryTransaction_; }
    void UseRegistryTransaction(HANDLE transaction) { registryTransaction_ = transaction; }
    // For the registration leftovers: the main key is closed before it is deleted.
    void CloseMainKey() { mainKey_.reset(); }
    // Unregisters the agent folder's user service programs, then removes the
    // suite's service account they ran under (NT family only).
    void UnregisterAgentFolder();
    // The agent's recorded menu entry (subfolder and link), kept by the
    // registration leftovers' step before it deletes the agent's key, for the
    // program groups' step after it; empty when none was recorded.
    void RememberMenuEntry(const std::wstring& subfolder, const std::wstring& link)
    {
        menuSubfolder_ = subfolder;
        menuLink_ = link;
    }
    const std::wstring& MenuSubfolder() const { return menuSubfolder_; }
    const std::wstring& MenuLink() const { return menuLink_; }

private:
    HANDLE registryTransaction_ = nullptr;  // not owned

    CLogFile log_;
    unsigned char completeCleanup_ = 0;  // product data logs are deleted as well
    win::Key mainKey_;                   // SOFTWARE\Zelmar\ManagedServices, open for the object's life
    std::wstring mainKeyPath_;
    std::wstring installFolder_;
    std::wstring savedSearchPath_;  // "PATH" before ExtendSearchPath
    std::wstring menuSubfolder_, menuLink_;
    unsigned char antiVirus_ = 0;   // the anti-virus component key exists
};
